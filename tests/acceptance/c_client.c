/* An automation client written in C, as a compiled page host would be: it registers the
 * component module in a fresh registry, creates Resize by its ProgID and drives every IResize
 * member through the raw function table (obj->lpVtbl->Member) and by name through
 * IDispatch::Invoke, using only the functions the platform runtime exports and the module's
 * four entry points. Pictures are made by cjpeg from PPM files written here and read back with
 * djpeg. Prints "N passed, M failed" last and exits non-zero when anything failed.
 *
 * Usage: acceptance_c_client [module path]; the module built with the client by default. */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "component/quorvex_interface.h"
#include "platform/object_context.h"
#include "platform/winapi.h"
#include "quorvex_version.h"

#ifndef QUORVEX_MODULE_PATH
#error "QUORVEX_MODULE_PATH names the component module"
#endif

#define E_UNEXPECTED_CODE ((HRESULT)0x8000FFFF)

/* ---- checks ------------------------------------------------------------------------------ */

static int passed, failed;

static void Report(int ok, const char* file, int line, const char* format, ...) {
  va_list args;
  if (ok) {
    ++passed;
    return;
  }
  ++failed;
  fprintf(stderr, "%s:%d: ", file, line);
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

#define CHECK(condition) Report((condition) != 0, __FILE__, __LINE__, "%s", #condition)
#define CHECK_HR(actual, expected)                                                        \
  do {                                                                                    \
    const HRESULT got_ = (actual), want_ = (expected);                                    \
    Report(got_ == want_, __FILE__, __LINE__, "%s gave 0x%08X, expected 0x%08X", #actual, \
           (unsigned)got_, (unsigned)want_);                                              \
  } while (0)
#define CHECK_LONG(actual, expected)                                                            \
  do {                                                                                          \
    const long got_ = (long)(actual), want_ = (long)(expected);                                 \
    Report(got_ == want_, __FILE__, __LINE__, "%s is %ld, expected %ld", #actual, got_, want_); \
  } while (0)
#define CHECK_TEXT(actual, expected)                                                               \
  do {                                                                                             \
    const char* got_ = (actual);                                                                   \
    const char* want_ = (expected);                                                                \
    Report(strcmp(got_, want_) == 0, __FILE__, __LINE__, "%s is \"%s\", expected \"%s\"", #actual, \
           got_, want_);                                                                           \
  } while (0)

/* ---- text and values --------------------------------------------------------------------- */

static BSTR NewBstr(const char* text) {
  OLECHAR wide[1024];
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 1024);
  return length > 0 ? SysAllocStringLen(wide, (UINT)(length - 1)) : NULL;
}

/* The UTF-8 form of a string, in one of a few rotating buffers so two can be compared. */
static const char* Utf8(const OLECHAR* text, int length) {
  static char buffers[4][1024];
  static int next = 0;
  char* out = buffers[next++ % 4];
  int written = 0;
  if (text != NULL && length != 0)
    written = WideCharToMultiByte(CP_UTF8, 0, text, length, out, 1023, NULL, NULL);
  out[written > 0 ? written : 0] = '\0';
  return out;
}

static const char* BstrText(BSTR text) {
  return Utf8(text, text != NULL ? (int)SysStringLen(text) : 0);
}

static VARIANT LongArg(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

static VARIANT DoubleArg(double value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = value;
  return v;
}

static VARIANT TextArg(const char* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = NewBstr(text);
  return v;
}

static LONG AsLong(const VARIANT* value) {
  VARIANT converted;
  LONG result = -12345;
  VariantInit(&converted);
  if (SUCCEEDED(VariantChangeType(&converted, value, 0, VT_I4))) result = V_I4(&converted);
  VariantClear(&converted);
  return result;
}

/* ---- files ------------------------------------------------------------------------------- */

static char scratch[] = "/tmp/qv_acceptance_XXXXXX";

static const char* InScratch(const char* name) {
  static char buffers[4][600];
  static int next = 0;
  char* out = buffers[next++ % 4];
  snprintf(out, 600, "%s/%s", scratch, name);
  return out;
}

/* Colours of the four quadrants of the test picture (red, green, blue): top left, top right,
 * bottom left, bottom right. Solid areas survive JPEG compression nearly unchanged. */
static const unsigned char kQuadrant[4][3] = {
    {230, 20, 20}, {20, 200, 40}, {30, 40, 220}, {240, 230, 30}};

static int QuadrantOf(int x, int y, int width, int height) {
  return (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
}

/* A JPEG of the quadrant picture, written by cjpeg from a PPM made here. */
static const char* MakeJpeg(const char* name, int width, int height) {
  static char target[600];
  char source[600], command[1400];
  FILE* out;
  int x, y;
  snprintf(source, sizeof source, "%s.ppm", InScratch(name));
  snprintf(target, sizeof target, "%s", InScratch(name));
  out = fopen(source, "wb");
  if (out == NULL) return target;
  fprintf(out, "P6\n%d %d\n255\n", width, height);
  for (y = 0; y < height; ++y)
    for (x = 0; x < width; ++x) fwrite(kQuadrant[QuadrantOf(x, y, width, height)], 1, 3, out);
  fclose(out);
  snprintf(command, sizeof command, "cjpeg -quality 100 -outfile '%s' '%s'", target, source);
  CHECK(system(command) == 0);
  return target;
}

static unsigned char* ReadFile(const char* path, size_t* size) {
  FILE* in = fopen(path, "rb");
  unsigned char* bytes;
  long length;
  *size = 0;
  if (in == NULL) return NULL;
  fseek(in, 0, SEEK_END);
  length = ftell(in);
  fseek(in, 0, SEEK_SET);
  bytes = malloc(length > 0 ? (size_t)length : 1);
  if (bytes != NULL && length > 0) *size = fread(bytes, 1, (size_t)length, in);
  fclose(in);
  return bytes;
}

static int FileExists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

/* A picture decoded by djpeg: width, height and 3 bytes per pixel, top row first. */
typedef struct Picture {
  int width, height;
  unsigned char* rgb;
} Picture;

static Picture Decode(const char* jpeg) {
  Picture picture = {0, 0, NULL};
  char ppm[600], command[1400];
  FILE* in;
  int maxval = 0;
  snprintf(ppm, sizeof ppm, "%s.decoded.ppm", jpeg);
  snprintf(command, sizeof command, "djpeg -pnm -outfile '%s' '%s'", ppm, jpeg);
  if (system(command) != 0) return picture;
  in = fopen(ppm, "rb");
  if (in == NULL) return picture;
  if (fscanf(in, "P6 %d %d %d", &picture.width, &picture.height, &maxval) == 3 &&
      fgetc(in) != EOF && picture.width > 0 && picture.height > 0) {
    const size_t size = (size_t)picture.width * (size_t)picture.height * 3;
    picture.rgb = malloc(size);
    if (picture.rgb != NULL && fread(picture.rgb, 1, size, in) != size) {
      free(picture.rgb);
      picture.rgb = NULL;
    }
  }
  fclose(in);
  unlink(ppm);
  return picture;
}

/* True when the pixel at (x, y) is within a JPEG's tolerance of the colour. */
static int PixelNear(const Picture* picture, int x, int y, const unsigned char* rgb) {
  const unsigned char* p;
  int i;
  if (picture->rgb == NULL || x < 0 || y < 0 || x >= picture->width || y >= picture->height)
    return 0;
  p = picture->rgb + ((size_t)y * (size_t)picture->width + (size_t)x) * 3;
  for (i = 0; i < 3; ++i)
    if (abs((int)p[i] - (int)rgb[i]) > 24) return 0;
  return 1;
}

/* ---- the module and the object ----------------------------------------------------------- */

typedef HRESULT(STDAPICALLTYPE* GetClassObjectProc)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* PlainProc)(void);

static HMODULE module;
static GetClassObjectProc getClassObject;
static PlainProc canUnloadNow, registerServer, unregisterServer;

/* Through void (*)(void), the generic function pointer type: the export's true type is known
 * only here. */
#define EXPORT_OF(type, name) ((type)(void (*)(void))GetProcAddress(module, name))

static int LoadModule(const char* path) {
  OLECHAR wide[600];
  MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 600);
  module = LoadLibraryW(wide);
  if (module == NULL) return 0;
  getClassObject = EXPORT_OF(GetClassObjectProc, "DllGetClassObject");
  canUnloadNow = EXPORT_OF(PlainProc, "DllCanUnloadNow");
  registerServer = EXPORT_OF(PlainProc, "DllRegisterServer");
  unregisterServer = EXPORT_OF(PlainProc, "DllUnregisterServer");
  return getClassObject != NULL && canUnloadNow != NULL && registerServer != NULL &&
         unregisterServer != NULL;
}

static HRESULT ClassFromProgID(CLSID* clsid) {
  return CLSIDFromProgID(u"Quorvex.Resize", clsid);
}

/* A new object, created by ProgID as a script host creates it. */
static IResize* NewResize(void) {
  CLSID clsid;
  IResize* resize = NULL;
  CHECK_HR(ClassFromProgID(&clsid), S_OK);
  CHECK_HR(CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IResize, (void**)&resize),
           S_OK);
  return resize;
}

