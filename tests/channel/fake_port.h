// A scripted serial port for channel tests: records what the channel asks
// of it and serves bytes from a queue.
#ifndef TESTS_CHANNEL_FAKE_PORT_H
#define TESTS_CHANNEL_FAKE_PORT_H

#include <deque>
#include <string>
#include <vector>

#include "tarn/channel/serial_port.h"

namespace tarn {

class FakePort : public ISerialPort {
 public:
  // Every call, by name, in order.
  std::vector<std::string> calls;
  std::vector<uint8_t> written;
  std::deque<uint8_t> input;
  bool loopBack = false;  // each byte written comes back as input
  bool failOpen = false, failConfigure = false, failTimeouts = false, failClose = false;
  bool failPurge = false, failBreak = false, failWrite = false, failRead = false;
  bool isOpen = false;
  PortLineConfig lastConfig{};
  uint32_t lastTimeout = 0;
  // Set when the fake dies: whether the device had been released by then.
  bool* releasedAtDeath = nullptr;

  ~FakePort() override {
    if (releasedAtDeath != nullptr) *releasedAtDeath = !isOpen;
  }

  bool Open(const char* name) override {
    calls.push_back(std::string("Open:") + name);
    if (failOpen) return false;
    isOpen = true;
    return true;
  }
  bool IsOpen() const override { return isOpen; }
  bool Configure(const PortLineConfig& config) override {
    calls.push_back("Configure");
    lastConfig = config;
    return !failConfigure;
  }
  bool SetTimeouts(uint32_t ms) override {
    calls.push_back("SetTimeouts:" + std::to_string(ms));
    if (failTimeouts) return false;
    lastTimeout = ms;
    return true;
  }
  void PurgeAll() override { calls.push_back("PurgeAll"); }
  bool PurgeInput() override {
    calls.push_back("PurgeInput");
    return !failPurge;
  }
  bool PurgeOutput() override {
    calls.push_back("PurgeOutput");
    return !failPurge;
  }
  bool SetBreak(bool on) override {
    calls.push_back(on ? "BreakOn" : "BreakOff");
    return !failBreak;
  }
  bool Escape(uint32_t code) override {
    calls.push_back("Escape:" + std::to_string(code));
    return true;
  }
  PortIo Write(uint8_t byte) override {
    if (failWrite) return PortIo::kFailed;
    written.push_back(byte);
    if (loopBack) input.push_back(byte);
    return PortIo::kDone;
  }
  PortIo Read(uint8_t* byte) override {
    if (failRead) return PortIo::kFailed;
    if (input.empty()) return PortIo::kTimedOut;
    *byte = input.front();
    input.pop_front();
    return PortIo::kDone;
  }
  bool Close() override {
    calls.push_back("Close");
    if (failClose) return false;
    isOpen = false;
    return true;
  }
  int32_t LastError() const override { return 16; }
  const char* LastErrorReason() const override { return "port busy"; }
};

}  // namespace tarn

#endif  // TESTS_CHANNEL_FAKE_PORT_H
