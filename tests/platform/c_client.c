/* A C client of the platform: the headers compile as C, and every interface is called through
 * lpVtbl with the function-table layout of the C++ classes. Exits 0 when every check holds. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "component/quorvex_interface.h"
#include "platform/object_context.h"
#include "platform/winapi.h"

_Static_assert(offsetof(IResponseVtbl, put_ContentType) / sizeof(void*) == 10, "IResponse");
_Static_assert(offsetof(IResponseVtbl, put_Expires) / sizeof(void*) == 12, "IResponse");
_Static_assert(offsetof(IResponseVtbl, BinaryWrite) / sizeof(void*) == 21, "IResponse");
_Static_assert(offsetof(IResponseVtbl, Clear) / sizeof(void*) == 22, "IResponse");
_Static_assert(offsetof(ITypeInfoVtbl, Invoke) / sizeof(void*) == 11, "ITypeInfo");
_Static_assert(offsetof(ITypeLibVtbl, GetTypeInfoOfGuid) / sizeof(void*) == 6, "ITypeLib");
_Static_assert(offsetof(IDispatchVtbl, Invoke) / sizeof(void*) == 6, "IDispatch");
_Static_assert(sizeof(TYPEATTR) == 96 && sizeof(FUNCDESC) == 88, "x64 layouts");
_Static_assert(sizeof(EXCEPINFO) == 64 && sizeof(DISPPARAMS) == 24, "x64 layouts");

static int failures = 0;
#define CHECK(condition)                                              \
  do {                                                                \
    if (!(condition)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

static void Utf16(const char* text, OLECHAR* out, int size) {
  MultiByteToWideChar(CP_ACP, 0, text, -1, out, size);
}

static void SetDefault(const char* path, const char* value) {
  OLECHAR key[512], data[512];
  HKEY handle = NULL;
  Utf16(path, key, 512);
  Utf16(value, data, 512);
  CHECK(RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) ==
        ERROR_SUCCESS);
  CHECK(RegSetValueExW(handle, NULL, 0, REG_SZ, (const BYTE*)data,
                       (DWORD)((strlen(value) + 1) * sizeof(OLECHAR))) == ERROR_SUCCESS);
  RegCloseKey(handle);
}

static void ErrorInformation(void) {
  ICreateErrorInfo* create = NULL;
  IErrorInfo* info = NULL;
  IErrorInfo* got = NULL;
  BSTR text = NULL;
  static OLECHAR description[] = u"from C";
  CHECK(CreateErrorInfo(&create) == S_OK);
  CHECK(create->lpVtbl->SetDescription(create, description) == S_OK);
  CHECK(create->lpVtbl->QueryInterface(create, &IID_IErrorInfo, (void**)&info) == S_OK);
  CHECK(SetErrorInfo(0, info) == S_OK);
  CHECK(GetErrorInfo(0, &got) == S_OK && got == info);
  CHECK(got->lpVtbl->GetDescription(got, &text) == S_OK);
  CHECK(SysStringLen(text) == 6 && memcmp(text, description, 12) == 0);
  SysFreeString(text);
  got->lpVtbl->Release(got);
  info->lpVtbl->Release(info);
  create->lpVtbl->Release(create);
}

static void CreateAndInvoke(const char* server) {
  char directory[] = "/tmp/qv_c_client_XXXXXX";
  char registry[512];
  CLSID clsid;
  IDispatch* object = NULL;
  OLECHAR name[32];
  LPOLESTR names[1];
  DISPID id = 0;
  VARIANT result;
  DISPPARAMS none = {NULL, NULL, 0, 0};

  CHECK(mkdtemp(directory) != NULL);
  snprintf(registry, sizeof registry, "%s/registry", directory);
  setenv("QUORVEX_REGISTRY", registry, 1);
  SetDefault("Quorvex.Resize\\Clsid", "{77925133-6C73-401E-B954-9CDFD1BCB3BE}");
  SetDefault("CLSID\\{77925133-6C73-401E-B954-9CDFD1BCB3BE}\\InprocServer32", server);

  CHECK(CoInitialize(NULL) == S_OK);
  Utf16("Quorvex.Resize", name, 32);
  CHECK(CLSIDFromProgID(name, &clsid) == S_OK);
  CHECK(IsEqualCLSID(&clsid, &CLSID_Resize));
  CHECK(CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void**)&object) ==
        S_OK);
  if (object != NULL) {
    Utf16("Version", name, 32);
    names[0] = name;
    CHECK(object->lpVtbl->GetIDsOfNames(object, &IID_NULL, names, 1, 0x409, &id) == S_OK);
    CHECK(id == 18);
    VariantInit(&result);
    CHECK(object->lpVtbl->Invoke(object, id, &IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result,
                                 NULL, NULL) == S_OK);
    CHECK(V_VT(&result) == VT_BSTR && SysStringLen(V_BSTR(&result)) == 16);
    VariantClear(&result);
    object->lpVtbl->Release(object);
  }
  CoUninitialize();
  unlink(registry);
  snprintf(registry, sizeof registry, "%s/registry.lock", directory);
  unlink(registry);
  rmdir(directory);
}

static void NoContext(void) {
  IObjectContext* context = NULL;
  CHECK(CoGetObjectContext(&IID_IObjectContext, (void**)&context) == E_NOINTERFACE);
  CHECK(QvEnterObjectContext(NULL) == S_OK);
  CHECK(CoGetObjectContext(&IID_IObjectContext, (void**)&context) == S_OK);
  if (context != NULL) {
    CHECK(context->lpVtbl->IsInTransaction(context) == FALSE);
    context->lpVtbl->Release(context);
  }
  CHECK(QvLeaveObjectContext() == S_OK);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ErrorInformation();
  CreateAndInvoke(argv[1]);
  NoContext();
  if (failures == 0) printf("all checks passed\n");
  return failures == 0 ? 0 : 1;
}