static void Release(IResize* resize) {
  if (resize != NULL) resize->lpVtbl->Release(resize);
}

static LONG WidthOf(IResize* resize) {
  LONG value = -1;
  CHECK_HR(resize->lpVtbl->get_Width(resize, &value), S_OK);
  return value;
}

static LONG HeightOf(IResize* resize) {
  LONG value = -1;
  CHECK_HR(resize->lpVtbl->get_Height(resize, &value), S_OK);
  return value;
}

static HRESULT LoadFile(IResize* resize, const char* path) {
  BSTR name = NewBstr(path);
  const HRESULT result = resize->lpVtbl->LoadFromFile(resize, name);
  SysFreeString(name);
  return result;
}

static HRESULT SaveFile(IResize* resize, const char* path) {
  BSTR name = NewBstr(path);
  const HRESULT result = resize->lpVtbl->SaveToFile(resize, name);
  SysFreeString(name);
  return result;
}

/* The calling thread's error information, as a script host reads it after a failure. */
typedef struct ErrorDetails {
  int present;
  GUID guid;
  char source[256], description[512];
  DWORD helpContext;
} ErrorDetails;

static ErrorDetails ThreadError(void) {
  ErrorDetails details;
  IErrorInfo* info = NULL;
  BSTR text = NULL;
  memset(&details, 0, sizeof details);
  details.helpContext = 999;
  if (GetErrorInfo(0, &info) != S_OK || info == NULL) return details;
  details.present = 1;
  info->lpVtbl->GetGUID(info, &details.guid);
  info->lpVtbl->GetSource(info, &text);
  snprintf(details.source, sizeof details.source, "%s", BstrText(text));
  SysFreeString(text);
  text = NULL;
  info->lpVtbl->GetDescription(info, &text);
  snprintf(details.description, sizeof details.description, "%s", BstrText(text));
  SysFreeString(text);
  info->lpVtbl->GetHelpContext(info, &details.helpContext);
  info->lpVtbl->Release(info);
  return details;
}

/* What every failing member publishes: the IResize GUID, the ProgID as source, help context 0
 * and the member's message. */
static void CheckThreadError(const char* description, int line) {
  const ErrorDetails error = ThreadError();
  Report(error.present, __FILE__, line, "no error information");
  Report(IsEqualGUID(&error.guid, &IID_IResize), __FILE__, line, "error GUID is not IID_IResize");
  Report(strcmp(error.source, "Quorvex.Resize") == 0, __FILE__, line, "source \"%s\"",
         error.source);
  Report(strcmp(error.description, description) == 0, __FILE__, line,
         "description \"%s\", expected \"%s\"", error.description, description);
  Report(error.helpContext == 0, __FILE__, line, "help context %u", (unsigned)error.helpContext);
}
#define CHECK_ERROR(description) CheckThreadError(description, __LINE__)

/* ---- late binding ------------------------------------------------------------------------ */

static DISPID IdOf(IResize* resize, const char* name) {
  OLECHAR wide[64];
  LPOLESTR names[1];
  DISPID id = -99;
  HRESULT result;
  MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 64);
  names[0] = wide;
  result = resize->lpVtbl->GetIDsOfNames(resize, &IID_NULL, names, 1, 0x409, &id);
  return SUCCEEDED(result) ? id : result;
}

/* Calls a member by name through IDispatch::Invoke with its arguments in natural order (they
 * are reversed for DISPPARAMS); a property put passes its value as the named argument. The
 * arguments are cleared afterwards. */
static HRESULT CallByName(IResize* resize, const char* name, WORD flags, VARIANT* args, UINT count,
                          VARIANT* result, EXCEPINFO* exception) {
  IDispatch* dispatch = NULL;
  VARIANT reversed[4];
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params;
  HRESULT hr;
  UINT i, argError = 0;
  const int put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  const DISPID id = IdOf(resize, name);
  for (i = 0; i < count && i < 4; ++i) reversed[i] = args[count - 1 - i];
  params.rgvarg = count > 0 ? reversed : NULL;
  params.rgdispidNamedArgs = put ? &named : NULL;
  params.cArgs = count;
  params.cNamedArgs = put ? 1 : 0;
  if (result != NULL) VariantInit(result);
  if (exception != NULL) memset(exception, 0, sizeof *exception);
  hr = resize->lpVtbl->QueryInterface(resize, &IID_IDispatch, (void**)&dispatch);
  if (SUCCEEDED(hr)) {
    hr = dispatch->lpVtbl->Invoke(dispatch, id, &IID_NULL, 0x409, flags, &params, result, exception,
                                  &argError);
    dispatch->lpVtbl->Release(dispatch);
  }
  for (i = 0; i < count; ++i) VariantClear(&args[i]);
  return hr;
}

static HRESULT Method(IResize* resize, const char* name, VARIANT* args, UINT count) {
  return CallByName(resize, name, DISPATCH_METHOD, args, count, NULL, NULL);
}

static HRESULT Put(IResize* resize, const char* name, WORD flag, VARIANT value) {
  return CallByName(resize, name, flag, &value, 1, NULL, NULL);
}

/* A property read by name, converted to a 32-bit integer. */
static LONG GetLong(IResize* resize, const char* name) {
  VARIANT value;
  LONG result = -12345;
  if (CallByName(resize, name, DISPATCH_PROPERTYGET, NULL, 0, &value, NULL) == S_OK)
    result = AsLong(&value);
  VariantClear(&value);
  return result;
}

static void FreeException(EXCEPINFO* exception) {
  SysFreeString(exception->bstrSource);
  SysFreeString(exception->bstrDescription);
  SysFreeString(exception->bstrHelpFile);
  memset(exception, 0, sizeof *exception);
}

/* ---- byte arrays ------------------------------------------------------------------------- */

typedef struct Bytes {
  unsigned char* data;
  size_t size;
  LONG lower, upper;
} Bytes;

