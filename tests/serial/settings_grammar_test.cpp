// The settings grammar: the same text read in both dialects, where the
// channel, the dialogs and tarnctl each had a tokenizer of their own.
#include "serial/settings_grammar.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serial {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Read(std::string_view text, SettingsDialect dialect) {
  Pairs out;
  SettingsPairReader reader(text, dialect);
  SettingsPair pair;
  while (reader.Next(&pair)) out.emplace_back(pair.key, pair.value);
  return out;
}

std::vector<std::string> Tokens(std::string_view text, SettingsDialect dialect) {
  std::vector<std::string> out;
  SettingsToken token;
  while (NextSettingsToken(text, &token, dialect))
    out.push_back((token.quoted ? "Q:" : "") + std::string(token.text));
  return out;
}

constexpr auto kChannel = SettingsDialect::kChannel;
constexpr auto kDialogs = SettingsDialect::kDialogs;

TEST(SerialSettingsGrammar, DialectsDifferInSeparatorsAndTheEqualsAfterAWord) {
  EXPECT_EQ(Tokens("a\tb=c\"d e\"", kChannel),
            (std::vector<std::string>{"a", "b", "=", "c", "Q:d e"}));
  EXPECT_EQ(Tokens("a\tb=c\"d e\"", kDialogs), (std::vector<std::string>{"a\tb", "c\"d", "e\""}));
  EXPECT_EQ(Tokens("\ta =\nb", kChannel), (std::vector<std::string>{"a", "=", "b"}));
  EXPECT_EQ(Tokens("\ta =\nb", kDialogs), (std::vector<std::string>{"\ta", "=", "\nb"}));
  EXPECT_EQ(Read("device=COM2 baud\t=\t300", kChannel),
            (Pairs{{"device", "COM2"}, {"baud", "300"}}));
  EXPECT_TRUE(Read("device=COM2 baud\t=\t300", kDialogs).empty());
  // A word without "=" gives way to the next one in the channel; the dialogs
  // drop it together with the word after it.
  EXPECT_EQ(Read("x device = COM1", kChannel), (Pairs{{"device", "COM1"}}));
  EXPECT_TRUE(Read("x device = COM1", kDialogs).empty());
  // Several "=" count as one in the channel; the dialogs take the second as
  // the value.
  EXPECT_EQ(Read("device = = COM1", kChannel), (Pairs{{"device", "COM1"}}));
  EXPECT_EQ(Read("device = = COM1", kDialogs), (Pairs{{"device", "="}}));
  EXPECT_EQ(Read("= a = b c =", kChannel), (Pairs{{"a", "b"}}));
}

TEST(SerialSettingsGrammar, QuotesAndTheEndOfTextAreTheSameInBoth) {
  for (SettingsDialect d : {kChannel, kDialogs}) {
    EXPECT_EQ(Read("device = \"my port\" baud = \"\"", d),
              (Pairs{{"device", "my port"}, {"baud", ""}}));
    EXPECT_EQ(Read("\"=\" = x", d), (Pairs{{"=", "x"}}));
    // The text ends at its first NUL, inside quotes too.
    EXPECT_EQ(Read(std::string_view("device = \"COM2\0\" baud = 300\"", 28), d),
              (Pairs{{"device", "COM2"}}));
    EXPECT_EQ(Read("device = \"open", d), (Pairs{{"device", "open"}}));
  }
  std::string_view rest = "\"open";
  SettingsToken token;
  ASSERT_TRUE(NextSettingsToken(rest, &token, kChannel));
  EXPECT_FALSE(token.closed);
  EXPECT_TRUE(rest.empty());
  rest = "\"shut\" x";
  ASSERT_TRUE(NextSettingsToken(rest, &token, kChannel));
  EXPECT_TRUE(token.closed);
  EXPECT_EQ(rest, " x");
}

TEST(SerialSettingsGrammar, QuotedValuesReadBackUnchanged) {
  for (std::string value : {"COM1", "", "my port", "a=b", "tab\there", "\x07"}) {
    const std::string text = "device = " + QuoteSettingsValue(value) + " baud = 300";
    EXPECT_EQ(Read(text, kChannel), (Pairs{{"device", value}, {"baud", "300"}})) << value;
  }
  EXPECT_EQ(QuoteSettingsValue("COM1"), "COM1");
}

}  // namespace
}  // namespace serial
