// A stand-in for the component's Resize object: implements the dual interface IResize of
// component/Quorvex.idl with plain fields, IDispatch through the platform's DispInvoke, and
// ISupportErrorInfo. Members record what they received so tests can see the arguments.
#pragma once

#include <atomic>
#include <string>

#include "component/quorvex_interface.h"
#include "quorvex_version.h"
#include "tests/platform/ole_text.h"

namespace quorvex_test {

class FakeResize : public IResize, public ISupportErrorInfo {
 public:
  // `info`: the type information of IResize (the dispatch view); a reference is taken.
  FakeResize(ITypeInfo* info, bool supportsErrorInfo = true)
      : info_(info), supportsErrorInfo_(supportsErrorInfo) {
    if (info_ != nullptr) info_->AddRef();
  }
  virtual ~FakeResize() {
    if (info_ != nullptr) info_->Release();
    VariantClear(&lastVariant);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IResize) {
      *ppv = static_cast<IResize*>(this);
    } else if (riid == IID_ISupportErrorInfo && supportsErrorInfo_) {
      *ppv = static_cast<ISupportErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs;
    if (left == 0 && deleteOnRelease) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    info_->AddRef();
    *out = info_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return DispGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
      flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    return DispInvoke(static_cast<IResize*>(this), info_, id, flags, params, result, excep, argErr);
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_IResize ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE get_Width(LONG* v) override { return Get(v, width); }
  HRESULT STDMETHODCALLTYPE get_Height(LONG* v) override { return Get(v, height); }
  HRESULT STDMETHODCALLTYPE ResizeImage(LONG w, LONG h) override {
    width = w;
    height = h;
    return Done("ResizeImage");
  }
  HRESULT STDMETHODCALLTYPE ScaleImage(LONG factor) override {
    lastLong = factor;
    return Done("ScaleImage");
  }
  HRESULT STDMETHODCALLTYPE ResizeBox(LONG w, LONG h) override {
    box[0] = w;
    box[1] = h;
    return Done("ResizeBox");
  }
  HRESULT STDMETHODCALLTYPE RotateImage(FLOAT angle) override {
    lastFloat = angle;
    return Done("RotateImage");
  }
  HRESULT STDMETHODCALLTYPE CropImage(LONG x1, LONG y1, LONG x2, LONG y2) override {
    crop[0] = x1, crop[1] = y1, crop[2] = x2, crop[3] = y2;
    return Done("CropImage");
  }
  HRESULT STDMETHODCALLTYPE get_GrayScale(VARIANT_BOOL* v) override { return Get(v, gray); }
  HRESULT STDMETHODCALLTYPE put_GrayScale(VARIANT_BOOL v) override {
    gray = v;
    return Done("put_GrayScale");
  }
  HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR name) override {
    lastText = name != nullptr ? OleString(name, SysStringLen(name)) : OLESTR("<null>");
    return Done("LoadFromFile");
  }
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR name) override {
    lastText = name != nullptr ? OleString(name, SysStringLen(name)) : OLESTR("<null>");
    // Fails the way the component does: error information and E_UNEXPECTED.
    ICreateErrorInfo* create = nullptr;
    CreateErrorInfo(&create);
    create->SetGUID(IID_IResize);
    create->SetSource(const_cast<LPOLESTR>(OLESTR("Quorvex.Resize")));
    create->SetDescription(const_cast<LPOLESTR>(OLESTR("No image loaded.")));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    last = "SaveToFile";
    return E_UNEXPECTED;
  }
  HRESULT STDMETHODCALLTYPE get_JPGQuality(LONG* v) override { return Get(v, quality); }
  HRESULT STDMETHODCALLTYPE put_JPGQuality(LONG v) override {
    quality = v > 100 ? 100 : v;
    return Done("put_JPGQuality");
  }
  HRESULT STDMETHODCALLTYPE VariantIn(VARIANT data) override {
    VariantClear(&lastVariant);
    lastVariantType = V_VT(&data);
    VariantCopy(&lastVariant, &data);
    return Done("VariantIn");
  }
  HRESULT STDMETHODCALLTYPE get_VariantOut(VARIANT* v) override {
    VariantInit(v);
    V_VT(v) = VT_ARRAY | VT_UI1;
    V_ARRAY(v) = SafeArrayCreateVector(VT_UI1, 1, 3);
    static_cast<BYTE*>(V_ARRAY(v)->pvData)[0] = 0xFF;
    return Done("get_VariantOut");
  }
  HRESULT STDMETHODCALLTYPE StreamImage() override { return failWith; }
  HRESULT STDMETHODCALLTYPE FlipHorizontal() override { return Done("FlipHorizontal"); }
  HRESULT STDMETHODCALLTYPE FlipVertical() override { return Done("FlipVertical"); }
  HRESULT STDMETHODCALLTYPE get_DPI(LONG* v) override { return Get(v, dpi); }
  HRESULT STDMETHODCALLTYPE put_DPI(LONG v) override {
    dpi = v;
    return Done("put_DPI");
  }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* v) override {
    *v = SysAllocString(OLESTR("") QUORVEX_VERSION_TEXT);
    return Done("get_Version");
  }
  HRESULT STDMETHODCALLTYPE get_BackgroundColor(OLE_COLOR* v) override { return Get(v, color); }
  HRESULT STDMETHODCALLTYPE put_BackgroundColor(OLE_COLOR v) override {
    color = v;
    return Done("put_BackgroundColor");
  }
  HRESULT STDMETHODCALLTYPE get_GreyScale(VARIANT_BOOL* v) override { return Get(v, gray); }
  HRESULT STDMETHODCALLTYPE put_GreyScale(VARIANT_BOOL v) override {
    gray = v;
    return Done("put_GreyScale");
  }

  std::atomic<ULONG> refs{1};
  bool deleteOnRelease = false;
  std::string last;
  LONG width = 0, height = 0, quality = 90, dpi = 0, lastLong = 0;
  LONG crop[4] = {};
  LONG box[2] = {};
  FLOAT lastFloat = 0;
  VARIANT_BOOL gray = VARIANT_FALSE;
  OLE_COLOR color = 0xFFFFFF;
  OleString lastText;
  VARIANT lastVariant{};
  VARTYPE lastVariantType = VT_EMPTY;
  HRESULT failWith = S_OK;

 private:
  template <typename T>
  HRESULT Get(T* out, T value) {
    *out = value;
    return S_OK;
  }
  HRESULT Done(const char* member) {
    last = member;
    return S_OK;
  }

  ITypeInfo* info_;
  bool supportsErrorInfo_;
};

}  // namespace quorvex_test