/* The bytes of a VT_ARRAY | VT_UI1 value, with its bounds. */
static Bytes ArrayBytes(const VARIANT* value) {
  Bytes bytes = {NULL, 0, 0, -1};
  SAFEARRAY* array;
  void* data = NULL;
  if (V_VT(value) != (VT_ARRAY | VT_UI1) || V_ARRAY(value) == NULL) return bytes;
  array = V_ARRAY(value);
  if (SafeArrayGetDim(array) != 1) return bytes;
  SafeArrayGetLBound(array, 1, &bytes.lower);
  SafeArrayGetUBound(array, 1, &bytes.upper);
  bytes.size = (size_t)(bytes.upper - bytes.lower + 1);
  bytes.data = malloc(bytes.size > 0 ? bytes.size : 1);
  if (bytes.data != NULL && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    memcpy(bytes.data, data, bytes.size);
    SafeArrayUnaccessData(array);
  }
  return bytes;
}

static Bytes VariantOutBytes(IResize* resize) {
  VARIANT out;
  Bytes bytes;
  VariantInit(&out);
  CHECK_HR(resize->lpVtbl->get_VariantOut(resize, &out), S_OK);
  bytes = ArrayBytes(&out);
  VariantClear(&out);
  return bytes;
}

/* A byte array holding the bytes, with the given lower bound. */
static VARIANT ByteArray(const unsigned char* data, size_t size, LONG lower) {
  VARIANT v;
  void* target = NULL;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, lower, (ULONG)size);
  if (V_ARRAY(&v) != NULL && SUCCEEDED(SafeArrayAccessData(V_ARRAY(&v), &target))) {
    memcpy(target, data, size);
    SafeArrayUnaccessData(V_ARRAY(&v));
  }
  return v;
}

/* ---- a web response in C ----------------------------------------------------------------- */

/* A sanitizer build checks the dynamic C++ type of every object that C++ code calls through an
 * interface; an object implemented in C has none, so the response below is left out there and
 * StreamImage is driven only through its failures (the C++ tests cover its success there). */
#ifndef QUORVEX_CHECKS_DYNAMIC_TYPES

typedef struct TestResponse {
  IResponse iface; /* first, so the interface pointer is the object */
  LONG references;
  char calls[8][48];
  int callCount;
  unsigned char* body;
  size_t bodySize;
  LONG bodyLower;
  const char* failCall; /* the call to fail, or NULL */
  HRESULT failCode;
} TestResponse;

static TestResponse* ResponseOf(IResponse* self) {
  return (TestResponse*)self;
}

static HRESULT STDMETHODCALLTYPE ResponseQueryInterface(IResponse* self, REFIID iid,
                                                        void** object) {
  if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) ||
      IsEqualIID(iid, &IID_IResponse)) {
    *object = self;
    self->lpVtbl->AddRef(self);
    return S_OK;
  }
  *object = NULL;
  return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE ResponseAddRef(IResponse* self) {
  return (ULONG)++ResponseOf(self)->references;
}

static ULONG STDMETHODCALLTYPE ResponseRelease(IResponse* self) {
  return (ULONG)--ResponseOf(self)->references;
}

/* Records the call; when it is the one to fail, publishes error information and fails. */
static HRESULT Record(IResponse* self, const char* call) {
  TestResponse* response = ResponseOf(self);
  ICreateErrorInfo* create = NULL;
  IErrorInfo* info = NULL;
  if (response->callCount < 8)
    snprintf(response->calls[response->callCount++], sizeof response->calls[0], "%s", call);
  if (response->failCall == NULL || strncmp(call, response->failCall, strlen(response->failCall)))
    return S_OK;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    BSTR description = NewBstr("The client has gone away. ");
    create->lpVtbl->SetDescription(create, description);
    SysFreeString(description);
    if (SUCCEEDED(create->lpVtbl->QueryInterface(create, &IID_IErrorInfo, (void**)&info))) {
      SetErrorInfo(0, info);
      info->lpVtbl->Release(info);
    }
    create->lpVtbl->Release(create);
  }
  return response->failCode;
}

static HRESULT STDMETHODCALLTYPE ResponsePutContentType(IResponse* self, BSTR type) {
  char call[48];
  snprintf(call, sizeof call, "ContentType=%s", BstrText(type));
  return Record(self, call);
}

static HRESULT STDMETHODCALLTYPE ResponsePutExpires(IResponse* self, long minutes) {
  char call[48];
  snprintf(call, sizeof call, "Expires=%ld", minutes);
  return Record(self, call);
}

static HRESULT STDMETHODCALLTYPE ResponseClear(IResponse* self) {
  return Record(self, "Clear");
}

static HRESULT STDMETHODCALLTYPE ResponseBinaryWrite(IResponse* self, VARIANT input) {
  TestResponse* response = ResponseOf(self);
  const Bytes bytes = ArrayBytes(&input);
  free(response->body);
  response->body = bytes.data;
  response->bodySize = bytes.size;
  response->bodyLower = bytes.lower;
  return Record(self, "BinaryWrite");
}

/* Members the component never calls stay empty. */
static const IResponseVtbl kResponseVtbl = {
    .QueryInterface = ResponseQueryInterface,
    .AddRef = ResponseAddRef,
    .Release = ResponseRelease,
    .put_ContentType = ResponsePutContentType,
    .put_Expires = ResponsePutExpires,
    .BinaryWrite = ResponseBinaryWrite,
    .Clear = ResponseClear,
};

static void InitResponse(TestResponse* response) {
  memset(response, 0, sizeof *response);
  response->iface.lpVtbl = &kResponseVtbl;
  response->references = 1;
}

#endif

/* ---- the checks -------------------------------------------------------------------------- */

static void Registration(void) {
  CLSID clsid;
  LPOLESTR progId = NULL;
  CHECK_HR(ClassFromProgID(&clsid), CO_E_CLASSSTRING);
  CHECK_HR(unregisterServer(), S_OK); /* never registered */
  CHECK_HR(registerServer(), S_OK);
  CHECK_HR(ClassFromProgID(&clsid), S_OK);
  CHECK(IsEqualCLSID(&clsid, &CLSID_Resize));
  CHECK_HR(ProgIDFromCLSID(&CLSID_Resize, &progId), S_OK);
  CHECK_TEXT(Utf8(progId, -1), "Quorvex.Resize");
  CoTaskMemFree(progId);
}

