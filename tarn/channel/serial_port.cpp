// The port chooser behind CreatePlatformSerialPort: each Open picks the
// local port or the network serial port by the device name, and every other
// call goes to the one picked. Platform-free; the two ports below it are not.
#include "tarn/channel/serial_port.h"

#include <string>
#include <utility>

#include "tarn/channel/net_socket.h"
#include "tarn/channel/rfc2217_port.h"

namespace tarn {
namespace {

class PortChooser final : public ISerialPort {
 public:
  bool Open(const char* name) override {
    if (active_ != nullptr && active_->IsOpen()) return active_->Open(name);
    std::string url;
    if (name != nullptr && RemoteTargetOf(name, &url)) {
      if (!remote_) remote_ = std::make_unique<Rfc2217Port>(CreatePlatformNetSocket());
      active_ = remote_.get();
      return active_->Open(url.c_str());
    }
    if (!local_) local_ = CreateLocalSerialPort();
    active_ = local_.get();
    return active_->Open(name);
  }
  bool IsOpen() const override { return active_ != nullptr && active_->IsOpen(); }
  bool Configure(const PortLineConfig& config) override {
    return active_ != nullptr && active_->Configure(config);
  }
  bool SetTimeouts(uint32_t ms) override { return active_ != nullptr && active_->SetTimeouts(ms); }
  void PurgeAll() override {
    if (active_ != nullptr) active_->PurgeAll();
  }
  bool PurgeInput() override { return active_ != nullptr && active_->PurgeInput(); }
  bool PurgeOutput() override { return active_ != nullptr && active_->PurgeOutput(); }
  bool SetBreak(bool on) override { return active_ != nullptr && active_->SetBreak(on); }
  bool Escape(uint32_t code) override { return active_ != nullptr && active_->Escape(code); }
  PortIo Write(uint8_t byte) override {
    return active_ != nullptr ? active_->Write(byte) : PortIo::kFailed;
  }
  PortIo Read(uint8_t* byte) override {
    return active_ != nullptr ? active_->Read(byte) : PortIo::kFailed;
  }
  bool Close() override { return active_ == nullptr || active_->Close(); }
  int32_t LastError() const override { return active_ != nullptr ? active_->LastError() : 0; }
  const char* LastErrorReason() const override {
    return active_ != nullptr ? active_->LastErrorReason() : nullptr;
  }

 private:
  std::unique_ptr<ISerialPort> local_;
  std::unique_ptr<ISerialPort> remote_;
  ISerialPort* active_ = nullptr;
};

}  // namespace

std::unique_ptr<ISerialPort> CreatePlatformSerialPort() {
  return std::make_unique<PortChooser>();
}

}  // namespace tarn
