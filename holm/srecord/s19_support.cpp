#include "holm/srecord/s19_support.h"

#include <tarnholm/text.h>

#include <new>
#include <string>

#include "framework/module.h"
#include "holm/srecord/srecord.h"

namespace holm {

namespace {

// Takes ownership of a string argument and frees it on every path.
class BstrOwner {
 public:
  explicit BstrOwner(BSTR s) : s_(s) {}
  ~BstrOwner() { Release(); }
  BstrOwner(const BstrOwner&) = delete;
  BstrOwner& operator=(const BstrOwner&) = delete;
  BSTR Get() const { return s_; }
  void Take(BSTR s) {
    Release();
    s_ = s;
  }
  void Release() {
    if (s_) SysFreeString(s_);
    s_ = nullptr;
  }

 private:
  BSTR s_;
};

// Wide to narrow text in the system code page. A file name that has no
// exact narrow form would name another file: that is a file failure rather
// than a quiet substitution.
std::string ToNarrow(BSTR s, tarnholm::TextKind kind) {
  std::string out;
  if (!tarnholm::BstrToNarrow(s, out, kind))
    throw S19FileError(kind == tarnholm::TextKind::kFileName ? "file name has no narrow form"
                                                             : "text cannot be converted");
  return out;
}

// Narrow text read from a file to a new wide string; a byte sequence the
// code page does not define costs only its bytes (each becomes U+FFFD).
BSTR ToWide(std::string_view text) {
  BSTR out = tarnholm::NarrowToBstr(text);
  if (!out) throw S19FileError("text cannot be converted");
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
  BstrOwner name(fileName);
  BstrOwner body(text);
  return Run(false, [&] {
    std::string narrowName = ToNarrow(name.Get(), tarnholm::TextKind::kFileName);
    std::string narrowText = ToNarrow(body.Get(), tarnholm::TextKind::kText);
    name.Release();
    body.Release();
    holm::WriteImageFile(narrowName, narrowText, baseAddress, header, headerLength, data,
                         dataLength);
  });
}

HRESULT S19Support::ReadImageFile(BSTR fileName, BSTR* text, LONG baseAddress, BYTE* header,
                                  LONG headerSize, BYTE* data, LONG dataSize) {
  BstrOwner name(fileName);
  return Run(true, [&] {
    if (!text) throw S19BadArgument("null text variable");
    std::string narrowName = ToNarrow(name.Get(), tarnholm::TextKind::kFileName);
    name.Release();
    holm::ReadImageFile(
        narrowName, [text](std::string_view collected) { StoreText(text, collected); }, baseAddress,
        header, headerSize, data, dataSize);
  });
}

HRESULT S19Support::WriteImageFileEx(BSTR fileName, S19ImageDesc* desc, S19FileInfo* options) {
  BstrOwner name(fileName);
  // The text is taken first, so the caller's variable is left empty on
  // every path, a failure included.
  BstrOwner body(nullptr);
  if (desc && desc->Text) {
    body.Take(*desc->Text);
    *desc->Text = nullptr;
  }
  return Run(false, [&] {
    if (!desc || !options) throw S19BadArgument("null descriptor or options");
    std::string narrowName = ToNarrow(name.Get(), tarnholm::TextKind::kFileName);
    name.Release();
    std::string narrowText = ToNarrow(body.Get(), tarnholm::TextKind::kText);
    body.Release();
    ImageDesc image{desc->BaseAddress, desc->Header, desc->HeaderSize, desc->Data, desc->DataSize};
    FileInfo what;
    what.HasHeader = options->HasHeader;
    what.HasData = options->HasData;
    what.HasEnd = options->HasEnd;
    holm::WriteImageFileEx(narrowName, narrowText, image, what);
  });
}

namespace {

static_assert(sizeof(FileInfo) == sizeof(S19FileInfo), "report layouts differ");

FileInfo FromReport(const S19FileInfo& r) {
  return FileInfo{r.LowAddress, r.Reserved1, r.Span,    r.HasHeader,      r.HeaderBad,   r.HasData,
                  r.Reserved2,  r.HasEnd,    r.EndGood, r.ChecksumErrors, r.FormatErrors};
}

void ToReport(const FileInfo& f, S19FileInfo& r) {
  r.LowAddress = f.LowAddress;
  r.Reserved1 = f.Reserved1;
  r.Span = f.Span;
  r.HasHeader = f.HasHeader;
  r.HeaderBad = f.HeaderBad;
  r.HasData = f.HasData;
  r.Reserved2 = f.Reserved2;
  r.HasEnd = f.HasEnd;
  r.EndGood = f.EndGood;
  r.ChecksumErrors = f.ChecksumErrors;
  r.FormatErrors = f.FormatErrors;
}

}  // namespace

HRESULT S19Support::ReadImageFileEx(BSTR fileName, S19ImageDesc* desc, S19FileInfo* info) {
  BstrOwner name(fileName);
  return Run(true, [&] {
    if (!desc || !info || !desc->Text) throw S19BadArgument("null descriptor, report or text");
    std::string narrowName = ToNarrow(name.Get(), tarnholm::TextKind::kFileName);
    name.Release();
    ImageDesc image{desc->BaseAddress, desc->Header, desc->HeaderSize, desc->Data, desc->DataSize};
    // The codec clears the report only once the file is open, and fills it
    // as it reads: what it holds when a failure stops it is what the caller
    // gets. A file that cannot be opened leaves the caller's fields alone.
    FileInfo report = FromReport(*info);
    BSTR* variable = desc->Text;
    try {
      holm::ReadImageFileEx(narrowName, image, report,
                            [variable](std::string_view t) { StoreText(variable, t); });
    } catch (...) {
      ToReport(report, *info);
      throw;
    }
    ToReport(report, *info);
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