static void Defaults(void) {
  IResize* resize = NewResize();
  LONG value = -1;
  VARIANT_BOOL flag = 1;
  OLE_COLOR colour = 0;
  BSTR version = NULL;
  VARIANT result;
  if (resize == NULL) return;
  CHECK_LONG(WidthOf(resize), 0);
  CHECK_LONG(HeightOf(resize), 0);
  CHECK_HR(resize->lpVtbl->get_DPI(resize, &value), S_OK);
  CHECK_LONG(value, 0);
  CHECK_HR(resize->lpVtbl->get_JPGQuality(resize, &value), S_OK);
  CHECK_LONG(value, 90);
  CHECK_HR(resize->lpVtbl->get_GrayScale(resize, &flag), S_OK);
  CHECK_LONG(flag, 0);
  flag = 1;
  CHECK_HR(resize->lpVtbl->get_GreyScale(resize, &flag), S_OK);
  CHECK_LONG(flag, 0);
  CHECK_HR(resize->lpVtbl->get_BackgroundColor(resize, &colour), S_OK);
  CHECK_LONG(colour, 0xFFFFFF);
  CHECK_HR(resize->lpVtbl->get_Version(resize, &version), S_OK);
  CHECK_TEXT(BstrText(version), QUORVEX_VERSION_TEXT);
  SysFreeString(version);

  /* The same through late binding, by name. */
  CHECK_LONG(GetLong(resize, "Width"), 0);
  CHECK_LONG(GetLong(resize, "Height"), 0);
  CHECK_LONG(GetLong(resize, "DPI"), 0);
  CHECK_LONG(GetLong(resize, "JPGQuality"), 90);
  CHECK_LONG(GetLong(resize, "GrayScale"), 0);
  CHECK_LONG(GetLong(resize, "GreyScale"), 0);
  CHECK_LONG(GetLong(resize, "BackgroundColor"), 0xFFFFFF);
  CHECK_HR(CallByName(resize, "Version", DISPATCH_PROPERTYGET, NULL, 0, &result, NULL), S_OK);
  CHECK(V_VT(&result) == VT_BSTR);
  if (V_VT(&result) == VT_BSTR) CHECK_TEXT(BstrText(V_BSTR(&result)), QUORVEX_VERSION_TEXT);
  VariantClear(&result);
  Release(resize);
}

static void DispatchSurface(void) {
  static const struct {
    const char* name;
    DISPID id;
  } kMembers[] = {{"Width", 1},
                  {"Height", 2},
                  {"ResizeImage", 3},
                  {"ScaleImage", 4},
                  {"ResizeBox", 5},
                  {"RotateImage", 6},
                  {"CropImage", 7},
                  {"GrayScale", 8},
                  {"LoadFromFile", 9},
                  {"SaveToFile", 10},
                  {"JPGQuality", 11},
                  {"VariantIn", 12},
                  {"VariantOut", 13},
                  {"StreamImage", 14},
                  {"FlipHorizontal", 15},
                  {"FlipVertical", 16},
                  {"DPI", 17},
                  {"Version", 18},
                  {"BackgroundColor", 19},
                  {"GreyScale", 20},
                  {"width", 1},
                  {"GREYSCALE", 20},
                  {"Resize", DISP_E_UNKNOWNNAME}};
  IResize* resize = NewResize();
  ITypeInfo* info = NULL;
  ISupportErrorInfo* support = NULL;
  UINT count = 0;
  size_t i;
  if (resize == NULL) return;
  for (i = 0; i < sizeof kMembers / sizeof kMembers[0]; ++i)
    Report(IdOf(resize, kMembers[i].name) == kMembers[i].id, __FILE__, __LINE__,
           "%s has dispatch identifier %ld, expected %ld", kMembers[i].name,
           (long)IdOf(resize, kMembers[i].name), (long)kMembers[i].id);
  CHECK_HR(resize->lpVtbl->GetTypeInfoCount(resize, &count), S_OK);
  CHECK_LONG(count, 1);
  CHECK_HR(resize->lpVtbl->GetTypeInfo(resize, 1, 0, &info), DISP_E_BADINDEX);
  CHECK(info == NULL);
  CHECK_HR(resize->lpVtbl->GetTypeInfo(resize, 0, 0, &info), S_OK);
  if (info != NULL) info->lpVtbl->Release(info);
  CHECK_HR(resize->lpVtbl->QueryInterface(resize, &IID_ISupportErrorInfo, (void**)&support), S_OK);
  if (support != NULL) {
    CHECK_HR(support->lpVtbl->InterfaceSupportsErrorInfo(support, &IID_IResize), S_OK);
    CHECK_HR(support->lpVtbl->InterfaceSupportsErrorInfo(support, &IID_IClassFactory), S_FALSE);
    support->lpVtbl->Release(support);
  }
  Release(resize);
}

static void Clamping(void) {
  IResize* resize = NewResize();
  LONG value = -1;
  OLE_COLOR colour = 0;
  if (resize == NULL) return;
  CHECK_HR(resize->lpVtbl->put_JPGQuality(resize, 150), S_OK);
  resize->lpVtbl->get_JPGQuality(resize, &value);
  CHECK_LONG(value, 100);
  CHECK_HR(resize->lpVtbl->put_JPGQuality(resize, -5), S_OK);
  resize->lpVtbl->get_JPGQuality(resize, &value);
  CHECK_LONG(value, 0);
  CHECK_HR(resize->lpVtbl->put_DPI(resize, 70000), S_OK);
  resize->lpVtbl->get_DPI(resize, &value);
  CHECK_LONG(value, 65535);
  CHECK_HR(resize->lpVtbl->put_DPI(resize, -1), S_OK);
  resize->lpVtbl->get_DPI(resize, &value);
  CHECK_LONG(value, 0);
  CHECK_HR(resize->lpVtbl->put_BackgroundColor(resize, 0xFF123456u), S_OK);
  resize->lpVtbl->get_BackgroundColor(resize, &colour);
  CHECK(colour == 0xFF123456u); /* stored as given, never validated */

  /* By name: both put flags reach the put, and the value is clamped the same way. */
  CHECK_HR(Put(resize, "JPGQuality", DISPATCH_PROPERTYPUT, LongArg(200)), S_OK);
  CHECK_LONG(GetLong(resize, "JPGQuality"), 100);
  CHECK_HR(Put(resize, "JPGQuality", DISPATCH_PROPERTYPUTREF, LongArg(-3)), S_OK);
  CHECK_LONG(GetLong(resize, "JPGQuality"), 0);
  CHECK_HR(Put(resize, "DPI", DISPATCH_PROPERTYPUT, TextArg("300")), S_OK);
  CHECK_LONG(GetLong(resize, "DPI"), 300);
  CHECK_HR(Put(resize, "DPI", DISPATCH_PROPERTYPUT, DoubleArg(1e6)), S_OK);
  CHECK_LONG(GetLong(resize, "DPI"), 65535);
  CHECK_HR(Put(resize, "BackgroundColor", DISPATCH_PROPERTYPUT, LongArg(0x00FF00)), S_OK);
  CHECK_LONG(GetLong(resize, "BackgroundColor"), 0x00FF00);
  {
    VARIANT value50 = LongArg(50);
    CHECK_HR(Method(resize, "JPGQuality", &value50, 1), DISP_E_MEMBERNOTFOUND);
  }
  CHECK_LONG(GetLong(resize, "JPGQuality"), 0); /* only a property put reaches the put */
  Release(resize);
}

static void GrayScaleAliasing(void) {
  IResize* resize = NewResize();
  VARIANT_BOOL gray = 0, grey = 0;
  VARIANT truth;
  if (resize == NULL) return;
  CHECK_HR(resize->lpVtbl->put_GreyScale(resize, 7), S_OK);
  resize->lpVtbl->get_GrayScale(resize, &gray);
  resize->lpVtbl->get_GreyScale(resize, &grey);
  CHECK_LONG(gray, -1);
  CHECK_LONG(grey, -1);
  CHECK_HR(resize->lpVtbl->put_GrayScale(resize, 0), S_OK);
  resize->lpVtbl->get_GreyScale(resize, &grey);
  CHECK_LONG(grey, 0);
  CHECK_HR(resize->lpVtbl->put_GrayScale(resize, 1), S_OK);
  resize->lpVtbl->get_GreyScale(resize, &grey);
  CHECK_LONG(grey, -1);

  /* By name, with a text that converts to a Boolean. */
  CHECK_HR(Put(resize, "GrayScale", DISPATCH_PROPERTYPUT, LongArg(0)), S_OK);
  CHECK_LONG(GetLong(resize, "GreyScale"), 0);
  VariantInit(&truth);
  V_VT(&truth) = VT_BOOL;
  V_BOOL(&truth) = VARIANT_TRUE;
  CHECK_HR(Put(resize, "GreyScale", DISPATCH_PROPERTYPUT, truth), S_OK);
  CHECK_LONG(GetLong(resize, "GrayScale"), -1);
  CHECK_HR(Put(resize, "GreyScale", DISPATCH_PROPERTYPUT, TextArg("False")), S_OK);
  CHECK_LONG(GetLong(resize, "GrayScale"), 0);
  Release(resize);
}

