// IResize3 (and so IResize2 and IResize, which it extends) as the Resize object carries it: every
// member runs its body under the automation layer's exception handler, so a failure comes back as a
// result code with error information.
#pragma once

#include "component/quorvex_interface.h"
#include "comserver/com_object.h"

namespace quorvex {

class TResize;

class TResizeInterface final : public TInterfaceEntry<IResize3, TResize> {
 public:
  using TInterfaceEntry::TInterfaceEntry;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  HRESULT STDMETHODCALLTYPE get_Width(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE get_Height(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE ResizeImage(LONG Width, LONG Height) override;
  HRESULT STDMETHODCALLTYPE ScaleImage(LONG Factor) override;
  HRESULT STDMETHODCALLTYPE ResizeBox(LONG Width, LONG Height) override;
  HRESULT STDMETHODCALLTYPE RotateImage(FLOAT Angle) override;
  HRESULT STDMETHODCALLTYPE CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) override;
  HRESULT STDMETHODCALLTYPE get_GrayScale(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_GrayScale(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR Filename) override;
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR Filename) override;
  HRESULT STDMETHODCALLTYPE get_JPGQuality(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE put_JPGQuality(LONG Value) override;
  HRESULT STDMETHODCALLTYPE VariantIn(VARIANT JPGData) override;
  HRESULT STDMETHODCALLTYPE get_VariantOut(VARIANT* Value) override;
  HRESULT STDMETHODCALLTYPE StreamImage() override;
  HRESULT STDMETHODCALLTYPE FlipHorizontal() override;
  HRESULT STDMETHODCALLTYPE FlipVertical() override;
  HRESULT STDMETHODCALLTYPE get_DPI(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE put_DPI(LONG Value) override;
  HRESULT STDMETHODCALLTYPE get_Version(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE get_BackgroundColor(OLE_COLOR* Value) override;
  HRESULT STDMETHODCALLTYPE put_BackgroundColor(OLE_COLOR Value) override;
  HRESULT STDMETHODCALLTYPE get_GreyScale(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_GreyScale(VARIANT_BOOL Value) override;

  HRESULT STDMETHODCALLTYPE LoadThumbnail(VARIANT Source, LONG Width, LONG Height) override;
  HRESULT STDMETHODCALLTYPE get_AutoOrient(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_AutoOrient(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE get_Orientation(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE get_KeepMetadata(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_KeepMetadata(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE get_MaxPixels(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE put_MaxPixels(LONG Value) override;
  HRESULT STDMETHODCALLTYPE get_Progressive(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_Progressive(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE get_OptimizeCoding(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_OptimizeCoding(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE get_SourceQuality(LONG* Value) override;
  HRESULT STDMETHODCALLTYPE get_KeepMetadataParts(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE put_KeepMetadataParts(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE get_Metadata(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE get_ConvertToSRGB(VARIANT_BOOL* Value) override;
  HRESULT STDMETHODCALLTYPE put_ConvertToSRGB(VARIANT_BOOL Value) override;
  HRESULT STDMETHODCALLTYPE get_ColorProfile(BSTR* Value) override;

  HRESULT STDMETHODCALLTYPE get_OutputFormat(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE put_OutputFormat(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE FillBox(LONG Width, LONG Height) override;
  HRESULT STDMETHODCALLTYPE get_Gravity(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE put_Gravity(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE get_Fit(BSTR* Value) override;
  HRESULT STDMETHODCALLTYPE put_Fit(BSTR Value) override;
  HRESULT STDMETHODCALLTYPE get_Sharpen(DOUBLE* Value) override;
  HRESULT STDMETHODCALLTYPE put_Sharpen(DOUBLE Value) override;

 private:
  template <class Body>
  HRESULT Call(Body&& body);
  template <class T, class Getter>
  HRESULT Get(T* value, Getter&& getter);
};

}  // namespace quorvex
