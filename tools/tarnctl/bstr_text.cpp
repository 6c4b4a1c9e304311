#include "bstr_text.h"

#include <cstring>
#include <vector>

#include "errors.h"

namespace tarnctl {

BSTR ToBstr(const std::string& narrow) {
  if (narrow.empty()) return SysAllocString(OLESTR(""));
  int n = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
  if (n <= 0)
    throw Error(kExitUsage, "\"" + narrow + "\" does not convert from the system code page",
                "check the locale (LANG, LC_ALL)");
  std::vector<OLECHAR> wide(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, reinterpret_cast<LPWSTR>(wide.data()), n);
  return SysAllocString(wide.data());
}

std::string FromBstr(BSTR s) {
  if (!s || SysStringLen(s) == 0) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(s), -1, nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(s), -1, out.data(), n, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  return out;
}

}  // namespace tarnctl
