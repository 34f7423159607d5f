#include "component/resize_interface.h"

#include "component/resize_object.h"
#include "comserver/text_conversion.h"

namespace quorvex {

template <class Body>
HRESULT TResizeInterface::Call(Body&& body) {
  return owner_.SafeCall([&] {
    // The long work of the member may be stopped, or its memory held, by the host of the call.
    TCallHostControl host;
    const THostControlScope scope(host.Offered());
    body();
  });
}

template <class T, class Getter>
HRESULT TResizeInterface::Get(T* value, Getter&& getter) {
  if (value == nullptr) return E_POINTER;
  return Call([&] { *value = getter(); });
}

HRESULT TResizeInterface::GetTypeInfoCount(UINT* count) {
  return owner_.DispGetTypeInfoCount(count);
}

HRESULT TResizeInterface::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return owner_.DispGetTypeInfo(index, locale, info);
}

HRESULT TResizeInterface::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                        DISPID* ids) {
  return owner_.DispGetIDsOfNames(iid, names, count, locale, ids);
}

HRESULT TResizeInterface::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return owner_.DispInvoke(id, iid, locale, flags, params, result, exception, argumentError);
}

HRESULT TResizeInterface::get_Width(LONG* Value) {
  return Get(Value, [&] { return owner_.Width(); });
}
HRESULT TResizeInterface::get_Height(LONG* Value) {
  return Get(Value, [&] { return owner_.Height(); });
}
HRESULT TResizeInterface::ResizeImage(LONG Width, LONG Height) {
  return Call([&] { owner_.ResizeImage(Width, Height); });
}
HRESULT TResizeInterface::ScaleImage(LONG Factor) {
  return Call([&] { owner_.ScaleImage(Factor); });
}
HRESULT TResizeInterface::ResizeBox(LONG Width, LONG Height) {
  return Call([&] { owner_.ResizeBox(Width, Height); });
}
HRESULT TResizeInterface::RotateImage(FLOAT Angle) {
  return Call([&] { owner_.RotateImage(Angle); });
}
HRESULT TResizeInterface::CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) {
  return Call([&] { owner_.CropImage(X1, Y1, X2, Y2); });
}
HRESULT TResizeInterface::get_GrayScale(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.GrayScale(); });
}
HRESULT TResizeInterface::put_GrayScale(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetGrayScale(Value); });
}
HRESULT TResizeInterface::LoadFromFile(BSTR Filename) {
  return Call([&] { owner_.LoadFromFile(Filename); });
}
HRESULT TResizeInterface::SaveToFile(BSTR Filename) {
  return Call([&] { owner_.SaveToFile(Filename); });
}
HRESULT TResizeInterface::get_JPGQuality(LONG* Value) {
  return Get(Value, [&] { return owner_.JPGQuality(); });
}
HRESULT TResizeInterface::put_JPGQuality(LONG Value) {
  return Call([&] { owner_.SetJPGQuality(Value); });
}
HRESULT TResizeInterface::VariantIn(VARIANT JPGData) {
  return Call([&] { owner_.VariantIn(JPGData); });
}
HRESULT TResizeInterface::get_VariantOut(VARIANT* Value) {
  if (Value == nullptr) return E_POINTER;
  return Call([&] { owner_.VariantOut(Value); });
}
HRESULT TResizeInterface::StreamImage() {
  return Call([&] { owner_.StreamImage(); });
}
HRESULT TResizeInterface::FlipHorizontal() {
  return Call([&] { owner_.FlipHorizontal(); });
}
HRESULT TResizeInterface::FlipVertical() {
  return Call([&] { owner_.FlipVertical(); });
}
HRESULT TResizeInterface::get_DPI(LONG* Value) {
  return Get(Value, [&] { return owner_.DPI(); });
}
HRESULT TResizeInterface::put_DPI(LONG Value) {
  return Call([&] { owner_.SetDPI(Value); });
}
HRESULT TResizeInterface::get_Version(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = owner_.Version(); });
}
HRESULT TResizeInterface::get_BackgroundColor(OLE_COLOR* Value) {
  return Get(Value, [&] { return owner_.BackgroundColor(); });
}
HRESULT TResizeInterface::put_BackgroundColor(OLE_COLOR Value) {
  return Call([&] { owner_.SetBackgroundColor(Value); });
}
HRESULT TResizeInterface::get_GreyScale(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.GrayScale(); });
}
HRESULT TResizeInterface::put_GreyScale(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetGrayScale(Value); });
}

