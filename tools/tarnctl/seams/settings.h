// Port settings strings as tarnctl handles them: reading the pairs (same
// token rules as the download server's reader), replacing the device, and
// the settings saved between runs.
//
// Saved settings live in the component runtime's registry, under
// HKEY_CURRENT_USER\Software\Tarn\tarnctl\PortSettings (default value), so
// they follow COMRT_REGISTRY on POSIX and the user's registry on Windows;
// `tarnctl setup` writes them, `--port STRING` overrides them for one run.
#ifndef TARNCTL_SETTINGS_H
#define TARNCTL_SETTINGS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnctl {

// What a run uses when nothing is saved and no --port is given.
inline constexpr const char* kDefaultPortSettings =
    "device = COM1 baud = 9600 data = 8 parity = no stop = 1";

struct SettingsPair {
  std::string key;
  std::string value;
};

// The key = value pairs of a settings string, in text order, read as the
// channel reads them (the channel dialect of serial/settings_grammar.h).
std::vector<SettingsPair> ParseSettings(const std::string& text);

// The value of the first pair with the key (letter case ignored).
std::optional<std::string> SettingsValue(const std::string& text, const std::string& key);

// The same settings with the device replaced (quoted when needed).
std::string ReplaceDevice(const std::string& text, const std::string& device);

// What to tell the user when the registry refused or failed: on POSIX the
// runtime's own account of what is wrong with the user's registry file
// (and, with `classes`, with the machine's, which class lookups read too),
// naming the file and what to do; else `fallback`.
std::string RegistryAdvice(const std::string& fallback, bool classes = false);

// Saved settings: nullopt when none are saved.
std::optional<std::string> LoadSavedSettings();
// Throws Error (exit 1) when the registry cannot be written.
void SaveSettings(const std::string& text);

// COMn to device path, through the runtime's port map on POSIX
// (HKEY_CURRENT_USER\Software\Tarn\Ports; default COMn -> /dev/ttyS<n-1>).
// An absolute path is returned as it is, any other name is taken below /dev. `fromMap` tells
// whether the registry held an entry. Port names follow serial/port_name.h:
// a bad one (COM0, COM300) throws Error (exit 1) on every platform, and an
// unreadable port map throws Error (exit 3), as the channel refuses both.
std::string ResolveDevice(const std::string& name, bool* fromMap = nullptr);

// True for a port name COM1 .. COM256 (serial/port_name.h).
bool IsPortName(const std::string& name);

// What the port map entry of `port` holds for `device`: the path the same
// name means as a settings string's device (an absolute path as it is, any
// other name below /dev), so an entry never depends on the folder it was
// made in; empty for an empty device (removal). A device that is itself a
// port name (COM4, COM3 for COM3) throws Error (exit 1): a map that pointed
// at another port could chain or loop.
std::string MapTarget(const std::string& port, const std::string& device);

// Maps COMn to MapTarget(COMn, device) in the runtime's port map (an empty
// device removes the entry). POSIX only; throws Error (exit 1).
void MapPort(const std::string& port, const std::string& device);

}  // namespace tarnctl

#endif  // TARNCTL_SETTINGS_H
