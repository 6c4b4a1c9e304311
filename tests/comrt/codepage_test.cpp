// Conversions between UTF-16 and the system code page.
#include <comrt/comrt.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <string>

namespace {

// Runs a test in a given LC_CTYPE (process and environment), then restores.
class CodePage : public ::testing::Test {
 protected:
  void Use(const char* locale) {
    ASSERT_NE(setlocale(LC_CTYPE, locale), nullptr) << locale;
    setenv("LC_ALL", locale, 1);
  }
  void TearDown() override {
    setlocale(LC_CTYPE, "C");
    if (saved_.empty())
      unsetenv("LC_ALL");
    else
      setenv("LC_ALL", saved_.c_str(), 1);
  }
  std::string saved_ = getenv("LC_ALL") != nullptr ? getenv("LC_ALL") : "";
};

std::u16string ToWide(UINT cp, const std::string& text, DWORD flags = 0) {
  const int n =
      MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(
        MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n),
        n);
  }
  return out;
}

std::string ToNarrow(UINT cp, const std::u16string& text, const char* defaultChar = nullptr,
                     BOOL* usedDefault = nullptr) {
  const int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    defaultChar, usedDefault);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                                  defaultChar, usedDefault),
              n);
  }
  return out;
}

const std::u16string kWide = u"Gr\u00FC\u00DFe \u20AC \U0001D11E \u65E5\u672C";
const std::string kUtf8 =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x82\xAC \xF0\x9D\x84\x9E \xE6\x97\xA5\xE6\x9C\xAC";

TEST_F(CodePage, AcpRoundTripsNonAsciiInUtf8Locale) {
  Use("C.UTF-8");
  EXPECT_EQ(ToNarrow(CP_ACP, kWide), kUtf8);
  EXPECT_EQ(ToWide(CP_ACP, kUtf8), kWide);
  EXPECT_EQ(ToWide(CP_UTF8, ToNarrow(CP_UTF8, kWide)), kWide);
}

TEST_F(CodePage, AcpFollowsTheEnvironmentWhileTheProcessIsInC) {
  setlocale(LC_CTYPE, "C");
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(ToNarrow(CP_ACP, kWide), kUtf8);
}

TEST_F(CodePage, TerminatorAndSizeContract) {
  Use("C.UTF-8");
  // -1: the NUL is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\xC3\xA9", -1, nullptr, 0), 4);
  OLECHAR wide[4];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\xC3\xA9", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"ab\u00E9", 4));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);

  // A short buffer fails and says why.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char narrow[2];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", 1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // Bad arguments.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x1, "abc", 3, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 2, "?", &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CodePage, InvalidInputIsReplacedOrRefused) {
  Use("C.UTF-8");
  const std::string broken =
      "a\xFF"
      "b\xC3";  // stray byte, truncated sequence
  EXPECT_EQ(ToWide(CP_UTF8, broken), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(ToWide(CP_ACP, broken), u"a\uFFFDb\uFFFD");
  SetLastError(0);
  OLECHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, broken.data(), 4, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  // Encoded surrogates and overlong forms are not UTF-8.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xED\xA0\x80", 3, wide, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC0\xAF", 2, wide, 8), 0);

  // A lone surrogate becomes U+FFFD, or fails with WC_ERR_INVALID_CHARS.
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(ToNarrow(CP_UTF8, std::u16string(lone, 3)), "x\xEF\xBF\xBDy");
  char narrow[8];
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(CodePage, AsciiLocaleUsesTheDefaultCharacter) {
  Use("C");
  BOOL used = FALSE;
  EXPECT_EQ(ToNarrow(CP_ACP, u"caf\u00E9 \U0001D11E!", nullptr, &used), "caf? ?!");
  EXPECT_TRUE(used);
  used = FALSE;
  EXPECT_EQ(ToNarrow(CP_ACP, u"plain", "#", &used), "plain");
  EXPECT_FALSE(used);
  EXPECT_EQ(ToNarrow(CP_ACP, u"\u00E9", "#", &used), "#");
  EXPECT_TRUE(used);
  // Bytes beyond ASCII are not characters of this code page.
  EXPECT_EQ(ToWide(CP_ACP, "a\xE9"), u"a\uFFFD");
  OLECHAR wide[4];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xE9", 2, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

}  // namespace
