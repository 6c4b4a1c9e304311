// S19Support: the creatable object through which a client reads and writes
// S-record image files. It exposes the codec's four file operations on
// IS19File and IS19FileEx, keeps the result of the last one and offers it
// with a fixed text on IS19Error. Automation is enabled with an empty
// dispatch map.
#ifndef HOLM_SRECORD_S19_SUPPORT_H
#define HOLM_SRECORD_S19_SUPPORT_H

#include <tarnholm/interfaces.h>

#include "framework/cmd_target.h"
#include "framework/dispatch.h"

namespace holm {

// Texts of the last result; static strings that live as long as the library.
inline constexpr const char* kS19TextNoError = "No error";
inline constexpr const char* kS19TextFile = "Can not work with file. Unspecified error";
inline constexpr const char* kS19TextDamaged = "File damaged";
inline constexpr const char* kS19TextNoMemoryWrite = "Not enough memory";
inline constexpr const char* kS19TextNoMemoryRead = "To little memory";
// A null descriptor, report, text variable or buffer with a nonzero size.
inline constexpr const char* kS19TextBadPointer = "Invalid pointer";

class S19Support : public fw::CCmdTarget,
                   public IS19File,
                   public IS19FileEx,
                   public IS19Error,
                   public IDispatch {
 public:
  S19Support();

  FW_IUNKNOWN_IMPL()
  FW_IDISPATCH_IMPL(kDispatch)

  // IS19File
  HRESULT STDMETHODCALLTYPE WriteImageFile(BSTR fileName, BSTR text, LONG baseAddress, BYTE* header,
                                           LONG headerLength, BYTE* data, LONG dataLength) override;
  HRESULT STDMETHODCALLTYPE ReadImageFile(BSTR fileName, BSTR* text, LONG baseAddress, BYTE* header,
                                          LONG headerSize, BYTE* data, LONG dataSize) override;
  // IS19FileEx
  HRESULT STDMETHODCALLTYPE WriteImageFileEx(BSTR fileName, S19ImageDesc* desc,
                                             S19FileInfo* options) override;
  HRESULT STDMETHODCALLTYPE ReadImageFileEx(BSTR fileName, S19ImageDesc* desc,
                                            S19FileInfo* info) override;
  // IS19Error
  HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* code) override;
  HRESULT STDMETHODCALLTYPE GetErrorText(const char** text) override;

 protected:
  IUnknown* GetInterface(REFIID iid) override;
  IUnknown* GetPrimaryUnknown() override { return static_cast<IS19File*>(this); }

 private:
  static const fw::DispatchTable kDispatch;

  template <class Operation>
  HRESULT Run(bool reading, Operation&& operation);

  HRESULT lastError_ = S_OK;
  const char* lastErrorText_ = kS19TextNoError;
};

}  // namespace holm

// Used by the Holm module's class factory.
fw::CCmdTarget* CreateS19Support();

#endif  // HOLM_SRECORD_S19_SUPPORT_H
