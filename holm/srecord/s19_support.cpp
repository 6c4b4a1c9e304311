#include "holm/srecord/s19_support.h"

#include <climits>
#include <new>
#include <string>

#include "framework/module.h"
#include "holm/srecord/srecord.h"

namespace holm {

namespace {

// Takes ownership of a string argument and frees it on every path.
class CBstrOwner {
 public:
  explicit CBstrOwner(BSTR s) : s_(s) {}
  ~CBstrOwner() { Release(); }
  CBstrOwner(const CBstrOwner&) = delete;
  CBstrOwner& operator=(const CBstrOwner&) = delete;
  BSTR Get() const { return s_; }
  void Release() {
    if (s_) SysFreeString(s_);
    s_ = nullptr;
  }

 private:
  BSTR s_;
};

[[noreturn]] void ThrowConversionFailure(bool fileName) {
  DWORD error = GetLastError();
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY) throw std::bad_alloc();
  throw S19FileError(fileName ? "file name cannot be converted" : "text cannot be converted");
}

// Wide to the narrow system code page. A file name with a character that
// has no narrow form, or with an embedded NUL, would name another file:
// that is a file failure rather than a quiet substitution.
std::string ToNarrow(BSTR s, bool fileName) {
  std::string out;
  if (!s) return out;
  UINT length = SysStringLen(s);
  if (length == 0) return out;
  if (length > static_cast<UINT>(INT_MAX)) throw std::bad_alloc();
  const int srcLen = static_cast<int>(length);
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = fileName ? &usedDefault : nullptr;
  int needed = WideCharToMultiByte(CP_ACP, 0, s, srcLen, nullptr, 0, nullptr, usedDefaultOut);
  if (needed <= 0) ThrowConversionFailure(fileName);
  out.resize(static_cast<size_t>(needed));
  int written =
      WideCharToMultiByte(CP_ACP, 0, s, srcLen, out.data(), needed, nullptr, usedDefaultOut);
  if (written <= 0) ThrowConversionFailure(fileName);
  out.resize(static_cast<size_t>(written));
  if (fileName && (usedDefault || out.find('\0') != std::string::npos))
    throw S19FileError("file name has no narrow form");
  return out;
}

// Narrow text read from a file to a new wide string. Bytes that are not
// valid in the system code page are taken one by one as Latin-1 so that
// no text is lost.
BSTR ToWide(std::string_view text) {
  if (text.empty()) {
    BSTR empty = SysAllocStringLen(nullptr, 0);
    if (!empty) throw std::bad_alloc();
    return empty;
  }
  if (text.size() > static_cast<size_t>(INT_MAX / 2)) throw std::bad_alloc();
  const int srcLen = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), srcLen, nullptr, 0);
  if (needed > 0) {
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(needed));
    if (!out) throw std::bad_alloc();
    int written =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), srcLen, out, needed);
    if (written == needed) return out;
    SysFreeString(out);
  }
  DWORD error = GetLastError();
  if (needed <= 0 && (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY))
    throw std::bad_alloc();
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (!out) throw std::bad_alloc();
  for (size_t i = 0; i < text.size(); ++i)
    out[i] = static_cast<OLECHAR>(static_cast<unsigned char>(text[i]));
  return out;
}

// Releases the caller's previous string and stores the new one.
void StoreText(BSTR* variable, std::string_view text) {
  BSTR fresh = ToWide(text);
  if (*variable) SysFreeString(*variable);
  *variable = fresh;
}

}  // namespace

const fw::DispatchTable S19Support::kDispatch(nullptr, 0);

S19Support::S19Support() = default;

IUnknown* S19Support::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IS19File)) return static_cast<IS19File*>(this);
  if (IsEqualIID(iid, IID_IS19FileEx)) return static_cast<IS19FileEx*>(this);
  if (IsEqualIID(iid, IID_IS19Error)) return static_cast<IS19Error*>(this);
  if (IsEqualIID(iid, IID_IDispatch)) return static_cast<IDispatch*>(this);
  return nullptr;
}

