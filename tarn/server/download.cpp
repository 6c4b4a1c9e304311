#include "tarn/server/download.h"

#include <cstring>
#include <new>

#include "framework/module.h"
#include "tarn/channel/direct_serial_channel.h"
#include "tarn/channel/thunked_serial_channel.h"
#include "tarn/server/platform.h"
#include "tarn/server/thread_cancel.h"

namespace tarn {

namespace {

// Creates and prepares the channel the platform calls for, or returns null.
CSerialChannel* CreateChannel() {
  uint32_t platform = 0;
  CSerialChannel* channel = nullptr;
  try {
    if (!QueryPlatformId(&platform) || platform == kPlatformWin32s)
      channel = new CThunkedSerialChannel;
    else
      channel = new CDirectSerialChannel;
  } catch (...) {
    return nullptr;
  }
  try {
    channel->Initialize();
    channel->SetTimeout(100);
    channel->SetEchoCancel(true);
  } catch (...) {
    delete channel;
    return nullptr;
  }
  return channel;
}

}  // namespace

fw::CCmdTarget* CDownload::Create() {
  return new CDownload;
}

CDownload::CDownload() : moduleState_(fw::ThisModuleState()) {
  SetDeadline(kNoDeadlineMs);
  channel = CreateChannel();
  if (channel == nullptr) Record(Failed(kErrorCantInitialize));
}

CDownload::~CDownload() {
  // The channel's destructor does not close an open port.
  delete channel;
  channel = nullptr;
}

IUnknown* CDownload::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IDownloadError)) return static_cast<IDownloadError*>(this);
  if (IsEqualIID(iid, IID_IDownloadState)) return static_cast<IDownloadState*>(this);
  if (IsEqualIID(iid, IID_IDownloadTransfer)) return static_cast<IDownloadTransfer*>(this);
  if (IsEqualIID(iid, IID_IPagerCommands)) return static_cast<IPagerCommands*>(this);
  return nullptr;
}

IUnknown* CDownload::GetPrimaryUnknown() {
  return static_cast<IDownloadError*>(this);
}

void CDownload::ProgressAdapter::SetProgressPercent(int32_t percent) {
  if (indicator != nullptr) indicator->SetProgressPercent(percent);
}

template <class Body>
HRESULT CDownload::Guarded(Body&& body) {
  fw::MaintainState state(moduleState_);
  try {
    return body();
  } catch (const CTarnTimeout&) {
    Record(Failed(kErrorUnhandledTimeout));
  } catch (const ThreadCancelUnwind&) {
    // The calling thread is being cancelled: the unwind must go on to the
    // thread's end, and the port must not stay held by a thread that is gone.
    Record(Failed(kErrorUnhandledException));
    ReleasePortQuietly();
    throw;
  } catch (...) {
    Record(Failed(kErrorUnhandledException));
  }
  return E_FAIL;
}

void CDownload::ReleasePortQuietly() noexcept {
  if (channel == nullptr) return;
  try {
    channel->Close();
  } catch (...) {
    // A port that does not close now is released with the object.
  }
}

template <class Op>
HRESULT CDownload::GuardedResult(LONG* result, bool argumentsOk, Op&& op) {
  return Guarded([&]() -> HRESULT {
    if (result == nullptr || !argumentsOk) return E_POINTER;
    LONG r = op();
    *result = r;
    return S_OK;
  });
}

// Methods that read or write only a field of the object need no guard, but
// still enter the module state and check their pointer.
#define TARN_FIELD_OUT(ptr, value)        \
  fw::MaintainState state(moduleState_);  \
  if ((ptr) == nullptr) return E_POINTER; \
  *(ptr) = (value);                       \
  return S_OK

// ---------------------------------------------------------------- IDownloadError

HRESULT CDownload::GetErrorCode(LONG* code) {
  return Guarded([&]() -> HRESULT {
    if (code == nullptr) return E_POINTER;
    *code = LookupError(lastError).code;
    return S_OK;
  });
}

HRESULT CDownload::GetErrorText(const char** text) {
  return Guarded([&]() -> HRESULT {
    if (text == nullptr) return E_POINTER;
    *text = LookupError(lastError).text;
    return S_OK;
  });
}

// ---------------------------------------------------------------- IDownloadState

HRESULT CDownload::GetPagerType(BYTE* type) {
  TARN_FIELD_OUT(type, pagerType);
}
HRESULT CDownload::GetOptionByte(BYTE* option) {
  TARN_FIELD_OUT(option, optionByte);
}
HRESULT CDownload::GetStatusChar(BYTE* status) {
  TARN_FIELD_OUT(status, statusChar);
}
HRESULT CDownload::GetStatusOk(LONG* ok) {
  TARN_FIELD_OUT(ok, statusOk);
}
HRESULT CDownload::GetPasswordReply(BYTE* reply) {
  TARN_FIELD_OUT(reply, passwordReply);
}
HRESULT CDownload::GetInfoLastByte(BYTE* last) {
  TARN_FIELD_OUT(last, infoLastByte);
}

HRESULT CDownload::GetInfoBlock(BYTE* block16) {
  return Guarded([&]() -> HRESULT {
    if (block16 == nullptr) return E_POINTER;
    std::memcpy(block16, infoBlock, sizeof infoBlock);
    return S_OK;
  });
}