static void ErrorInformation(void) {
  IResize* resize = NewResize();
  EXCEPINFO exception;
  VARIANT name;
  const char* target = InScratch("never-written.jpg");
  if (resize == NULL) return;
  CHECK_HR(SaveFile(resize, target), E_UNEXPECTED_CODE);
  CHECK_ERROR("No image loaded.");
  CHECK(!FileExists(target));
  CHECK_HR(LoadFile(resize, InScratch("missing.jpg")), E_UNEXPECTED_CODE);
  CHECK_ERROR("File not found or permission incorrect.");
  CHECK_HR(LoadFile(resize, scratch), E_UNEXPECTED_CODE); /* a directory */
  CHECK_ERROR("File not found or permission incorrect.");

  /* Late bound, the same failure arrives as DISP_E_EXCEPTION with the details in EXCEPINFO. */
  name = TextArg(target);
  CHECK_HR(CallByName(resize, "SaveToFile", DISPATCH_METHOD, &name, 1, NULL, &exception),
           DISP_E_EXCEPTION);
  CHECK_HR(exception.scode, E_UNEXPECTED_CODE);
  CHECK_TEXT(BstrText(exception.bstrSource), "Quorvex.Resize");
  CHECK_TEXT(BstrText(exception.bstrDescription), "No image loaded.");
  CHECK_LONG(exception.dwHelpContext, 0);
  FreeException(&exception);
  CHECK(!FileExists(target));

  /* A member that succeeds afterwards leaves the object usable. */
  CHECK_LONG(WidthOf(resize), 0);
  Release(resize);
}

static void LoadingAndOutput(void) {
  const char* photo = MakeJpeg("quadrants.jpg", 64, 32);
  char photoPath[600];
  IResize* resize = NewResize();
  IResize* copy = NewResize();
  Bytes out, saved, byName;
  EXCEPINFO exception;
  size_t savedSize = 0;
  VARIANT arg, result, inner;
  FILE* text;
  if (resize == NULL || copy == NULL) return;
  snprintf(photoPath, sizeof photoPath, "%s", photo);

  CHECK_HR(LoadFile(resize, photoPath), S_OK);
  CHECK_LONG(WidthOf(resize), 64);
  CHECK_LONG(HeightOf(resize), 32);

  /* VariantOut: bounds 1..N, a JPEG start-of-image first. */
  VariantInit(&result);
  CHECK_HR(resize->lpVtbl->get_VariantOut(resize, &result), S_OK);
  CHECK(V_VT(&result) == (VT_ARRAY | VT_UI1));
  if (V_VT(&result) == (VT_ARRAY | VT_UI1)) {
    LONG index = 1;
    BYTE first = 0, second = 0;
    CHECK_LONG(SafeArrayGetDim(V_ARRAY(&result)), 1);
    CHECK_HR(SafeArrayGetElement(V_ARRAY(&result), &index, &first), S_OK);
    index = 2;
    CHECK_HR(SafeArrayGetElement(V_ARRAY(&result), &index, &second), S_OK);
    CHECK_LONG(first, 0xFF);
    CHECK_LONG(second, 0xD8);
    index = 0;
    CHECK_HR(SafeArrayGetElement(V_ARRAY(&result), &index, &first), DISP_E_BADINDEX);
  }
  out = ArrayBytes(&result);
  VariantClear(&result);
  CHECK_LONG(out.lower, 1);
  CHECK_LONG(out.upper, (long)out.size);
  CHECK(out.size > 20);

  /* SaveToFile writes the same encoding. */
  CHECK_HR(SaveFile(resize, InScratch("saved.jpg")), S_OK);
  saved.data = ReadFile(InScratch("saved.jpg"), &savedSize);
  saved.size = savedSize;
  CHECK(saved.size == out.size && saved.data != NULL && out.data != NULL &&
        memcmp(saved.data, out.data, out.size) == 0);
  free(saved.data);

  /* By name: VariantOut through Invoke gives the same array. */
  CHECK_HR(CallByName(resize, "VariantOut", DISPATCH_PROPERTYGET, NULL, 0, &result, NULL), S_OK);
  byName = ArrayBytes(&result);
  VariantClear(&result);
  CHECK(byName.size == out.size && byName.lower == 1 && byName.data != NULL && out.data != NULL &&
        memcmp(byName.data, out.data, out.size) == 0);
  free(byName.data);

  /* VariantIn takes the bytes with lower bound 0 and gives the same image. */
  if (out.data != NULL) {
    CHECK_HR(copy->lpVtbl->VariantIn(copy, arg = ByteArray(out.data, out.size, 0)), S_OK);
    VariantClear(&arg);
    CHECK_LONG(WidthOf(copy), 64);
    CHECK_LONG(HeightOf(copy), 32);
    /* By name, as a reference to a VARIANT that holds the array. */
    inner = ByteArray(out.data, out.size, 5);
    VariantInit(&arg);
    V_VT(&arg) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arg) = &inner;
    CHECK_HR(copy->lpVtbl->ScaleImage(copy, 50), S_OK);
    CHECK_HR(Method(copy, "VariantIn", &arg, 1), S_OK);
    VariantClear(&inner);
    CHECK_LONG(WidthOf(copy), 64);
    CHECK_LONG(HeightOf(copy), 32);
  }

  /* VariantIn of what is not a byte array, or not a JPEG. */
  CHECK_HR(copy->lpVtbl->VariantIn(copy, arg = TextArg("not an array")), E_UNEXPECTED_CODE);
  VariantClear(&arg);
  CHECK_ERROR("Invalid argument");
  CHECK_HR(copy->lpVtbl->VariantIn(copy, LongArg(42)), E_UNEXPECTED_CODE);
  CHECK_ERROR("Invalid argument");
  {
    static const unsigned char kNotJpeg[] = "GIF89a, not a JPEG at all";
    CHECK_HR(copy->lpVtbl->VariantIn(copy, arg = ByteArray(kNotJpeg, sizeof kNotJpeg, 1)),
             E_UNEXPECTED_CODE);
    VariantClear(&arg);
    CHECK_ERROR("VariantIn has failed to read an image.");
    arg = ByteArray(kNotJpeg, sizeof kNotJpeg, 0);
    CHECK_HR(CallByName(copy, "VariantIn", DISPATCH_METHOD, &arg, 1, NULL, &exception),
             DISP_E_EXCEPTION);
    CHECK_HR(exception.scode, E_UNEXPECTED_CODE);
    CHECK_TEXT(BstrText(exception.bstrDescription), "VariantIn has failed to read an image.");
    FreeException(&exception);
  }
  CHECK_LONG(WidthOf(copy), 64); /* the image stays */

  /* A text file named .jpg is an invalid file, and the previous image stays. */
  text = fopen(InScratch("notes.jpg"), "w");
  if (text != NULL) {
    fputs("just some words\n", text);
    fclose(text);
  }
  CHECK_HR(LoadFile(resize, InScratch("notes.jpg")), E_UNEXPECTED_CODE);
  CHECK_ERROR("Invalid file.");
  CHECK_LONG(WidthOf(resize), 64);
  CHECK_LONG(HeightOf(resize), 32);

  /* LoadFromFile and SaveToFile by name. */
  arg = TextArg(photoPath);
  CHECK_HR(Method(copy, "LoadFromFile", &arg, 1), S_OK);
  arg = TextArg(InScratch("by-name.jpg"));
  CHECK_HR(Method(copy, "SaveToFile", &arg, 1), S_OK);
  CHECK(FileExists(InScratch("by-name.jpg")));

  /* A missing directory: the message carries the name as given. */
  CHECK_HR(SaveFile(resize, InScratch("no-such-dir/x.jpg")), E_UNEXPECTED_CODE);
  {
    char expected[700];
    snprintf(expected, sizeof expected, "Cannot write file: %s", InScratch("no-such-dir/x.jpg"));
    CHECK_ERROR(expected);
  }
  free(out.data);
  Release(copy);
  Release(resize);
}

