// GUID text: formatting, parsing and rejection of malformed text.
#include <comrt/comrt.h>
#include <gtest/gtest.h>

#include <string>

namespace {

constexpr GUID kSample = {
    0x2F8C41A0, 0x5B34, 0x11D5, {0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D, 0x03}};

TEST(GuidText, RoundTripsInUpperCase) {
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03}");
  CLSID back{};
  ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_TRUE(IsEqualGUID(back, kSample));

  // Lower case is read too.
  IID iid{};
  ASSERT_EQ(IIDFromString(u"{2f8c41a0-5b34-11d5-b41d-5e2b7a1c9d03}", &iid), S_OK);
  EXPECT_EQ(iid, kSample);

  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
  EXPECT_EQ(std::u16string(allocated), std::u16string(text));
  CoTaskMemFree(allocated);

  // Byte order of Data4 is the text order.
  ASSERT_EQ(CLSIDFromString(u"{00000001-0002-0003-0405-060708090A0B}", &back), S_OK);
  EXPECT_EQ(back.Data1, 1u);
  EXPECT_EQ(back.Data2, 2u);
  EXPECT_EQ(back.Data3, 3u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(back.Data4[i], 4 + i);
}

TEST(GuidText, ShortBufferWritesNothing) {
  OLECHAR text[38] = {u'x'};
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
  EXPECT_EQ(text[0], u'x');
  EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
  EXPECT_EQ(StringFromCLSID(kSample, nullptr), E_INVALIDARG);
}

TEST(GuidText, MalformedTextIsRefused) {
  const char16_t* bad[] = {
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D0}",    // one digit short
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D033}",  // one digit more
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03",    // no closing brace
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03)",   // wrong closing brace
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03}x",  // trailing junk
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03} ",  // trailing blank
      u"{2F8C41G0-5B34-11D5-B41D-5E2B7A1C9D03}",   // bad hex
      u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D0 }",   // blank for a digit
      u"{2F8C41A0+5B34-11D5-B41D-5E2B7A1C9D03}",   // wrong separator
      u"{2F8C41A05-B34-11D5-B41D-5E2B7A1C9D03}",   // separator misplaced
      u"{2F8C41A0-5B34-11D5-B41D+5E2B7A1C9D03}",   // wrong last separator
      u"{}",
      u"{",
  };
  for (const char16_t* text : bad) {
    CLSID clsid = kSample;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, kSample) << "left unchanged";
    IID iid{};
    EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG);
  }
  // Without braces the text is no GUID at all for IIDFromString.
  IID iid{};
  EXPECT_EQ(IIDFromString(u"2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03", &iid), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(u"", &iid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"{2F8C41A0-5B34-11D5-B41D-5E2B7A1C9D03}", nullptr), E_INVALIDARG);
}

}  // namespace
