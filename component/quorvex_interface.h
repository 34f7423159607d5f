// The IResize interface and the library's GUIDs, as component/Quorvex.idl describes them. A
// Windows build takes the header its IDL compiler makes from that file; this platform declares
// the same function table here (a test holds the two together).
#pragma once

#include "platform/winapi.h"

#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
#include "Quorvex_h.h"
#else

QV_BEGIN_C
extern const GUID LIBID_Quorvex;
extern const IID IID_IResize;
extern const CLSID CLSID_Resize;
QV_END_C

#ifdef __cplusplus
struct IResize : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Width(LONG* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResizeImage(LONG Width, LONG Height) = 0;
  virtual HRESULT STDMETHODCALLTYPE ScaleImage(LONG Factor) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResizeBox(LONG Width, LONG Height) = 0;
  virtual HRESULT STDMETHODCALLTYPE RotateImage(FLOAT Angle) = 0;
  virtual HRESULT STDMETHODCALLTYPE CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GrayScale(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_GrayScale(VARIANT_BOOL Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR Filename) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveToFile(BSTR Filename) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JPGQuality(LONG* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_JPGQuality(LONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE VariantIn(VARIANT JPGData) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_VariantOut(VARIANT* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE StreamImage() = 0;
  virtual HRESULT STDMETHODCALLTYPE FlipHorizontal() = 0;
  virtual HRESULT STDMETHODCALLTYPE FlipVertical() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DPI(LONG* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DPI(LONG Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BackgroundColor(OLE_COLOR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_BackgroundColor(OLE_COLOR Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GreyScale(VARIANT_BOOL* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_GreyScale(VARIANT_BOOL Value) = 0;
};
#else
typedef struct IResize IResize;
typedef struct IResizeVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IResize* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IResize* This);
  ULONG(STDMETHODCALLTYPE* Release)(IResize* This);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfoCount)(IResize* This, UINT* pctinfo);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfo)
  (IResize* This, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
  HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)
  (IResize* This, REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
  HRESULT(STDMETHODCALLTYPE* Invoke)
  (IResize* This, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
  HRESULT(STDMETHODCALLTYPE* get_Width)(IResize* This, LONG* Value);
  HRESULT(STDMETHODCALLTYPE* get_Height)(IResize* This, LONG* Value);
  HRESULT(STDMETHODCALLTYPE* ResizeImage)(IResize* This, LONG Width, LONG Height);
  HRESULT(STDMETHODCALLTYPE* ScaleImage)(IResize* This, LONG Factor);
  HRESULT(STDMETHODCALLTYPE* ResizeBox)(IResize* This, LONG Width, LONG Height);
  HRESULT(STDMETHODCALLTYPE* RotateImage)(IResize* This, FLOAT Angle);
  HRESULT(STDMETHODCALLTYPE* CropImage)(IResize* This, LONG X1, LONG Y1, LONG X2, LONG Y2);
  HRESULT(STDMETHODCALLTYPE* get_GrayScale)(IResize* This, VARIANT_BOOL* Value);
  HRESULT(STDMETHODCALLTYPE* put_GrayScale)(IResize* This, VARIANT_BOOL Value);
  HRESULT(STDMETHODCALLTYPE* LoadFromFile)(IResize* This, BSTR Filename);
  HRESULT(STDMETHODCALLTYPE* SaveToFile)(IResize* This, BSTR Filename);
  HRESULT(STDMETHODCALLTYPE* get_JPGQuality)(IResize* This, LONG* Value);
  HRESULT(STDMETHODCALLTYPE* put_JPGQuality)(IResize* This, LONG Value);
  HRESULT(STDMETHODCALLTYPE* VariantIn)(IResize* This, VARIANT JPGData);
  HRESULT(STDMETHODCALLTYPE* get_VariantOut)(IResize* This, VARIANT* Value);
  HRESULT(STDMETHODCALLTYPE* StreamImage)(IResize* This);
  HRESULT(STDMETHODCALLTYPE* FlipHorizontal)(IResize* This);
  HRESULT(STDMETHODCALLTYPE* FlipVertical)(IResize* This);
  HRESULT(STDMETHODCALLTYPE* get_DPI)(IResize* This, LONG* Value);
  HRESULT(STDMETHODCALLTYPE* put_DPI)(IResize* This, LONG Value);
  HRESULT(STDMETHODCALLTYPE* get_Version)(IResize* This, BSTR* Value);
  HRESULT(STDMETHODCALLTYPE* get_BackgroundColor)(IResize* This, OLE_COLOR* Value);
  HRESULT(STDMETHODCALLTYPE* put_BackgroundColor)(IResize* This, OLE_COLOR Value);
  HRESULT(STDMETHODCALLTYPE* get_GreyScale)(IResize* This, VARIANT_BOOL* Value);
  HRESULT(STDMETHODCALLTYPE* put_GreyScale)(IResize* This, VARIANT_BOOL Value);
} IResizeVtbl;
struct IResize {
  const IResizeVtbl* lpVtbl;
};
#endif

#endif