/* Reloads the picture and checks its size, so each transform starts from the same image. */
static void Reload(IResize* resize, const char* path, LONG width, LONG height) {
  CHECK_HR(LoadFile(resize, path), S_OK);
  CHECK_LONG(WidthOf(resize), width);
  CHECK_LONG(HeightOf(resize), height);
}

#define CHECK_SIZE(resize, width, height)   \
  do {                                      \
    CHECK_LONG(WidthOf(resize), (width));   \
    CHECK_LONG(HeightOf(resize), (height)); \
  } while (0)

static void Transforms(void) {
  char large[600], box[600], even[600], odd[600], small[600];
  IResize* resize = NewResize();
  VARIANT args[4];
  if (resize == NULL) return;
  snprintf(large, sizeof large, "%s", MakeJpeg("1000x750.jpg", 1000, 750));
  snprintf(box, sizeof box, "%s", MakeJpeg("640x480.jpg", 640, 480));
  snprintf(even, sizeof even, "%s", MakeJpeg("800x600.jpg", 800, 600));
  snprintf(odd, sizeof odd, "%s", MakeJpeg("1001x751.jpg", 1001, 751));
  snprintf(small, sizeof small, "%s", MakeJpeg("100x80.jpg", 100, 80));

  /* Nothing loaded: a resize does nothing and succeeds. */
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 100, 100), S_OK);
  CHECK_SIZE(resize, 0, 0);

  /* ResizeImage, through the function table. */
  Reload(resize, large, 1000, 750);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 0, 100), S_OK);
  CHECK_SIZE(resize, 133, 100);
  Reload(resize, large, 1000, 750);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 200, 0), S_OK);
  CHECK_SIZE(resize, 200, 150);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, -5, 0), S_OK);
  CHECK_SIZE(resize, 200, 150);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 0, 0), S_OK);
  CHECK_SIZE(resize, 200, 150);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 300, 300), S_OK);
  CHECK_SIZE(resize, 300, 300);
  /* ... and by name, with arguments that convert to integers. */
  Reload(resize, large, 1000, 750);
  args[0] = TextArg("0");
  args[1] = DoubleArg(100.0);
  CHECK_HR(Method(resize, "ResizeImage", args, 2), S_OK);
  CHECK_SIZE(resize, 133, 100);

  /* ScaleImage. */
  Reload(resize, odd, 1001, 751);
  CHECK_HR(resize->lpVtbl->ScaleImage(resize, 50), S_OK);
  CHECK_SIZE(resize, 500, 375);
  CHECK_HR(resize->lpVtbl->ScaleImage(resize, 0), S_OK);
  CHECK_HR(resize->lpVtbl->ScaleImage(resize, -20), S_OK);
  CHECK_SIZE(resize, 500, 375);
  Reload(resize, small, 100, 80);
  args[0] = LongArg(250);
  CHECK_HR(Method(resize, "ScaleImage", args, 1), S_OK);
  CHECK_SIZE(resize, 250, 200);

  /* ResizeBox: never enlarges; the larger ratio governs, the height on a tie. */
  Reload(resize, box, 640, 480);
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 800, 600), S_OK);
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 640, 480), S_OK);
  CHECK_SIZE(resize, 640, 480);
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 0, 0), S_OK); /* IEEE ratios end in no change */
  CHECK_SIZE(resize, 640, 480);
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 320, 320), S_OK);
  CHECK_SIZE(resize, 320, 240);
  Reload(resize, box, 640, 480);
  args[0] = LongArg(1000);
  args[1] = LongArg(100);
  CHECK_HR(Method(resize, "ResizeBox", args, 2), S_OK);
  CHECK_SIZE(resize, 133, 100);
  Reload(resize, even, 800, 600);
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 400, 300), S_OK);
  CHECK_SIZE(resize, 400, 300);

  /* CropImage: corners in any order. */
  Reload(resize, box, 640, 480);
  CHECK_HR(resize->lpVtbl->CropImage(resize, 100, 80, 20, 10), S_OK);
  CHECK_SIZE(resize, 80, 70);
  Reload(resize, box, 640, 480);
  args[0] = LongArg(20);
  args[1] = LongArg(10);
  args[2] = LongArg(100);
  args[3] = LongArg(80);
  CHECK_HR(Method(resize, "CropImage", args, 4), S_OK);
  CHECK_SIZE(resize, 80, 70);
  /* A zero side: Width 0, Height 10, and nothing to save. */
  CHECK_HR(resize->lpVtbl->CropImage(resize, 5, 0, 5, 10), S_OK);
  CHECK_SIZE(resize, 0, 10);
  CHECK_HR(SaveFile(resize, InScratch("zero-side.jpg")), E_UNEXPECTED_CODE);
  CHECK_ERROR("No image loaded.");
  CHECK(!FileExists(InScratch("zero-side.jpg")));

  /* RotateImage: a quarter turn swaps the sides; any angle is accepted. */
  Reload(resize, small, 100, 80);
  CHECK_HR(resize->lpVtbl->RotateImage(resize, 90.0f), S_OK);
  CHECK_SIZE(resize, 80, 100);
  args[0] = DoubleArg(-90.0);
  CHECK_HR(Method(resize, "RotateImage", args, 1), S_OK);
  CHECK_SIZE(resize, 100, 80);
  CHECK_HR(resize->lpVtbl->RotateImage(resize, 0.0f), S_OK);
  CHECK_SIZE(resize, 100, 80);
  Release(resize);
}

/* The four quadrant colours of a saved picture, compared with the expected quadrant order. */
static void CheckQuadrants(IResize* resize, const char* name, const int order[4], int line) {
  Picture picture;
  const char* path = InScratch(name);
  int q;
  Report(SaveFile(resize, path) == S_OK, __FILE__, line, "SaveToFile failed");
  picture = Decode(path);
  Report(picture.rgb != NULL, __FILE__, line, "djpeg could not read %s", path);
  for (q = 0; q < 4 && picture.rgb != NULL; ++q) {
    const int x = (q & 1) ? picture.width * 3 / 4 : picture.width / 4;
    const int y = (q & 2) ? picture.height * 3 / 4 : picture.height / 4;
    Report(PixelNear(&picture, x, y, kQuadrant[order[q]]), __FILE__, line,
           "quadrant %d of %s does not show colour %d", q, name, order[q]);
  }
  free(picture.rgb);
}

