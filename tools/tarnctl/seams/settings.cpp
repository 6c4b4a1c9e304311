#include "settings.h"

#include <tarnholm/com.h>

#include <cstdio>

#include "errors.h"
#include "serial/ascii.h"
#include "serial/port_name.h"
#include "serial/remote_port.h"
#include "serial/settings_grammar.h"

namespace tarnctl {
namespace {

constexpr const char* kSettingsKey = "Software\\Tarn\\tarnctl\\PortSettings";

}  // namespace

std::string RegistryAdvice(const std::string& fallback, bool classes) {
#ifndef _WIN32
  for (const BOOL machine : {FALSE, TRUE}) {
    if (machine && !classes) break;
    char text[4096];
    const size_t n = comrt_RegistryProblem(machine, text, sizeof text);
    if (n > 0 && n < sizeof text) return text;
  }
#else
  (void)classes;
#endif
  return fallback;
}

std::vector<SettingsPair> ParseSettings(const std::string& text) {
  std::vector<SettingsPair> pairs;
  serial::SettingsPairReader reader(text, serial::SettingsDialect::kChannel);
  serial::SettingsPair pair;
  while (reader.Next(&pair)) pairs.push_back({std::string(pair.key), std::string(pair.value)});
  return pairs;
}

std::optional<std::string> SettingsValue(const std::string& text, const std::string& key) {
  for (const SettingsPair& p : ParseSettings(text))
    if (serial::EqualsNoCase(p.key, key)) return p.value;
  return std::nullopt;
}

std::string ReplaceDevice(const std::string& text, const std::string& device) {
  std::string out = "device = " + serial::QuoteSettingsValue(device);
  for (const SettingsPair& p : ParseSettings(text))
    if (!serial::EqualsNoCase(p.key, "device"))
      out += " " + serial::QuoteSettingsValue(p.key) + " = " + serial::QuoteSettingsValue(p.value);
  return out;
}

std::optional<std::string> LoadSavedSettings() {
  char buffer[1024];
  LONG size = sizeof buffer;
  if (RegQueryValueA(HKEY_CURRENT_USER, kSettingsKey, buffer, &size) != ERROR_SUCCESS)
    return std::nullopt;
  if (size <= 0) return std::nullopt;
  buffer[sizeof buffer - 1] = '\0';
  std::string value(buffer);
  if (value.empty()) return std::nullopt;
  return value;
}

void SaveSettings(const std::string& text) {
  LONG rc = RegSetValueA(HKEY_CURRENT_USER, kSettingsKey, REG_SZ, text.c_str(),
                         static_cast<DWORD>(text.size()));
  if (rc != ERROR_SUCCESS)
    throw Error(
        kExitUsage, "cannot save the port settings (registry error " + std::to_string(rc) + ")",
        RegistryAdvice(
            "check that the registry file is writable (COMRT_REGISTRY or ~/.config/comrt)"));
}

std::string ResolveDevice(const std::string& name, bool* fromMap) {
  if (fromMap) *fromMap = false;
  if (serial::IsRemotePortName(name)) return name;  // a network serial server's line
  const serial::PortName port = serial::ParsePortName(name);
  if (port.kind == serial::PortNameKind::kBadPort)
    throw Error(kExitUsage, serial::BadPortMessage(name),
                "name a port COM1 to COM256, or a device such as /dev/ttyUSB0");
#ifdef _WIN32
  return name;
#else
  // As the serial channel names devices: an absolute path as it is, COMn
  // through the runtime's port map, any other name below /dev.
  if (port.kind == serial::PortNameKind::kNotAPort) return serial::DevicePathOf(name);
  char buffer[4096];
  const LONG rc = comrt_ResolvePortName(name.c_str(), buffer, sizeof buffer);
  if (rc == ERROR_INVALID_DATA)
    throw Error(kExitPort,
                "the COM port map maps " + serial::PortNameOf(port.number) +
                    " to another port name, not to a device",
                "map it to a device (tarnctl ports --map " + serial::PortNameOf(port.number) +
                    "=/dev/ttyUSB0), or remove the entry (--map " +
                    serial::PortNameOf(port.number) + "=)");
  if (rc != ERROR_SUCCESS)
    throw Error(kExitPort, "cannot read the COM port map for " + name,
                RegistryAdvice("check that the registry file is readable (COMRT_REGISTRY or "
                               "~/.config/comrt)"));
  std::string device = buffer;
  if (fromMap) *fromMap = device != serial::DefaultPortDevice(port.number);
  return device;
#endif
}

bool IsPortName(const std::string& name) {
  return serial::ParsePortName(name).kind == serial::PortNameKind::kPort;
}

std::string MapTarget(const std::string& port, const std::string& device) {
  if (device.empty()) return {};
  if (serial::ParsePortName(device).kind != serial::PortNameKind::kNotAPort)
    throw Error(kExitUsage,
                "cannot map " + port + " to " + device +
                    ": the COM port map names devices, not other ports",
                "map it to a device, for example --map " + port + "=/dev/ttyUSB0");
  return serial::DevicePathOf(device);
}

void MapPort(const std::string& port, const std::string& device) {
#ifdef _WIN32
  throw Error(kExitUsage, "Windows names its COM ports itself; there is no port map to change");
#else
  const serial::PortName parsed = serial::ParsePortName(port);
  if (parsed.kind != serial::PortNameKind::kPort)
    throw Error(kExitUsage, "\"" + port + "\" is not a port name COM1..COM256");
  std::string name = serial::PortNameOf(parsed.number);
  const std::string path = MapTarget(name, device);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyA(HKEY_CURRENT_USER, serial::kPortMapKey, &key);
  if (rc == ERROR_SUCCESS) {
    rc = path.empty() ? RegDeleteValueA(key, name.c_str())
                      : RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(path.c_str()),
                                       static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS && !(path.empty() && rc == ERROR_FILE_NOT_FOUND))
    throw Error(
        kExitUsage, "cannot change the port map (registry error " + std::to_string(rc) + ")",
        RegistryAdvice(
            "check that the registry file is writable (COMRT_REGISTRY or ~/.config/comrt)"));
#endif
}

std::string HexResult(int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(hr)));
  return text;
}

}  // namespace tarnctl
