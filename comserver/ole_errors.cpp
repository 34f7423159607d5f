#include "comserver/ole_errors.h"

#include <cstdio>
#include <new>

#include "comserver/text_conversion.h"
#include "imaging/errors.h"
#include "platform/com_ptr.h"

namespace quorvex {

namespace {

std::string FormattedCode(HRESULT result) {
  char text[32];
  std::snprintf(text, sizeof text, "OLE error %.8x", static_cast<unsigned>(result));
  return text;
}

std::string Text(const TBstr& text) {
  return BstrToUtf8(text.get());
}

// A failure whose description could not be published: the caller must not find an earlier
// call's record in its place.
HRESULT Unpublished(HRESULT result = E_UNEXPECTED) noexcept {
  SetErrorInfo(0, nullptr);
  return result;
}

// A description as a nested call's failure carries it: without the trailing run of blanks,
// control characters and full stops, or the code's own text when nothing is left.
std::string NestedCallMessage(std::string description, HRESULT result) {
  while (!description.empty() &&
         (static_cast<unsigned char>(description.back()) < 0x21 || description.back() == '.'))
    description.pop_back();
  return description.empty() ? SystemMessage(result) : description;
}

}  // namespace

std::string SystemMessage(HRESULT result) {
#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
  LPWSTR buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string message = length != 0 ? Utf16ToUtf8(buffer, length) : std::string();
  LocalFree(buffer);
  while (!message.empty() && static_cast<unsigned char>(message.back()) < 0x21) message.pop_back();
  if (!message.empty()) return message;
#endif
  // This platform keeps no message table: every code reads as its number.
  return FormattedCode(result);
}

EOleSysError::EOleSysError(HRESULT errorCode)
    : EOleError(SystemMessage(errorCode)), errorCode_(errorCode) {}

void OleCheck(HRESULT result) {
  if (FAILED(result)) throw EOleSysError(result);
}

void RaiseFailedCall(HRESULT result) {
  TComPtr<IErrorInfo> info;
  std::string source, description, helpFile;
  DWORD helpContext = 0;
  if (GetErrorInfo(0, info.Put()) == S_OK && info) {
    TBstr text;
    if (SUCCEEDED(info->GetSource(text.Put()))) source = Text(text);
    if (SUCCEEDED(info->GetDescription(text.Put()))) description = Text(text);
    if (SUCCEEDED(info->GetHelpFile(text.Put()))) helpFile = Text(text);
    info->GetHelpContext(&helpContext);
  }
  throw EOleException(NestedCallMessage(std::move(description), result), result, std::move(source),
                      std::move(helpFile), static_cast<int>(helpContext));
}

void RaiseAsNestedCallFailure() {
  HRESULT result = E_UNEXPECTED;
  std::string description;
  int helpContext = 0;
  try {
    throw;
  } catch (const EOleSysError& e) {
    description = e.Message();
    helpContext = e.HelpContext();
    if (e.ErrorCode() < 0) result = e.ErrorCode();
  } catch (const Exception& e) {
    description = e.Message();
    helpContext = e.HelpContext();
  } catch (const std::bad_alloc&) {
    // Memory ran out in the inner call: the outer one reports it as such.
    throw;
  } catch (...) {
    // Not one of the system's own exceptions: it has no description.
  }
  throw EOleException(NestedCallMessage(std::move(description), result), result, "", "",
                      helpContext);
}

HRESULT HandleSafeCallException(REFIID errorInterface, const std::string& progId) noexcept {
  // Memory ran out: E_OUTOFMEMORY, even when there is no memory left to describe it.
  bool outOfMemory = false;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  } catch (...) {
    // Any other exception is described below, or not at all.
  }
  const HRESULT undescribed = outOfMemory ? E_OUTOFMEMORY : E_UNEXPECTED;
  try {
    TComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Put())) || !create) return Unpublished(undescribed);
    create->SetGUID(errorInterface);
    if (!progId.empty()) create->SetSource(TBstr(Utf8ToNewBstr(progId)).get());
    HRESULT result = undescribed;
    const auto describe = [&](const Exception& e) {
      create->SetDescription(TBstr(Utf8ToNewBstr(e.Message())).get());
      create->SetHelpContext(static_cast<DWORD>(e.HelpContext()));
    };
    try {
      throw;
    } catch (const EOleSysError& e) {
      describe(e);
      if (e.ErrorCode() < 0) result = e.ErrorCode();
    } catch (const Exception& e) {
      describe(e);
    } catch (const std::bad_alloc&) {
      describe(EOutOfMemory());
    } catch (...) {
      // Not one of the system's own exceptions: no description to give.
    }
    TComPtr<IErrorInfo> info;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, info.PutVoid()))) return Unpublished(result);
    SetErrorInfo(0, info.get());
    return result;
  } catch (...) {
    return Unpublished(undescribed);
  }
}

}  // namespace quorvex
