// tarnctl's text to and from component strings under a UTF-8 locale: the
// whole length passes (an embedded NUL included), each undefined byte
// costs only itself, and a file name that would name another file is
// refused with a usage error.
#include "bstr_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "errors.h"

namespace tarnctl {
namespace {

class BstrText : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LC_ALL", "C.UTF-8", 1); }
  static std::u16string Wide(BSTR s) { return std::u16string(s, SysStringLen(s)); }
};

TEST_F(BstrText, EmbeddedNulPassesBothWays) {
  static const char kNarrow[] =
      "Gr\xC3\xBC\xC3\x9F"
      "e\0zweite";
  static const char16_t kWide[] = u"Gr\u00FC\u00DFe\0zweite";
  const std::string text(kNarrow, sizeof kNarrow - 1);
  BSTR s = ToBstr(text);
  EXPECT_EQ(Wide(s), std::u16string(kWide, sizeof kWide / sizeof kWide[0] - 1));
  EXPECT_EQ(FromBstr(s), text);
  SysFreeString(s);
  EXPECT_EQ(FromBstr(nullptr), "");
}

TEST_F(BstrText, EachUndefinedByteBecomesOneReplacement) {
  BSTR s = ToBstr("a\xE2\x82z\xFF\n\xC3\xBC");
  EXPECT_EQ(Wide(s), u"a\uFFFD\uFFFDz\uFFFD\n\u00FC");
  SysFreeString(s);
}

TEST_F(BstrText, FileNameThatWouldNameAnotherFileIsRefused) {
  for (const std::string& name : {std::string("bad\xFF.s19"), std::string("a\0b.s19", 7)}) {
    try {
      SysFreeString(ToBstr(name, TextKind::kFileName));
      ADD_FAILURE() << "accepted " << name;
    } catch (const Error& e) {
      EXPECT_EQ(e.ExitCodeValue(), kExitUsage);
    }
  }
  BSTR ok = ToBstr(
      "Gr\xC3\xBC\xC3\x9F"
      "e.s19",
      TextKind::kFileName);
  EXPECT_EQ(Wide(ok), u"Gr\u00FC\u00DFe.s19");
  SysFreeString(ok);
}

}  // namespace
}  // namespace tarnctl
