// The network serial port over RFC 2217 (see rfc2217_port.h).
#include "tarn/channel/rfc2217_port.h"

#include <utility>

#include "serial/remote_port.h"

namespace tarn {
namespace {

using namespace telnet;

constexpr size_t kMaxSubnegotiation = 64;

// SET-CONTROL values.
enum : uint8_t {
  kNoFlowControl = 1,
  kBreakOn = 5,
  kBreakOff = 6,
  kDtrOn = 8,
  kDtrOff = 9,
  kRtsOn = 11,
  kRtsOff = 12,
};

// PURGE-DATA values: the server's receive buffer (bytes from the line to
// us), its transmit buffer (bytes from us to the line).
enum : uint8_t { kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3 };

// Our parity and stop-bits codes as the option's values.
uint8_t ParityValue(uint8_t parityCode) {
  return static_cast<uint8_t>(parityCode + 1);  // none 1, odd 2, even 3, mark 4
}
uint8_t StopValue(uint8_t stopBitsCode) {
  return stopBitsCode == 1 ? 3 : stopBitsCode == 2 ? 2 : 1;  // 1.5 is 3, 2 is 2
}

}  // namespace

std::vector<uint8_t> TelnetEscape(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size + 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
  return out;
}

Rfc2217Port::Rfc2217Port(std::unique_ptr<INetSocket> socket) : socket_(std::move(socket)) {}

bool Rfc2217Port::Fail(const char* reason, int32_t error) {
  reason_ = reason;
  lastError_ = error;
  return false;
}

void Rfc2217Port::ResetSession() {
  open_ = false;
  lost_ = false;
  state_ = Parse::kData;
  sub_.clear();
  inbox_.clear();
  purgeCut_ = 0;
  inputPurged_ = false;
  comPort_ = Offer::kPending;
  answered_.fill(false);
  for (auto& a : answers_) a.clear();
}

bool Rfc2217Port::Open(const char* name) {
  if (open_) return Fail("port busy");
  serial::RemotePort remote;
  if (name == nullptr || !serial::ParseRemotePort(name, &remote))
    return Fail("not a valid rfc2217://HOST:PORT name");
  ResetSession();
  if (!socket_->Connect(remote.host, remote.port, kConnectTimeoutMs)) {
    switch (socket_->Failure()) {
      case NetFailure::kRefused:
        return Fail("connection refused", socket_->LastError());
      case NetFailure::kNoAnswer:
        return Fail("no answer from the host", socket_->LastError());
      case NetFailure::kHostUnknown:
        return Fail("host not found");
      default:
        return Fail("network error", socket_->LastError());
    }
  }
  if (!Negotiate()) {
    socket_->Close();
    return false;
  }
  open_ = true;
  return true;
}

// Offers binary both ways, no go-ahead and the COM port option; then a purge
// of both buffers proves that the server serves us.
bool Rfc2217Port::Negotiate() {
  const std::vector<uint8_t> offer = {kIac, kWill, kBinary,          kIac, kDo, kBinary,
                                      kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead,
                                      kIac, kWill, kComPort};
  if (!SendRaw(offer, kAnswerTimeoutMs)) return Fail("connection closed by the server");
  NetIo io = PumpUntil([&] { return comPort_ != Offer::kPending; }, kAnswerTimeoutMs);
  if (comPort_ == Offer::kDeclined) return Fail("not an RFC 2217 server");
  if (io == NetIo::kDone && comPort_ == Offer::kAccepted) {
    inputPurged_ = false;
    if (!SendCommand(kPurgeData, {kPurgeBoth})) io = NetIo::kClosed;
    if (io == NetIo::kDone) io = PumpUntil([&] { return inputPurged_; }, kAnswerTimeoutMs);
    if (io == NetIo::kDone) {
      inbox_.clear();
      return true;
    }
  }
  if (io == NetIo::kClosed)
    return Fail(inbox_.empty() ? "connection closed by the server" : "port busy");
  return Fail("no answer from the server");
}

bool Rfc2217Port::IsOpen() const {
  return open_;
}

bool Rfc2217Port::Configure(const PortLineConfig& config) {
  if (!open_) return Fail("not open");
  if (config.dataBits < 5 || config.dataBits > 8 || config.parityCode > 3 ||
      config.stopBitsCode > 2)
    return Fail("line settings refused");
  const uint32_t baud = config.baudRate;
  const std::vector<uint8_t> baudValue = {
      static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
      static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
  const std::vector<uint8_t> dataValue = {config.dataBits};
  const std::vector<uint8_t> parityValue = {ParityValue(config.parityCode)};
  const std::vector<uint8_t> stopValue = {StopValue(config.stopBitsCode)};
  const uint8_t commands[] = {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize};
  const std::vector<uint8_t>* values[] = {&baudValue, &dataValue, &parityValue, &stopValue};
  for (uint8_t c : commands) answered_[c] = false;
  for (int i = 0; i < 4; ++i)
    if (!SendCommand(commands[i], *values[i])) return Fail("connection lost");
  // Line control is not waited for (see the header).
  if (!SendControl(kNoFlowControl) || !SendControl(kDtrOff) || !SendControl(kRtsOff))
    return Fail("connection lost");
  auto allAnswered = [&] {
    for (uint8_t c : commands)
      if (!Answered(c)) return false;
    return true;
  };
  const NetIo io = PumpUntil(allAnswered, kAnswerTimeoutMs);
  if (io == NetIo::kClosed) return Fail("connection lost");
  if (!allAnswered()) return Fail("the server did not confirm the line settings");
  for (int i = 0; i < 4; ++i)
    if (answers_[commands[i]] != *values[i]) return Fail("line settings refused");
  return true;
}

bool Rfc2217Port::SetTimeouts(uint32_t milliseconds) {
  timeoutMs_ = milliseconds;
  return true;
}

void Rfc2217Port::PurgeAll() {
  (void)PurgeInput();
  (void)PurgeOutput();
}

bool Rfc2217Port::PurgeInput() {
  inbox_.clear();
  if (!open_ || lost_) return true;  // nothing left to purge
  inputPurged_ = false;
  purgeCut_ = 0;
  if (!SendCommand(kPurgeData, {kPurgeReceive})) return true;
  const NetIo io = PumpUntil([&] { return inputPurged_; }, kAnswerTimeoutMs);
  if (io == NetIo::kClosed) return true;
  if (!inputPurged_) return Fail("the server did not answer a purge");
  inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(purgeCut_));
  return true;
}

bool Rfc2217Port::PurgeOutput() {
  if (!open_ || lost_) return true;
  (void)SendCommand(kPurgeData, {kPurgeTransmit});
  return true;
}

bool Rfc2217Port::SetBreak(bool on) {
  return open_ && SendControl(on ? kBreakOn : kBreakOff);
}

bool Rfc2217Port::Escape(uint32_t code) {
  if (!open_) return false;
  switch (code) {
    case kSetXoff:
      return SendCommand(kFlowSuspend, {});
    case kSetXon:
      return SendCommand(kFlowResume, {});
    case kSetRts:
      return SendControl(kRtsOn);
    case kClrRts:
      return SendControl(kRtsOff);
    case kSetDtr:
      return SendControl(kDtrOn);
    case kClrDtr:
      return SendControl(kDtrOff);
    case kResetDev:
      return true;  // nothing to reset on a network line
    case kSetBreak:
      return SendControl(kBreakOn);
    case kClrBreak:
      return SendControl(kBreakOff);
    default:
      return false;
  }
}

PortIo Rfc2217Port::Write(uint8_t byte) {
  if (!open_ || lost_) return PortIo::kFailed;
  const uint8_t data[2] = {byte, kIac};
  switch (socket_->Send(data, byte == kIac ? 2 : 1, timeoutMs_)) {
    case NetIo::kDone:
      return PortIo::kDone;
    case NetIo::kTimedOut:
      return PortIo::kTimedOut;
    case NetIo::kClosed:
      break;
  }
  lost_ = true;
  Fail("connection lost", socket_->LastError());
  return PortIo::kFailed;
}

PortIo Rfc2217Port::Read(uint8_t* byte) {
  if (!open_) return PortIo::kFailed;
  const NetIo io = PumpUntil([&] { return !inbox_.empty(); }, timeoutMs_);
  if (!inbox_.empty()) {
    *byte = inbox_.front();
    inbox_.pop_front();
    return PortIo::kDone;
  }
  if (io == NetIo::kClosed) {
    Fail("connection lost", socket_->LastError());
    return PortIo::kFailed;
  }
  return PortIo::kTimedOut;
}

// The server lets the line go only when it has closed the connection on its
// side (ser2net turns the next client away until then), so Close waits for
// that, boundedly: the next Open, even at once, finds the line free.
bool Rfc2217Port::Close() {
  if (open_ && !lost_) {
    socket_->Shutdown();
    (void)PumpUntil([&] { return lost_; }, kAnswerTimeoutMs);
  }
  socket_->Close();
  open_ = false;
  return true;
}

bool Rfc2217Port::SendCommand(uint8_t command, const std::vector<uint8_t>& value) {
  std::vector<uint8_t> bytes = {kIac, kSb, kComPort, command};
  const std::vector<uint8_t> escaped = TelnetEscape(value.data(), value.size());
  bytes.insert(bytes.end(), escaped.begin(), escaped.end());
  bytes.push_back(kIac);
  bytes.push_back(kSe);
  return SendRaw(bytes, kAnswerTimeoutMs);
}

bool Rfc2217Port::SendRaw(const std::vector<uint8_t>& bytes, uint32_t timeoutMs) {
  if (lost_) return false;
  const NetIo io = socket_->Send(bytes.data(), bytes.size(), timeoutMs);
  if (io == NetIo::kClosed) lost_ = true;
  return io == NetIo::kDone;
}

NetIo Rfc2217Port::Pump(uint32_t timeoutMs) {
  if (lost_) return NetIo::kClosed;
  uint8_t buffer[512];
  size_t received = 0;
  const NetIo io = socket_->Receive(buffer, sizeof buffer, &received, timeoutMs);
  if (io == NetIo::kClosed) lost_ = true;
  for (size_t i = 0; i < received; ++i) Feed(buffer[i]);
  return io;
}

template <typename Done>
NetIo Rfc2217Port::PumpUntil(Done done, uint32_t timeoutMs) {
  const uint64_t deadline = socket_->NowMs() + timeoutMs;
  while (!done()) {
    const uint64_t now = socket_->NowMs();
    const uint32_t left = now < deadline ? static_cast<uint32_t>(deadline - now) : 0;
    const NetIo io = Pump(left);
    if (io == NetIo::kClosed) return io;
    if (io == NetIo::kTimedOut && socket_->NowMs() >= deadline) return io;
  }
  return NetIo::kDone;
}

void Rfc2217Port::Feed(uint8_t byte) {
  switch (state_) {
    case Parse::kData:
      if (byte == kIac)
        state_ = Parse::kIac;
      else
        inbox_.push_back(byte);
      return;
    case Parse::kIac:
      state_ = Parse::kData;
      if (byte == kIac) {
        inbox_.push_back(byte);
      } else if (byte >= kWill && byte <= kDont) {
        verb_ = byte;
        state_ = Parse::kOption;
      } else if (byte == kSb) {
        sub_.clear();
        state_ = Parse::kSub;
      }
      return;  // other commands (NOP, GA, ...) carry nothing for us
    case Parse::kOption:
      state_ = Parse::kData;
      OnOption(verb_, byte);
      return;
    case Parse::kSub:
      if (byte == kIac)
        state_ = Parse::kSubIac;
      else if (sub_.size() < kMaxSubnegotiation)
        sub_.push_back(byte);
      return;
    case Parse::kSubIac:
      if (byte == kIac) {
        state_ = Parse::kSub;
        if (sub_.size() < kMaxSubnegotiation) sub_.push_back(byte);
      } else {
        state_ = Parse::kData;
        if (byte == kSe) OnSubnegotiation();
      }
      return;
  }
}

// We offered binary, no go-ahead and the COM port option and asked for the
// first two from the server: their answers need no reply. Anything else the
// server asks for or offers is declined.
void Rfc2217Port::OnOption(uint8_t verb, uint8_t option) {
  const bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPort;
  const bool theirs = option == kBinary || option == kSuppressGoAhead;
  if (option == kComPort && verb == kDo) comPort_ = Offer::kAccepted;
  if (option == kComPort && verb == kDont) comPort_ = Offer::kDeclined;
  uint8_t reply = 0;
  if (verb == kDo && !ours) reply = kWont;
  if (verb == kWill && !theirs) reply = kDont;
  if (reply != 0) (void)SendRaw({kIac, reply, option}, kAnswerTimeoutMs);
}

void Rfc2217Port::OnSubnegotiation() {
  if (sub_.size() < 2 || sub_[0] != kComPort || sub_[1] < kServerOffset) return;
  const uint8_t command = static_cast<uint8_t>(sub_[1] - kServerOffset);
  if (command >= answered_.size()) return;
  answered_[command] = true;
  answers_[command].assign(sub_.begin() + 2, sub_.end());
  // The answer to a purge of the transmit buffer alone is not the one a
  // purge of our input waits for.
  if (command == kPurgeData && answers_[command] != std::vector<uint8_t>{kPurgeTransmit}) {
    inputPurged_ = true;
    purgeCut_ = inbox_.size();
  }
}

}  // namespace tarn
