#include "bstr_text.h"

#include "errors.h"

namespace tarnctl {

BSTR ToBstr(const std::string& narrow, TextKind kind) {
  if (BSTR s = tarnholm::NarrowToBstr(narrow, kind)) return s;
  throw Error(kExitUsage,
              "\"" + narrow + "\" does not convert from the system code page" +
                  (kind == TextKind::kFileName ? " to a file name" : ""),
              "check the locale (LANG, LC_ALL)");
}

std::string FromBstr(BSTR s) {
  std::string out;
  tarnholm::BstrToNarrow(s, out);
  return out;
}

}  // namespace tarnctl