static void FlipsAndCropContent(void) {
  static const int kSame[4] = {0, 1, 2, 3};
  static const int kRowsReversed[4] = {2, 3, 0, 1};    /* FlipHorizontal */
  static const int kColumnsReversed[4] = {1, 0, 3, 2}; /* FlipVertical */
  static const unsigned char kRed[3] = {255, 0, 0};
  char photo[600];
  IResize* resize = NewResize();
  Picture picture;
  Bytes before, after;
  if (resize == NULL) return;
  snprintf(photo, sizeof photo, "%s", MakeJpeg("flip.jpg", 64, 32));
  CHECK_HR(resize->lpVtbl->put_JPGQuality(resize, 100), S_OK);
  Reload(resize, photo, 64, 32);
  before = VariantOutBytes(resize);
  CheckQuadrants(resize, "as-loaded.jpg", kSame, __LINE__);
  CHECK_HR(resize->lpVtbl->FlipHorizontal(resize), S_OK);
  CheckQuadrants(resize, "flip-h.jpg", kRowsReversed, __LINE__);
  CHECK_HR(Method(resize, "FlipHorizontal", NULL, 0), S_OK);
  CheckQuadrants(resize, "flip-h2.jpg", kSame, __LINE__);
  CHECK_HR(resize->lpVtbl->FlipVertical(resize), S_OK);
  CheckQuadrants(resize, "flip-v.jpg", kColumnsReversed, __LINE__);
  CHECK_HR(Method(resize, "FlipVertical", NULL, 0), S_OK);
  CheckQuadrants(resize, "flip-v2.jpg", kSame, __LINE__);
  CHECK_SIZE(resize, 64, 32);
  /* Each flip twice gives the very pixels back: the encoding is the same byte for byte. */
  after = VariantOutBytes(resize);
  CHECK(before.data != NULL && after.data != NULL && before.size == after.size &&
        memcmp(before.data, after.data, before.size) == 0);
  free(before.data);
  free(after.data);

  /* CropImage(-10, -10, 10, 10) on a 100 x 100 picture: its lower-right quarter is the
   * picture's top-left corner, the rest is BackgroundColor (red as 0x00BBGGRR). */
  snprintf(photo, sizeof photo, "%s", MakeJpeg("square.jpg", 100, 100));
  Reload(resize, photo, 100, 100);
  CHECK_HR(resize->lpVtbl->put_BackgroundColor(resize, 0x0000FF), S_OK);
  CHECK_HR(resize->lpVtbl->CropImage(resize, -10, -10, 10, 10), S_OK);
  CHECK_SIZE(resize, 20, 20);
  CHECK_HR(SaveFile(resize, InScratch("crop.jpg")), S_OK);
  picture = Decode(InScratch("crop.jpg"));
  CHECK(picture.width == 20 && picture.height == 20);
  CHECK(PixelNear(&picture, 3, 3, kRed));
  CHECK(PixelNear(&picture, 16, 3, kRed));
  CHECK(PixelNear(&picture, 3, 16, kRed));
  CHECK(PixelNear(&picture, 15, 15, kQuadrant[0]));
  free(picture.rgb);
  Release(resize);
}

static void ResizeBoxInnerFailure(void) {
  char photo[600];
  IResize* resize = NewResize();
  VARIANT args[2];
  EXCEPINFO exception;
  if (resize == NULL) return;
  snprintf(photo, sizeof photo, "%s", MakeJpeg("100x10.jpg", 100, 10));
  Reload(resize, photo, 100, 10);
  /* The width governs (rw 100 > rh 0.1), and ResizeImage(1, 0) derives 1 x 10 / 100 = 0. */
  CHECK_HR(resize->lpVtbl->ResizeBox(resize, 1, 100), E_UNEXPECTED_CODE);
  CHECK_ERROR("Division by zero");
  CHECK_SIZE(resize, 100, 10);
  CHECK_HR(resize->lpVtbl->ResizeImage(resize, 1, 0), E_UNEXPECTED_CODE);
  CHECK_ERROR("Division by zero");
  args[0] = LongArg(1);
  args[1] = LongArg(100);
  CHECK_HR(CallByName(resize, "ResizeBox", DISPATCH_METHOD, args, 2, NULL, &exception),
           DISP_E_EXCEPTION);
  CHECK_HR(exception.scode, E_UNEXPECTED_CODE);
  CHECK_TEXT(BstrText(exception.bstrSource), "Quorvex.Resize");
  CHECK_TEXT(BstrText(exception.bstrDescription), "Division by zero");
  FreeException(&exception);
  CHECK_SIZE(resize, 100, 10);
  Release(resize);
}

/* A context whose "Response" property holds the value given. */
static HRESULT EnterContextWith(VARIANT value) {
  static const OLECHAR kResponse[] = u"Response";
  LPCOLESTR names[1];
  HRESULT result;
  names[0] = kResponse;
  result = QvEnterObjectContextWith(1, names, &value);
  VariantClear(&value);
  return result;
}

static void StreamImage(void) {
  char photo[600];
  IResize* resize = NewResize();
  ICreateErrorInfo* notAResponse = NULL;
  VARIANT value;
#ifndef QUORVEX_CHECKS_DYNAMIC_TYPES
  TestResponse response;
  Bytes out;
  EXCEPINFO exception;
#endif
  if (resize == NULL) return;
  snprintf(photo, sizeof photo, "%s", MakeJpeg("stream.jpg", 30, 20));
  Reload(resize, photo, 30, 20);

  /* Outside a web request there is nothing to write to. */
  CHECK_HR(resize->lpVtbl->StreamImage(resize), E_UNEXPECTED_CODE);
  CHECK_ERROR("StreamImage needs a web request: there is no object context.");
  CHECK_HR(Method(resize, "StreamImage", NULL, 0), DISP_E_EXCEPTION);

  /* A context whose response is not an object, or an object without IResponse. */
  CHECK_HR(EnterContextWith(LongArg(7)), S_OK);
  CHECK_HR(resize->lpVtbl->StreamImage(resize), E_UNEXPECTED_CODE);
  CHECK_ERROR("Invalid variant type conversion");
  CHECK_HR(QvLeaveObjectContext(), S_OK);
  CHECK_HR(CreateErrorInfo(&notAResponse), S_OK);
  VariantInit(&value);
  V_VT(&value) = VT_UNKNOWN;
  V_UNKNOWN(&value) = (IUnknown*)notAResponse; /* the context's copy takes its own reference */
  CHECK_HR(EnterContextWith(value), S_OK);     /* and this one is released here */
  CHECK_HR(resize->lpVtbl->StreamImage(resize), E_UNEXPECTED_CODE);
  CHECK_ERROR("Interface not supported");
  CHECK_HR(QvLeaveObjectContext(), S_OK);

#ifndef QUORVEX_CHECKS_DYNAMIC_TYPES
  InitResponse(&response);
  CHECK_HR(QvEnterObjectContext((IDispatch*)&response.iface), S_OK);
  CHECK_HR(resize->lpVtbl->StreamImage(resize), S_OK);
  CHECK_LONG(response.callCount, 4);
  CHECK_TEXT(response.calls[0], "Expires=0");
  CHECK_TEXT(response.calls[1], "Clear");
  CHECK_TEXT(response.calls[2], "ContentType=Image/jpeg");
  CHECK_TEXT(response.calls[3], "BinaryWrite");
  CHECK_LONG(response.bodyLower, 1);
  out = VariantOutBytes(resize);
  CHECK(response.body != NULL && out.data != NULL && response.bodySize == out.size &&
        memcmp(response.body, out.data, out.size) == 0);
  free(out.data);

  /* By name, with the second call failing: its code and trimmed description come back. */
  response.callCount = 0;
  response.failCall = "Clear";
  response.failCode = (HRESULT)0x800A0001;
  CHECK_HR(CallByName(resize, "StreamImage", DISPATCH_METHOD, NULL, 0, NULL, &exception),
           DISP_E_EXCEPTION);
  CHECK_HR(exception.scode, (HRESULT)0x800A0001);
  CHECK_TEXT(BstrText(exception.bstrDescription), "The client has gone away");
  CHECK_TEXT(BstrText(exception.bstrSource), "Quorvex.Resize");
  FreeException(&exception);
  CHECK_LONG(response.callCount, 2);
  CHECK_HR(QvLeaveObjectContext(), S_OK);
  CHECK_LONG(response.references, 1); /* every lookup released */
  free(response.body);
#endif
  Release(resize);
}