HRESULT TResizeInterface::LoadThumbnail(VARIANT Source, LONG Width, LONG Height) {
  return Call([&] { owner_.LoadThumbnail(Source, Width, Height); });
}
HRESULT TResizeInterface::get_AutoOrient(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.AutoOrient(); });
}
HRESULT TResizeInterface::put_AutoOrient(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetAutoOrient(Value); });
}
HRESULT TResizeInterface::get_Orientation(LONG* Value) {
  return Get(Value, [&] { return owner_.Orientation(); });
}
HRESULT TResizeInterface::get_KeepMetadata(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.KeepMetadata(); });
}
HRESULT TResizeInterface::put_KeepMetadata(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetKeepMetadata(Value); });
}
HRESULT TResizeInterface::get_MaxPixels(LONG* Value) {
  return Get(Value, [&] { return owner_.MaxPixels(); });
}
HRESULT TResizeInterface::put_MaxPixels(LONG Value) {
  return Call([&] { owner_.SetMaxPixels(Value); });
}
HRESULT TResizeInterface::get_Progressive(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.Progressive(); });
}
HRESULT TResizeInterface::put_Progressive(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetProgressive(Value); });
}
HRESULT TResizeInterface::get_OptimizeCoding(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.OptimizeCoding(); });
}
HRESULT TResizeInterface::put_OptimizeCoding(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetOptimizeCoding(Value); });
}
HRESULT TResizeInterface::get_SourceQuality(LONG* Value) {
  return Get(Value, [&] { return owner_.SourceQuality(); });
}
HRESULT TResizeInterface::get_KeepMetadataParts(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = Utf8ToNewBstr(owner_.KeepMetadataParts()); });
}
HRESULT TResizeInterface::put_KeepMetadataParts(BSTR Value) {
  return Call([&] { owner_.SetKeepMetadataParts(BstrToUtf8(Value)); });
}
HRESULT TResizeInterface::get_Metadata(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = Utf8ToNewBstr(owner_.Metadata()); });
}
HRESULT TResizeInterface::get_ConvertToSRGB(VARIANT_BOOL* Value) {
  return Get(Value, [&] { return owner_.ConvertToSRGB(); });
}
HRESULT TResizeInterface::put_ConvertToSRGB(VARIANT_BOOL Value) {
  return Call([&] { owner_.SetConvertToSRGB(Value); });
}
HRESULT TResizeInterface::get_ColorProfile(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = Utf8ToNewBstr(owner_.ColorProfile()); });
}

HRESULT TResizeInterface::get_OutputFormat(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = owner_.OutputFormat(); });
}
HRESULT TResizeInterface::put_OutputFormat(BSTR Value) {
  return Call([&] { owner_.SetOutputFormat(Value); });
}
HRESULT TResizeInterface::get_ContentType(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = owner_.ContentType(); });
}
HRESULT TResizeInterface::FillBox(LONG Width, LONG Height) {
  return Call([&] { owner_.FillBox(Width, Height); });
}
HRESULT TResizeInterface::get_Gravity(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = owner_.Gravity(); });
}
HRESULT TResizeInterface::put_Gravity(BSTR Value) {
  return Call([&] { owner_.SetGravity(Value); });
}
HRESULT TResizeInterface::get_Fit(BSTR* Value) {
  if (Value == nullptr) return E_POINTER;
  *Value = nullptr;
  return Call([&] { *Value = owner_.Fit(); });
}
HRESULT TResizeInterface::put_Fit(BSTR Value) {
  return Call([&] { owner_.SetFit(Value); });
}
HRESULT TResizeInterface::get_Sharpen(DOUBLE* Value) {
  return Get(Value, [&] { return owner_.Sharpen(); });
}
HRESULT TResizeInterface::put_Sharpen(DOUBLE Value) {
  return Call([&] { owner_.SetSharpen(Value); });
}

}  // namespace quorvex
