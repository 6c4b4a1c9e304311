// The dialogs' own reading of a settings string: blanks, the "=" that ends a
// key, quoted values, case-sensitive keys.
#include "holm/dialogs/settings_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace holm::dialogs {
namespace {

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> out;
  std::string token;
  while (NextSettingsToken(token, text)) out.push_back(token);
  return out;
}

TEST(SettingsTokens, OnlyTheSpaceSeparates) {
  EXPECT_EQ(Tokens("  device   =  COM1 "), (std::vector<std::string>{"device", "=", "COM1"}));
  // Tabs and line ends are ordinary characters.
  EXPECT_EQ(Tokens("a\tb = c\n"), (std::vector<std::string>{"a\tb", "=", "c\n"}));
  EXPECT_TRUE(Tokens("").empty());
  EXPECT_TRUE(Tokens("     ").empty());
}

TEST(SettingsTokens, EqualsEndingAWordIsConsumedWithIt) {
  std::string_view rest = "device=COM1";
  std::string token;
  ASSERT_TRUE(NextSettingsToken(token, rest));
  EXPECT_EQ(token, "device");
  EXPECT_EQ(rest, "COM1");
  EXPECT_EQ(Tokens("device =COM1"), (std::vector<std::string>{"device", "=", "COM1"}));
  EXPECT_EQ(Tokens("a==b"), (std::vector<std::string>{"a", "=", "b"}));
}

TEST(SettingsTokens, QuotedTokenRunsToTheClosingQuote) {
  std::string_view rest = "\"COM 1 = x\"tail";
  std::string token;
  bool quoted = false;
  ASSERT_TRUE(NextSettingsToken(token, rest, &quoted));
  EXPECT_EQ(token, "COM 1 = x");
  EXPECT_TRUE(quoted);
  EXPECT_EQ(rest, "tail");
  ASSERT_TRUE(NextSettingsToken(token, rest, &quoted));
  EXPECT_FALSE(quoted);
  // Without its closing quote the token ends at the end of the text.
  rest = "\"open ended";
  ASSERT_TRUE(NextSettingsToken(token, rest, &quoted));
  EXPECT_EQ(token, "open ended");
  EXPECT_TRUE(rest.empty());
  EXPECT_FALSE(NextSettingsToken(token, rest));
  // A quote inside a word is an ordinary character.
  EXPECT_EQ(Tokens("ab\"c d\""), (std::vector<std::string>{"ab\"c", "d\""}));
}

TEST(ParseSettingsTest, KeyBlankEqualsBlankValue) {
  SettingsMap m = ParseSettings("device = COM2 baud = 4800 parity = even");
  EXPECT_EQ(m, (SettingsMap{{"device", "COM2"}, {"baud", "4800"}, {"parity", "even"}}));
  // A later key replaces an earlier one.
  EXPECT_EQ(ParseSettings("baud = 300 baud = 600"), (SettingsMap{{"baud", "600"}}));
  // "=" needs a blank before it; after it none is needed.
  EXPECT_TRUE(ParseSettings("device=COM3").empty());
  EXPECT_TRUE(ParseSettings("device= COM3").empty());
  EXPECT_EQ(ParseSettings("device =COM3"), (SettingsMap{{"device", "COM3"}}));
}

TEST(ParseSettingsTest, KeysAreCaseSensitiveAndNeedAValue) {
  SettingsMap m = ParseSettings("Parity = odd parity = even");
  EXPECT_EQ(m.at("parity"), "even");
  EXPECT_EQ(m.at("Parity"), "odd");
  EXPECT_EQ(ParseSettings("device = COM1 baud"), (SettingsMap{{"device", "COM1"}}));
  EXPECT_EQ(ParseSettings("device = COM1 baud ="), (SettingsMap{{"device", "COM1"}}));
  // A word that is not followed by "=" is dropped with the word after it.
  EXPECT_EQ(ParseSettings("x y device = COM1"), (SettingsMap{{"device", "COM1"}}));
  EXPECT_TRUE(ParseSettings("x device = COM1").empty());
  // The token right after "=" is the value, even another "=".
  EXPECT_EQ(ParseSettings("device = = COM1"), (SettingsMap{{"device", "="}}));
}

TEST(ParseSettingsTest, QuotedValuesAndTheEndOfText) {
  EXPECT_EQ(ParseSettings("device = \"my port\" baud = 300"),
            (SettingsMap{{"device", "my port"}, {"baud", "300"}}));
  // A quoted "=" is a word, never the equals sign.
  EXPECT_EQ(ParseSettings("\"=\" = x"), (SettingsMap{{"=", "x"}}));
  EXPECT_TRUE(ParseSettings("device \"=\" x").empty());
  EXPECT_EQ(ParseSettings("device = \"\""), (SettingsMap{{"device", ""}}));
  // The text ends at its first NUL byte.
  EXPECT_EQ(ParseSettings(std::string_view("device = COM2\0 baud = 300", 25)),
            (SettingsMap{{"device", "COM2"}}));
}

TEST(ParseSettingsTest, EqualsNoCaseComparesAsciiLetters) {
  EXPECT_TRUE(EqualsNoCase("ODD", "odd"));
  EXPECT_TRUE(EqualsNoCase("", ""));
  EXPECT_FALSE(EqualsNoCase("odd", "odd "));
  EXPECT_FALSE(EqualsNoCase("\xc9", "\xe9"));  // only ASCII letters fold
}

}  // namespace
}  // namespace holm::dialogs
