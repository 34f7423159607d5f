/* A client of an installed Quorvex: the platform headers and IResize's generated declarations
 * from include/quorvex, the GUIDs and the runtime from lib. It loads the module named on the
 * command line (or QUORVEX_CONSUMER_MODULE), creates a Resize object through the module's class
 * factory, calls it through lpVtbl and prints "quality=100 version=TEXT". */
#include <stdio.h>

#include "Quorvex_h.h"

typedef HRESULT(STDAPICALLTYPE* GetClassObjectProc)(REFCLSID, REFIID, LPVOID*);

int main(int argc, char** argv) {
#ifdef QUORVEX_CONSUMER_MODULE
  const char* path = argc > 1 ? argv[1] : QUORVEX_CONSUMER_MODULE;
#else
  if (argc < 2) return 2;
  const char* path = argv[1];
#endif
  OLECHAR widePath[4096];
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, 4096) == 0) return 2;
  HMODULE module = LoadLibraryW(widePath);
  if (module == NULL) {
    fprintf(stderr, "cannot load %s\n", path);
    return 1;
  }
  GetClassObjectProc getClassObject =
      (GetClassObjectProc)(void (*)(void))GetProcAddress(module, "DllGetClassObject");
  IClassFactory* factory = NULL;
  IResize* resize = NULL;
  if (getClassObject == NULL ||
      FAILED(getClassObject(&CLSID_Resize, &IID_IClassFactory, (void**)&factory)) ||
      FAILED(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IResize, (void**)&resize))) {
    fprintf(stderr, "cannot create Quorvex.Resize\n");
    return 1;
  }
  LONG quality = 0;
  BSTR version = NULL;
  char versionText[256] = "";
  resize->lpVtbl->put_JPGQuality(resize, 120);
  resize->lpVtbl->get_JPGQuality(resize, &quality);
  resize->lpVtbl->get_Version(resize, &version);
  WideCharToMultiByte(CP_UTF8, 0, version, -1, versionText, sizeof versionText, NULL, NULL);
  printf("quality=%d version=%s\n", (int)quality, versionText);
  SysFreeString(version);
  resize->lpVtbl->Release(resize);
  factory->lpVtbl->Release(factory);
  FreeLibrary(module);
  return 0;
}
