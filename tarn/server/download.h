// CDownload: the download server's one component class ("BRENTAR.TARN").
//
// A client holds it through four custom interfaces (IDownloadError,
// IDownloadState, IDownloadTransfer, IPagerCommands; no IDispatch). It owns
// one serial channel, chosen at construction by the platform (the thunked
// channel on Win32s or when the version query fails, the direct channel
// everywhere else), and all protocol state (CPagerProtocol).
//
// Every method that calls into the protocol or the channel runs guarded:
// CTarnTimeout that escapes stores error 2, anything else error 1, and the
// method returns E_FAIL without writing its out-parameters. Out-parameters
// are written only when a method returns S_OK.
//
// A client thread cancelled inside a call (POSIX thread cancellation: the
// port's waits are cancellation points) is not stopped by the guard: the
// port is closed, error 1 is stored and the thread's unwinding goes on.
//
// Null pointers: a method given a null pointer that it would read or write
// returns E_POINTER before doing anything else; nothing is sent, no field
// and not the error code changes. Exceptions: AttachProgress(null) detaches
// the indicator; a memory buffer may be null when its length is 0.
#ifndef TARN_SERVER_DOWNLOAD_H
#define TARN_SERVER_DOWNLOAD_H

#include <tarnholm/interfaces.h>

#include "framework/cmd_target.h"
#include "framework/module.h"
#include "tarn/protocol/pager_protocol.h"

namespace tarn {

class CDownload : public fw::CCmdTarget,
                  public CPagerProtocol,
                  public IDownloadError,
                  public IDownloadState,
                  public IDownloadTransfer,
                  public IPagerCommands {
 public:
  using CTarnTimeout = CPagerProtocol::CTarnTimeout;

  // The creation function of the class factory: a new object with one
  // reference. Throws std::bad_alloc only.
  static fw::CCmdTarget* Create();

  FW_IUNKNOWN_IMPL()

  // IDownloadError
  HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* code) override;
  HRESULT STDMETHODCALLTYPE GetErrorText(const char** text) override;

  // IDownloadState
  HRESULT STDMETHODCALLTYPE GetPagerType(BYTE* type) override;
  HRESULT STDMETHODCALLTYPE GetOptionByte(BYTE* option) override;
  HRESULT STDMETHODCALLTYPE GetInfoBlock(BYTE* block16) override;
  HRESULT STDMETHODCALLTYPE GetInfoId(BYTE* id6) override;
  HRESULT STDMETHODCALLTYPE GetSecondRecord(BYTE* record10) override;
  HRESULT STDMETHODCALLTYPE GetFirstRecord(BYTE* record10) override;
  HRESULT STDMETHODCALLTYPE SetPortSettings(LONG* result, const char* settings) override;
  HRESULT STDMETHODCALLTYPE GetStatusChar(BYTE* status) override;
  HRESULT STDMETHODCALLTYPE SetPassword(const BYTE* password10) override;
  HRESULT STDMETHODCALLTYPE ClearPassword() override;
  HRESULT STDMETHODCALLTYPE AttachProgress(IProgressIndicator* progress) override;
  HRESULT STDMETHODCALLTYPE GetStatusOk(LONG* ok) override;
  HRESULT STDMETHODCALLTYPE GetPasswordReply(BYTE* reply) override;
  HRESULT STDMETHODCALLTYPE GetInfoLastByte(BYTE* last) override;
  HRESULT STDMETHODCALLTYPE GetInfoByte1(BYTE* byte1) override;
  HRESULT STDMETHODCALLTYPE ResetPasswordReply() override;

  // IDownloadTransfer
  HRESULT STDMETHODCALLTYPE Identify() override;
  HRESULT STDMETHODCALLTYPE ReadMemory(LONG* result, WORD address, BYTE* buffer,
                                       WORD length) override;
  HRESULT STDMETHODCALLTYPE WriteMemory(LONG* result, WORD address, const BYTE* data,
                                        WORD length) override;
  HRESULT STDMETHODCALLTYPE Activate() override;

  // IPagerCommands
  HRESULT STDMETHODCALLTYPE SendCommand13() override;
  HRESULT STDMETHODCALLTYPE BeginCommands() override;
  HRESULT STDMETHODCALLTYPE SendCommand0B() override;
  HRESULT STDMETHODCALLTYPE SendCommandFF() override;
  HRESULT STDMETHODCALLTYPE EndCommands() override;
  HRESULT STDMETHODCALLTYPE SendCommandFFRepeat() override;
  HRESULT STDMETHODCALLTYPE SendBytePair(LONG* result, LONG first, LONG second) override;
  HRESULT STDMETHODCALLTYPE SendCommand42(LONG* result, LONG value) override;
  HRESULT STDMETHODCALLTYPE SendCommandAE(LONG* result, LONG address, WORD value) override;
  HRESULT STDMETHODCALLTYPE SendCommand40(LONG* result, LONG address, WORD value) override;
  HRESULT STDMETHODCALLTYPE SendCommand46(LONG* result, LONG address, LONG count) override;

 protected:
  CDownload();
  ~CDownload() override;

  IUnknown* GetInterface(REFIID iid) override;
  IUnknown* GetPrimaryUnknown() override;

 private:
  // Forwards the protocol's progress reports to the attached indicator.
  class ProgressAdapter : public ProgressSink {
   public:
    void SetProgressPercent(int32_t percent) override;
    IProgressIndicator* indicator = nullptr;
  };

  // Runs body under the exception mapping at the component boundary.
  template <class Body>
  HRESULT Guarded(Body&& body);
  // Runs an operation whose result goes to an out-parameter; E_POINTER
  // when result is null or argumentsOk is false (a null buffer).
  template <class Op>
  HRESULT GuardedResult(LONG* result, bool argumentsOk, Op&& op);
  // Closes the port, if any, ignoring failures.
  void ReleasePortQuietly() noexcept;

  fw::ModuleState* moduleState_;
  ProgressAdapter progress_;
};

}  // namespace tarn

#endif  // TARN_SERVER_DOWNLOAD_H
