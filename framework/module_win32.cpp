#include <windows.h>

#include "framework/module.h"

namespace fw {

std::string ModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ModulePath), &module))
    return std::string();
  char longPath[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, longPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  // Registration names the library by its short 8.3 path.
  char shortPath[MAX_PATH];
  DWORD s = GetShortPathNameA(longPath, shortPath, MAX_PATH);
  if (s == 0 || s >= MAX_PATH) return longPath;
  return shortPath;
}

}  // namespace fw