/* The outer object is one the platform makes (an error information object): a C++ object, so
 * the component's calls on it are checked by the sanitizers like any other. Its reference count
 * shows in what AddRef returns. */
static ULONG OuterReferences(IUnknown* outer) {
  const ULONG count = outer->lpVtbl->AddRef(outer);
  outer->lpVtbl->Release(outer);
  return count - 1;
}

static void Aggregation(void) {
  IClassFactory* factory = NULL;
  ICreateErrorInfo* outerObject = NULL;
  IUnknown* outer = NULL;
  IUnknown* inner = NULL;
  IUnknown* again = NULL;
  IUnknown* delegated = NULL;
  IResize* resize = (IResize*)0x1;
  CLSID clsid;
  LONG quality = 0;
  CHECK_HR(CreateErrorInfo(&outerObject), S_OK);
  CHECK_HR(getClassObject(&CLSID_Resize, &IID_IClassFactory, (void**)&factory), S_OK);
  if (factory == NULL || outerObject == NULL) return;
  outer = (IUnknown*)outerObject;
  CHECK_HR(factory->lpVtbl->CreateInstance(factory, outer, &IID_IResize, (void**)&resize),
           CLASS_E_NOAGGREGATION);
  CHECK(resize == NULL);
  ClassFromProgID(&clsid);
  resize = (IResize*)0x1;
  CHECK_HR(CoCreateInstance(&clsid, outer, CLSCTX_INPROC_SERVER, &IID_IResize, (void**)&resize),
           CLASS_E_NOAGGREGATION);
  CHECK(resize == NULL);
  CHECK_LONG(OuterReferences(outer), 1);
  CHECK_HR(factory->lpVtbl->CreateInstance(factory, outer, &IID_IUnknown, (void**)&inner), S_OK);
  if (inner != NULL) {
    /* The inner unknown does not delegate: asking it for IUnknown gives itself. */
    CHECK_HR(inner->lpVtbl->QueryInterface(inner, &IID_IUnknown, (void**)&again), S_OK);
    CHECK(again == inner);
    if (again != NULL) again->lpVtbl->Release(again);
    CHECK_LONG(OuterReferences(outer), 1);
    CHECK_HR(inner->lpVtbl->QueryInterface(inner, &IID_IResize, (void**)&resize), S_OK);
    /* The interface's reference belongs to the outer object. */
    CHECK_LONG(OuterReferences(outer), 2);
    if (resize != NULL) {
      CHECK_HR(resize->lpVtbl->put_JPGQuality(resize, 55), S_OK);
      CHECK_HR(resize->lpVtbl->get_JPGQuality(resize, &quality), S_OK);
      CHECK_LONG(quality, 55);
      /* QueryInterface on the interface goes to the outer object, which answers for itself. */
      CHECK_HR(resize->lpVtbl->QueryInterface(resize, &IID_IErrorInfo, (void**)&delegated), S_OK);
      CHECK(delegated != NULL && delegated != inner);
      if (delegated != NULL) delegated->lpVtbl->Release(delegated);
      resize->lpVtbl->Release(resize);
    }
    CHECK_LONG(OuterReferences(outer), 1);
    CHECK_HR(canUnloadNow(), S_FALSE);
    inner->lpVtbl->Release(inner);
  }
  CHECK_HR(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IResize, NULL), E_POINTER);
  factory->lpVtbl->Release(factory);
  outer->lpVtbl->Release(outer);
}

static void Unloading(void) {
  IClassFactory* factory = NULL;
  IResize* resize = NULL;
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  void* object = (void*)0x1;
  CHECK_HR(canUnloadNow(), S_OK);
  CHECK_HR(getClassObject(&other, &IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  CHECK(object == NULL);
  CHECK_HR(getClassObject(&CLSID_Resize, &IID_IResize, &object), E_NOINTERFACE);

  CHECK_HR(getClassObject(&CLSID_Resize, &IID_IClassFactory, (void**)&factory), S_OK);
  if (factory == NULL) return;
  CHECK_HR(canUnloadNow(), S_FALSE); /* a factory reference */
  CHECK_HR(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IResize, (void**)&resize), S_OK);
  factory->lpVtbl->Release(factory);
  CHECK_HR(canUnloadNow(), S_FALSE); /* an object */
  Release(resize);
  CHECK_HR(canUnloadNow(), S_OK);

  getClassObject(&CLSID_Resize, &IID_IClassFactory, (void**)&factory);
  CHECK_HR(factory->lpVtbl->LockServer(factory, TRUE), S_OK);
  factory->lpVtbl->Release(factory);
  CHECK_HR(canUnloadNow(), S_FALSE); /* the lock alone */
  getClassObject(&CLSID_Resize, &IID_IClassFactory, (void**)&factory);
  CHECK_HR(factory->lpVtbl->LockServer(factory, FALSE), S_OK);
  factory->lpVtbl->Release(factory);
  CHECK_HR(canUnloadNow(), S_OK);
}

static void Unregistration(void) {
  CLSID clsid;
  IResize* resize = (IResize*)0x1;
  CHECK_HR(unregisterServer(), S_OK);
  CHECK_HR(ClassFromProgID(&clsid), CO_E_CLASSSTRING);
  CHECK_HR(
      CoCreateInstance(&CLSID_Resize, NULL, CLSCTX_INPROC_SERVER, &IID_IResize, (void**)&resize),
      REGDB_E_CLASSNOTREG);
  CHECK(resize == NULL);
  CHECK_HR(unregisterServer(), S_OK); /* again: nothing left to delete */
}

int main(int argc, char** argv) {
  const char* modulePath = argc > 1 ? argv[1] : QUORVEX_MODULE_PATH;
  char registry[600], command[700];
  if (mkdtemp(scratch) == NULL) {
    perror("mkdtemp");
    return 2;
  }
  snprintf(registry, sizeof registry, "%s", InScratch("registry"));
  setenv("QUORVEX_REGISTRY", registry, 1);
  CHECK_HR(CoInitialize(NULL), S_OK);
  CHECK(LoadModule(modulePath));
  if (module != NULL && getClassObject != NULL) {
    Registration();
    Defaults();
    DispatchSurface();
    Clamping();
    GrayScaleAliasing();
    ErrorInformation();
    LoadingAndOutput();
    Transforms();
    FlipsAndCropContent();
    ResizeBoxInnerFailure();
    StreamImage();
    Aggregation();
    Unloading();
    Unregistration();
  }
  CoUninitialize();
  snprintf(command, sizeof command, "rm -rf '%s'", scratch);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", scratch);
  printf("%d passed, %d failed\n", passed, failed);
  return failed > 0 ? 1 : 0;
}