HRESULT CDownload::GetInfoId(BYTE* id6) {
  return Guarded([&]() -> HRESULT {
    if (id6 == nullptr) return E_POINTER;
    CopyInfoId(id6);
    return S_OK;
  });
}

HRESULT CDownload::GetSecondRecord(BYTE* record10) {
  return Guarded([&]() -> HRESULT {
    if (record10 == nullptr) return E_POINTER;
    std::memcpy(record10, secondRecord, sizeof secondRecord);
    return S_OK;
  });
}

HRESULT CDownload::GetFirstRecord(BYTE* record10) {
  return Guarded([&]() -> HRESULT {
    if (record10 == nullptr) return E_POINTER;
    std::memcpy(record10, firstRecord, sizeof firstRecord);
    return S_OK;
  });
}

HRESULT CDownload::SetPortSettings(LONG* result, const char* settings) {
  return Guarded([&]() -> HRESULT {
    if (result == nullptr || settings == nullptr) return E_POINTER;
    LONG r = S_OK;
    try {
      Channel().SetSettings(settings);
    } catch (const GeneralException&) {
      r = Record(Failed(kErrorComPort));
    }
    *result = r;
    return S_OK;
  });
}

HRESULT CDownload::SetPassword(const BYTE* password10) {
  return Guarded([&]() -> HRESULT {
    if (password10 == nullptr) return E_POINTER;
    CPagerProtocol::SetPassword(password10);
    return S_OK;
  });
}

HRESULT CDownload::ClearPassword() {
  return Guarded([&]() -> HRESULT {
    CPagerProtocol::ClearPassword();
    return S_OK;
  });
}

HRESULT CDownload::AttachProgress(IProgressIndicator* progress) {
  fw::MaintainState state(moduleState_);
  progress_.indicator = progress;  // no reference is taken
  progressSink = progress != nullptr ? &progress_ : nullptr;
  return S_OK;
}

HRESULT CDownload::GetInfoByte1(BYTE* byte1) {
  return Guarded([&]() -> HRESULT {
    if (byte1 == nullptr) return E_POINTER;
    *byte1 = infoBlock[1];
    return S_OK;
  });
}

HRESULT CDownload::ResetPasswordReply() {
  return Guarded([&]() -> HRESULT {
    passwordReply = wire::kNoReply;
    return S_OK;
  });
}

// ---------------------------------------------------------------- IDownloadTransfer

HRESULT CDownload::Identify() {
  return Guarded([&]() -> HRESULT {
    SetDeadline(kNoDeadlineMs);
    return DoIdentify();
  });
}

HRESULT CDownload::ReadMemory(LONG* result, WORD address, BYTE* buffer, WORD length) {
  return GuardedResult(result, length == 0 || buffer != nullptr,
                       [&] { return DoReadMemory(address, buffer, length); });
}

HRESULT CDownload::WriteMemory(LONG* result, WORD address, const BYTE* data, WORD length) {
  return GuardedResult(result, length == 0 || data != nullptr,
                       [&] { return DoWriteMemory(address, data, length); });
}

HRESULT CDownload::Activate() {
  return Guarded([&]() -> HRESULT {
    SetDeadline(kNoDeadlineMs);
    return DoActivate();
  });
}

// ---------------------------------------------------------------- IPagerCommands

HRESULT CDownload::SendCommand13() {
  return Guarded([&]() -> HRESULT { return DoSendCommand13(); });
}

HRESULT CDownload::BeginCommands() {
  return Guarded([&]() -> HRESULT {
    SetDeadline(kNoDeadlineMs);
    return DoBeginCommands();
  });
}

HRESULT CDownload::SendCommand0B() {
  return Guarded([&]() -> HRESULT {
    SetDeadline(kNoDeadlineMs);
    return DoSendCommand0B();
  });
}

HRESULT CDownload::SendCommandFF() {
  return Guarded([&]() -> HRESULT { return DoSendCommandFF(); });
}

HRESULT CDownload::EndCommands() {
  return Guarded([&]() -> HRESULT { return DoEndCommands(); });
}

HRESULT CDownload::SendCommandFFRepeat() {
  return Guarded([&]() -> HRESULT { return DoSendCommandFFRepeat(); });
}

HRESULT CDownload::SendBytePair(LONG* result, LONG first, LONG second) {
  return GuardedResult(result, true, [&] { return DoSendBytePair(first, second); });
}

HRESULT CDownload::SendCommand42(LONG* result, LONG value) {
  return GuardedResult(result, true, [&] { return DoSendCommand42(value); });
}

HRESULT CDownload::SendCommandAE(LONG* result, LONG address, WORD value) {
  return GuardedResult(result, true, [&] { return DoSendCommandAE(address, value); });
}

HRESULT CDownload::SendCommand40(LONG* result, LONG address, WORD value) {
  return GuardedResult(result, true, [&] { return DoSendCommand40(address, value); });
}

HRESULT CDownload::SendCommand46(LONG* result, LONG address, LONG count) {
  return GuardedResult(result, true, [&] { return DoSendCommand46(address, count); });
}

}  // namespace tarn
