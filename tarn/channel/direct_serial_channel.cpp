#include "tarn/channel/direct_serial_channel.h"

#include <utility>

#include "tarn/channel/settings_reader.h"

namespace tarn {
namespace {

// What a UART can frame: one and a half stop bits only with 5-bit words,
// two stop bits only with longer words (Windows' serial driver refuses the
// other combinations; the channel refuses them on every platform alike).
bool StopBitsFitWordSize(uint8_t stopBitsCode, uint8_t dataBits) {
  if (stopBitsCode == 1) return dataBits == 5;
  if (stopBitsCode == 2) return dataBits != 5;
  return true;
}

}  // namespace

CDirectSerialChannel::CDirectSerialChannel() : port(CreatePlatformSerialPort()) {}

CDirectSerialChannel::CDirectSerialChannel(std::unique_ptr<ISerialPort> portImpl)
    : port(std::move(portImpl)) {}

// A port still held here is released: once the channel is gone nothing
// could ever close it, and the device would stay locked for the life of the
// process.
CDirectSerialChannel::~CDirectSerialChannel() {
  if (port->IsOpen()) port->Close();
  delete[] deviceName;
}

void CDirectSerialChannel::Open() {
  if (open) return;
  SetFailure(0, nullptr);
  if (deviceName == nullptr || deviceName[0] == '\0') {
    SetFailure(0, "no device name");
    throw GeneralException(kChannelCantOpen);
  }
  if (!port->Open(deviceName)) {
    SetFailure(port->LastError(), port->LastErrorReason());
    throw GeneralException(kChannelCantOpen);
  }
  open = 1;
  try {
    if (!StopBitsFitWordSize(stopBitsCode, dataBits)) {
      SetFailure(0, "line settings refused");
      throw GeneralException(kChannelControlFailed);
    }
    if (!port->Configure({baudRate, dataBits, parityCode, stopBitsCode})) {
      SetFailure(port->LastError(), "line settings refused");
      throw GeneralException(kChannelControlFailed);
    }
    port->PurgeAll();
    SetTimeout(timeout);
  } catch (...) {
    // A failed Open leaves the channel closed, whatever the close does.
    try {
      Close();
    } catch (...) {
      if (port->IsOpen()) port->Close();
      open = 0;
    }
    throw;
  }
  TraceEvent("open");
}

void CDirectSerialChannel::Close() {
  if (!open) return;
  PurgeInput();
  PurgeOutput();
  if (!port->Close()) throw GeneralException(kChannelControlFailed);
  open = 0;
  TraceEvent("close");
}

void CDirectSerialChannel::SetSettings(const char* text) {
  if (text == nullptr) return;  // no text: nothing changes
  LineSettings line{deviceName, baudRate, parityCode, dataBits, stopBitsCode};
  if (!ApplySettingsText(text, NumberRule::kStrtoul32, line)) return;
  CSerialChannel::SetSettings(text);
  if (open) {
    Close();
    Open();
  }
}

bool CDirectSerialChannel::SetBreak(bool on) {
  if (open) {
    if (!port->SetBreak(on)) throw GeneralException(kChannelControlFailed);
    if (!on) port->PurgeAll();
  }
  return CSerialChannel::SetBreak(on);
}

uint32_t CDirectSerialChannel::SetTimeout(uint32_t milliseconds) {
  if (open && !port->SetTimeouts(milliseconds)) throw GeneralException(kChannelTimeoutsRefused);
  return CSerialChannel::SetTimeout(milliseconds);
}

// PurgeInput, PurgeOutput and EscapeFunction do nothing on a closed channel:
// there is no port to act on.
void CDirectSerialChannel::PurgeInput() {
  if (open && !port->PurgeInput()) throw GeneralException(kChannelControlFailed);
}

void CDirectSerialChannel::PurgeOutput() {
  if (open && !port->PurgeOutput()) throw GeneralException(kChannelControlFailed);
}

void CDirectSerialChannel::EscapeFunction(uint32_t code) {
  if (open && !port->Escape(code)) throw GeneralException(kChannelControlFailed);
}

void CDirectSerialChannel::PutByte(uint8_t byte) {
  switch (port->Write(byte)) {
    case PortIo::kDone:
      break;
    case PortIo::kTimedOut:
      TraceEvent("write timeout");
      throw GeneralException(kChannelWriteTimeout);
    case PortIo::kFailed:
      TraceEvent("write failed");
      throw GeneralException(kChannelWriteFailed);
  }
  TraceByte(TraceDirection::kSent, byte);
  CancelEcho();
}

uint8_t CDirectSerialChannel::GetByte() {
  uint8_t byte = 0;
  switch (port->Read(&byte)) {
    case PortIo::kDone:
      break;
    case PortIo::kTimedOut:
      TraceEvent("read timeout");
      throw GeneralException(kChannelReadTimeout);
    case PortIo::kFailed:
      TraceEvent("read failed");
      throw GeneralException(kChannelReadFailed);
  }
  TraceByte(TraceDirection::kReceived, byte);
  return byte;
}

}  // namespace tarn
