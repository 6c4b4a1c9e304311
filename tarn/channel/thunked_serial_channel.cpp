#include "tarn/channel/thunked_serial_channel.h"

#include <cstring>
#include <new>

#include "tarn/channel/settings_reader.h"

namespace tarn {
namespace {

enum ThunkCommand : uint32_t {
  kCmdOpen = 16,
  kCmdClose = 32,
  kCmdConfigure = 48,
  kCmdBreakOn = 64,
  kCmdBreakOff = 80,
  kCmdPutByte = 96,
  kCmdGetByte = 112,
  kCmdStatus = 160,
  kCmdPurgeInput = 176,
  kCmdPurgeOutput = 192,
  kCmdEscape = 208,
};
constexpr uint32_t kResultTimeout = 2;

// Process-wide registration state. Creating, initialising and destroying
// channels happens on one thread at a time.
int32_t g_instances = 0;
bool g_registered = false;
ThunkEntry g_entry = nullptr;
ThunkLoader* g_loader = nullptr;
uint32_t (*g_ticks)() = nullptr;

ThunkLoader& Loader() {
  return g_loader != nullptr ? *g_loader : PlatformThunkLoader();
}
uint32_t Ticks() {
  return g_ticks != nullptr ? g_ticks() : PlatformTickCount();
}

}  // namespace

CThunkedSerialChannel::CThunkedSerialChannel() {
  ++g_instances;
  paramBlock.word[7] = timeout;
}

CThunkedSerialChannel::~CThunkedSerialChannel() {
  if (--g_instances == 0 && g_registered) {
    // A failure to free the helper library cannot be reported from a
    // destructor; the registration is dropped all the same.
    try {
      ReleaseThunk();
    } catch (...) {
    }
    g_registered = false;
    g_entry = nullptr;
  }
  delete[] deviceName;
}

int32_t CThunkedSerialChannel::InstanceCount() {
  return g_instances;
}
bool CThunkedSerialChannel::IsRegistered() {
  return g_registered;
}
void CThunkedSerialChannel::SetLoader(ThunkLoader* loader) {
  g_loader = loader;
}
void CThunkedSerialChannel::SetTickSource(uint32_t (*ticks)()) {
  g_ticks = ticks;
}

void CThunkedSerialChannel::Initialize() {
  if (!g_registered) {
    ThunkEntry entry = Loader().Register();
    if (entry == nullptr) throw GeneralException(kChannelNoHelper);
    g_entry = entry;
    g_registered = true;
  }
  CSerialChannel::Initialize();
}

void CThunkedSerialChannel::ReleaseThunk() {
  Loader().Unregister();
}

uint32_t CThunkedSerialChannel::Call(uint32_t command) {
  // Without a registered entry no command can reach the port.
  if (g_entry == nullptr) throw GeneralException(kChannelControlFailed);
  return g_entry(&paramBlock, command, translationList);
}

void CThunkedSerialChannel::Open() {
  if (open) return;
  paramBlock.word[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(deviceName));
  paramBlock.word[1] = 0;
  paramBlock.word[2] = baudRate;
  paramBlock.word[3] = parityCode;
  paramBlock.word[4] = dataBits;
  paramBlock.word[5] = stopBitsCode;
  paramBlock.word[7] = timeout;
  paramBlock.deviceName = deviceName;
  translationList[0] = &paramBlock.word[0];
  translationList[1] = nullptr;
  uint32_t result = Call(kCmdOpen);
  translationList[0] = nullptr;
  if (result != 0) throw GeneralException(kChannelCantOpen);
  open = 1;
  try {
    if (Call(kCmdConfigure) != 0) throw GeneralException(kChannelControlFailed);
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void CThunkedSerialChannel::Close() {
  if (!open) return;
  translationList[0] = nullptr;
  uint32_t result = Call(kCmdClose);
  open = 0;
  if (result != 0) throw GeneralException(kChannelControlFailed);
}

void CThunkedSerialChannel::SetSettings(const char* text) {
  // The pairs change the fields in place; those applied before a failure
  // keep their effect.
  LineSettings line{deviceName, baudRate, parityCode, dataBits, stopBitsCode};
  if (!ApplySettingsText(text, NumberRule::kAtoi16, line)) return;  // no pair: nothing changes
  CSerialChannel::SetSettings(text);
  if (open) {
    Close();
    Open();
  }
}

bool CThunkedSerialChannel::SetBreak(bool on) {
  if (open && Call(on ? kCmdBreakOn : kCmdBreakOff) != 0)
    throw GeneralException(kChannelControlFailed);
  return CSerialChannel::SetBreak(on);
}

uint32_t CThunkedSerialChannel::SetTimeout(uint32_t milliseconds) {
  uint32_t previous = CSerialChannel::SetTimeout(milliseconds);
  paramBlock.word[7] = timeout;
  return previous;
}

void CThunkedSerialChannel::Delay(uint32_t milliseconds) {
  // Busy wait on the millisecond tick; a wrap of the counter or of
  // start + milliseconds ends the wait early.
  const uint32_t start = Ticks();
  const uint32_t end = start + milliseconds;
  for (;;) {
    uint32_t now = Ticks();
    if (end < now || now < start) return;
  }
}

// The status query, the purges and the extended function send nothing while
// the channel holds no port: the helper library may have given the port to
// someone else since. A closed channel's status is 0.
uint32_t CThunkedSerialChannel::QueryStatus() {
  if (!open) return 0;
  if (Call(kCmdStatus) != 0) throw GeneralException(kChannelControlFailed);
  return paramBlock.word[8];
}

void CThunkedSerialChannel::PurgeInput() {
  if (!open) return;
  if (Call(kCmdPurgeInput) != 0) throw GeneralException(kChannelControlFailed);
}

void CThunkedSerialChannel::PurgeOutput() {
  if (!open) return;
  if (Call(kCmdPurgeOutput) != 0) throw GeneralException(kChannelControlFailed);
}

void CThunkedSerialChannel::EscapeFunction(uint32_t code) {
  if (!open) return;
  paramBlock.word[9] = code;
  if (Call(kCmdEscape) != 0) throw GeneralException(kChannelControlFailed);
}

void CThunkedSerialChannel::PutByte(uint8_t byte) {
  paramBlock.word[6] = byte;
  uint32_t result = Call(kCmdPutByte);
  if (result == kResultTimeout) throw GeneralException(kChannelWriteTimeout);
  if (result != 0) throw GeneralException(kChannelControlFailed);
  CancelEcho();
}

uint8_t CThunkedSerialChannel::GetByte() {
  uint32_t result = Call(kCmdGetByte);
  if (result == kResultTimeout) throw GeneralException(kChannelReadTimeout);
  if (result != 0) throw GeneralException(kChannelControlFailed);
  return static_cast<uint8_t>(paramBlock.word[6] & 0xFF);
}

}  // namespace tarn
