#include "settings.h"

#include <tarnholm/com.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "errors.h"

namespace tarnctl {
namespace {

constexpr const char* kSettingsKey = "Software\\Tarn\\tarnctl\\PortSettings";
constexpr const char* kPortMapKey = "Software\\Tarn\\Ports";

bool IsSeparator(char c) {
  return c == ' ' || (c >= 7 && c <= 13);
}

struct Token {
  std::string text;
  bool equals = false;  // the unquoted one-byte "=" token
};

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    if (IsSeparator(s[i])) {
      ++i;
      continue;
    }
    if (s[i] == '\0') break;
    if (s[i] == '"') {
      size_t end = s.find('"', i + 1);
      if (end == std::string::npos) end = s.size();
      out.push_back({s.substr(i + 1, end - i - 1), false});
      i = end < s.size() ? end + 1 : end;
    } else if (s[i] == '=') {
      out.push_back({"=", true});
      ++i;
    } else {
      size_t j = i;
      while (j < s.size() && !IsSeparator(s[j]) && s[j] != '"' && s[j] != '=' && s[j] != '\0') ++j;
      out.push_back({s.substr(i, j - i), false});
      i = j;
    }
  }
  return out;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string Quoted(const std::string& v) {
  bool plain = !v.empty();
  for (char c : v)
    if (IsSeparator(c) || c == '=' || c == '"') plain = false;
  return plain ? v : "\"" + v + "\"";
}

}  // namespace

std::vector<SettingsPair> ParseSettings(const std::string& text) {
  std::vector<SettingsPair> pairs;
  int state = 1;
  std::string key;
  for (const Token& t : Tokenize(text)) {
    if (state == 1) {
      if (!t.equals) {
        key = t.text;
        state = 2;
      }
    } else if (state == 2) {
      if (t.equals)
        state = 3;
      else
        key = t.text;
    } else if (!t.equals) {
      pairs.push_back({key, t.text});
      state = 1;
    }
  }
  return pairs;
}

std::optional<std::string> SettingsValue(const std::string& text, const std::string& key) {
  for (const SettingsPair& p : ParseSettings(text))
    if (EqualNoCase(p.key, key)) return p.value;
  return std::nullopt;
}

std::string ReplaceDevice(const std::string& text, const std::string& device) {
  std::string out = "device = " + Quoted(device);
  for (const SettingsPair& p : ParseSettings(text))
    if (!EqualNoCase(p.key, "device")) out += " " + Quoted(p.key) + " = " + Quoted(p.value);
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
    throw Error(kExitUsage,
                "cannot save the port settings (registry error " + std::to_string(rc) + ")",
                "check that the registry file is writable (COMRT_REGISTRY or ~/.config/comrt)");
}

std::string ResolveDevice(const std::string& name, bool* fromMap) {
  if (fromMap) *fromMap = false;
#ifdef _WIN32
  return name;
#else
  // As the serial channel names devices: an absolute path as it is, COMn
  // through the runtime's port map, any other name below /dev.
  if (!name.empty() && name[0] == '/') return name;
  char buffer[4096];
  if (comrt_ResolvePortName(name.c_str(), buffer, sizeof buffer) != ERROR_SUCCESS)
    std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
  std::string device = buffer;
  if (device == name) return "/dev/" + name;  // not a COMn name
  unsigned long n =
      std::strtoul(name.c_str() + (name.rfind("\\\\.\\", 0) == 0 ? 7 : 3), nullptr, 10);
  if (fromMap) *fromMap = device != "/dev/ttyS" + std::to_string(n - 1);
  return device;
#endif
}

bool IsPortName(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || !EqualNoCase(name.substr(0, 3), "COM") ||
      name[3] < '1' || name[3] > '9')
    return false;
  char* end = nullptr;
  unsigned long n = std::strtoul(name.c_str() + 3, &end, 10);
  return *end == '\0' && n >= 1 && n <= 256;
}

void MapPort(const std::string& port, const std::string& device) {
#ifdef _WIN32
  throw Error(kExitUsage, "Windows names its COM ports itself; there is no port map to change");
#else
  if (!IsPortName(port))
    throw Error(kExitUsage, "\"" + port + "\" is not a port name COM1..COM256");
  std::string name = "COM" + std::to_string(std::strtoul(port.c_str() + 3, nullptr, 10));
  HKEY key = nullptr;
  LONG rc = RegCreateKeyA(HKEY_CURRENT_USER, kPortMapKey, &key);
  if (rc == ERROR_SUCCESS) {
    rc = device.empty() ? RegDeleteValueA(key, name.c_str())
                        : RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(device.c_str()),
                                         static_cast<DWORD>(device.size() + 1));
    RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS && !(device.empty() && rc == ERROR_FILE_NOT_FOUND))
    throw Error(kExitUsage,
                "cannot change the port map (registry error " + std::to_string(rc) + ")",
                "check that the registry file is writable (COMRT_REGISTRY or ~/.config/comrt)");
#endif
}

std::string HexResult(int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(hr)));
  return text;
}

}  // namespace tarnctl
