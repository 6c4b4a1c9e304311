#include "tarn/channel/serial_channel.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

namespace tarn {

CSerialChannel::CSerialChannel() = default;

CSerialChannel::~CSerialChannel() {
  open = 0;
  delete[] settingsText;
}

void CSerialChannel::Initialize() {}

void CSerialChannel::Open() {
  open = 1;
}

void CSerialChannel::Close() {
  open = 0;
}

void CSerialChannel::WriteByte(uint8_t byte) {
  CheckOpen();
  PutByte(byte);
}

uint8_t CSerialChannel::ReadByte() {
  CheckOpen();
  return GetByte();
}

void CSerialChannel::WriteWord(uint16_t word) {
  CheckOpen();
  if (bigEndian) {
    PutByte(static_cast<uint8_t>(word >> 8));
    PutByte(static_cast<uint8_t>(word));
  } else {
    PutByte(static_cast<uint8_t>(word));
    PutByte(static_cast<uint8_t>(word >> 8));
  }
}

uint16_t CSerialChannel::ReadWord() {
  CheckOpen();
  uint16_t first = GetByte();
  uint16_t second = GetByte();
  return static_cast<uint16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
}

void CSerialChannel::WriteDword(uint32_t dword) {
  CheckOpen();
  for (int i = 0; i < 4; ++i) {
    int shift = bigEndian ? 24 - 8 * i : 8 * i;
    PutByte(static_cast<uint8_t>(dword >> shift));
  }
}

uint32_t CSerialChannel::ReadDword() {
  CheckOpen();
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t byte = GetByte();
    int shift = bigEndian ? 24 - 8 * i : 8 * i;
    value |= byte << shift;
  }
  return value;
}

void CSerialChannel::WriteBuffer(const uint8_t* bytes, uint32_t count) {
  CheckOpen();
  for (uint32_t i = 0; i < count; ++i) PutByte(bytes[i]);
}

void CSerialChannel::ReadBuffer(uint8_t* buffer, uint32_t count) {
  CheckOpen();
  for (uint32_t i = 0; i < count; ++i) buffer[i] = GetByte();
}

// A null text is not a settings text: it changes nothing and raises nothing.
void CSerialChannel::SetSettings(const char* text) {
  if (text == nullptr) return;
  size_t length = std::strlen(text);
  if (length > UINT32_MAX - 1) throw GeneralException(kChannelNoMemory);
  char* copy = new (std::nothrow) char[length + 1];
  if (copy == nullptr) throw GeneralException(kChannelNoMemory);
  std::memcpy(copy, text, length + 1);
  delete[] settingsText;
  settingsText = copy;
  settingsLength = static_cast<uint32_t>(length);
}

uint32_t CSerialChannel::GetSettings(char* buffer, uint32_t size) {
  if (settingsText == nullptr || buffer == nullptr || size == 0) return 0;
  uint32_t n = settingsLength < size ? settingsLength + 1 : size;
  std::memcpy(buffer, settingsText, n);
  return n;
}

uint32_t CSerialChannel::GetSettingsLength() {
  return settingsLength;
}

bool CSerialChannel::SetBreak(bool on) {
  bool previous = breakState != 0;
  breakState = on ? 1 : 0;
  return previous;
}

void CSerialChannel::SendBreak(uint32_t milliseconds) {
  SetBreak(true);
  Delay(milliseconds);
  SetBreak(false);
}

uint32_t CSerialChannel::SetTimeout(uint32_t milliseconds) {
  uint32_t previous = timeout;
  timeout = milliseconds;
  return previous;
}

uint32_t CSerialChannel::GetTimeout() {
  return timeout;
}

void CSerialChannel::Delay(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool CSerialChannel::SetBigEndian(bool on) {
  bool previous = bigEndian != 0;
  bigEndian = on ? 1 : 0;
  return previous;
}

bool CSerialChannel::SetEchoCancel(bool on) {
  bool previous = echoCancel != 0;
  echoCancel = on ? 1 : 0;
  return previous;
}

uint32_t CSerialChannel::QueryStatus() {
  return 0;
}

void CSerialChannel::PurgeInput() {}

void CSerialChannel::PurgeOutput() {}

void CSerialChannel::EscapeFunction(uint32_t code) {}

void CSerialChannel::PutByte(uint8_t byte) {}

uint8_t CSerialChannel::GetByte() {
  return 0;
}

void CSerialChannel::CheckOpen() {
  if (!open) throw GeneralException(kChannelNotOpen);
}

void CSerialChannel::CancelEcho() {
  if (echoCancel) (void)ReadByte();
}

}  // namespace tarn
