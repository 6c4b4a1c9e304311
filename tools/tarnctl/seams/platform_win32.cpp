// Windows side of tarnctl's platform interface.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "errors.h"
#include "platform.h"
#include "remote_port.h"
#include "serial/port_name.h"
#include "serial/remote_port.h"

namespace tarnctl::platform {

std::string ExecutableDir() {
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string path(buffer, n);
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> LibraryFileNames(const std::string& base) {
  return {"lib" + base + ".dll", base + ".dll"};
}

char PathListSeparator() {
  return ';';
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows keeps no write permission on folders that tarnctl could test
// cheaply; the read-only attribute is what a user sets on a file.
bool CanWrite(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES &&
         ((a & FILE_ATTRIBUTE_DIRECTORY) || !(a & FILE_ATTRIBUTE_READONLY));
}

bool IsStandardOutput(const std::string&) {
  return false;
}

bool HaveTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

bool Interactive() {
  return HaveTerminal() && _isatty(_fileno(stdout));
}

std::string ReadSecret(const std::string& prompt) {
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  DWORD mode;
  if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    throw Error(kExitUsage, "--ask-password needs a console",
                "use --password-file FILE where no console is available");
  }
  std::fputs(prompt.c_str(), stderr);
  SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::string line;
  char c;
  DWORD got;
  while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    if (c != '\r') line.push_back(c);
  }
  SetConsoleMode(in, mode);
  CloseHandle(in);
  std::fputs("\n", stderr);
  return line;
}

std::string PortHolderText(const std::string&, int* unchecked) {
  *unchecked = 0;
  return {};
}

// COM names are compared by name; \\.\ device paths have no inode to compare.
bool SameDevice(const std::string&, const std::string&) {
  return false;
}

PortState ProbePort(const std::string& device, std::string* detail) {
  detail->clear();
  if (serial::IsRemotePortName(device)) return ProbeRemotePort(device, detail);
  std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) {
      *detail = "opened by another program";
      return PortState::kBusy;
    }
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return PortState::kMissing;
    *detail = "error " + std::to_string(e);
    return PortState::kOther;
  }
  CloseHandle(h);
  return PortState::kFree;
}

std::vector<SerialDevice> ListSerialDevices() {
  std::vector<SerialDevice> out;
  char target[1024];
  for (unsigned n = serial::kFirstPort; n <= serial::kLastPort; ++n) {
    std::string name = serial::PortNameOf(n);
    if (QueryDosDeviceA(name.c_str(), target, sizeof target)) out.push_back({name, target});
  }
  return out;
}

void SetEnv(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

double NowMs() {
  return static_cast<double>(GetTickCount64());
}

}  // namespace tarnctl::platform