// Runs one file operation: resets the last error, maps every failure to its
// code and text, and returns the code.
template <class Operation>
HRESULT S19Support::Run(bool reading, Operation&& operation) {
  fw::MaintainState state(fw::ThisModuleState());
  lastError_ = S_OK;
  lastErrorText_ = kS19TextNoError;
  try {
    operation();
  } catch (const S19Damaged&) {
    lastError_ = S19_E_DAMAGED;
    lastErrorText_ = kS19TextDamaged;
  } catch (const S19FileError&) {
    lastError_ = S19_E_FILE;
    lastErrorText_ = kS19TextFile;
  } catch (const S19BadArgument&) {
    lastError_ = E_POINTER;
    lastErrorText_ = kS19TextBadPointer;
  } catch (const std::bad_alloc&) {
    lastError_ = E_OUTOFMEMORY;
    lastErrorText_ = reading ? kS19TextNoMemoryRead : kS19TextNoMemoryWrite;
  } catch (...) {
    // Nothing else is raised by the codec; should anything be, it does
    // not cross the interface.
    lastError_ = S19_E_FILE;
    lastErrorText_ = kS19TextFile;
  }
  return lastError_;
}

HRESULT S19Support::WriteImageFile(BSTR fileName, BSTR text, LONG baseAddress, BYTE* header,
                                   LONG headerLength, BYTE* data, LONG dataLength) {
  CBstrOwner name(fileName);
  CBstrOwner body(text);
  return Run(false, [&] {
    std::string narrowName = ToNarrow(name.Get(), true);
    std::string narrowText = ToNarrow(body.Get(), false);
    name.Release();
    body.Release();
    holm::WriteImageFile(narrowName, narrowText, baseAddress, header, headerLength, data,
                         dataLength);
  });
}

HRESULT S19Support::ReadImageFile(BSTR fileName, BSTR* text, LONG baseAddress, BYTE* header,
                                  LONG headerSize, BYTE* data, LONG dataSize) {
  CBstrOwner name(fileName);
  return Run(true, [&] {
    if (!text) throw S19BadArgument("null text variable");
    std::string narrowName = ToNarrow(name.Get(), true);
    name.Release();
    holm::ReadImageFile(
        narrowName, [text](std::string_view collected) { StoreText(text, collected); }, baseAddress,
        header, headerSize, data, dataSize);
  });
}

HRESULT S19Support::WriteImageFileEx(BSTR fileName, S19ImageDesc* desc, S19FileInfo* options) {
  CBstrOwner name(fileName);
  return Run(false, [&] {
    if (!desc || !options) throw S19BadArgument("null descriptor or options");
    std::string narrowName = ToNarrow(name.Get(), true);
    name.Release();
    std::string narrowText;
    if (desc->Text) {
      // The text variable is left empty.
      CBstrOwner body(*desc->Text);
      *desc->Text = nullptr;
      narrowText = ToNarrow(body.Get(), false);
    }
    ImageDesc image{desc->BaseAddress, desc->Header, desc->HeaderSize, desc->Data, desc->DataSize};
    FileInfo what;
    what.HasHeader = options->HasHeader;
    what.HasData = options->HasData;
    what.HasEnd = options->HasEnd;
    holm::WriteImageFileEx(narrowName, narrowText, image, what);
  });
}

HRESULT S19Support::ReadImageFileEx(BSTR fileName, S19ImageDesc* desc, S19FileInfo* info) {
  CBstrOwner name(fileName);
  return Run(true, [&] {
    if (!desc || !info || !desc->Text) throw S19BadArgument("null descriptor, report or text");
    std::string narrowName = ToNarrow(name.Get(), true);
    name.Release();
    ImageDesc image{desc->BaseAddress, desc->Header, desc->HeaderSize, desc->Data, desc->DataSize};
    FileInfo report;
    BSTR* variable = desc->Text;
    try {
      holm::ReadImageFileEx(narrowName, image, report,
                            [variable](std::string_view t) { StoreText(variable, t); });
    } catch (...) {
      *info = S19FileInfo{};
      throw;
    }
    static_assert(sizeof(FileInfo) == sizeof(S19FileInfo), "report layouts differ");
    info->LowAddress = report.LowAddress;
    info->Reserved1 = 0;
    info->Span = report.Span;
    info->HasHeader = report.HasHeader;
    info->HeaderBad = report.HeaderBad;
    info->HasData = report.HasData;
    info->Reserved2 = 0;
    info->HasEnd = report.HasEnd;
    info->EndGood = report.EndGood;
    info->ChecksumErrors = report.ChecksumErrors;
    info->FormatErrors = report.FormatErrors;
  });
}

HRESULT S19Support::GetErrorCode(LONG* code) {
  fw::MaintainState state(fw::ThisModuleState());
  if (!code) return E_POINTER;
  *code = lastError_;
  return S_OK;
}

HRESULT S19Support::GetErrorText(const char** text) {
  fw::MaintainState state(fw::ThisModuleState());
  if (!text) return E_POINTER;
  *text = lastErrorText_;
  return S_OK;
}

}  // namespace holm

fw::CCmdTarget* CreateS19Support() {
  return new holm::S19Support;
}
