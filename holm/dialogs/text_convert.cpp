#include "holm/dialogs/text_convert.h"

#include <climits>
#include <vector>

namespace holm::dialogs {

bool BstrToNarrow(BSTR s, std::string& out) {
  out.clear();
  const UINT len = s != nullptr ? SysStringLen(s) : 0;
  if (len == 0) return true;
  if (len > static_cast<UINT>(INT_MAX)) return false;
  const int wide = static_cast<int>(len);
  int need = WideCharToMultiByte(CP_ACP, 0, s, wide, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return false;
  out.resize(static_cast<size_t>(need));
  int got = WideCharToMultiByte(CP_ACP, 0, s, wide, out.data(), need, nullptr, nullptr);
  if (got <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(got));
  return true;
}

BSTR NarrowToBstr(const std::string& text) {
  if (text.empty()) {
    static const OLECHAR kEmpty[1] = {0};
    return SysAllocString(kEmpty);
  }
  if (text.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  const int narrow = static_cast<int>(text.size());
  int need = MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, nullptr, 0);
  if (need <= 0) return nullptr;
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(need));
  if (s == nullptr) return nullptr;
  int got = MultiByteToWideChar(CP_ACP, 0, text.data(), narrow, s, need);
  if (got != need) {
    SysFreeString(s);
    return nullptr;
  }
  return s;
}

}  // namespace holm::dialogs
