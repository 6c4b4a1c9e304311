// BSTR allocation and VARIANT ownership and conversion.
#include <comrt/comrt.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Text(BSTR b) {
  return std::u16string(b, SysStringLen(b));
}

TEST(Bstr, KeepsLengthAndEmbeddedNuls) {
  const OLECHAR raw[] = {u'a', 0, u'b', 0, u'c'};
  BSTR b = SysAllocStringLen(raw, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(Text(b), std::u16string(raw, 5));
  EXPECT_EQ(b[5], 0);  // terminated after the last character

  // A copy through SysAllocString stops at the first NUL.
  BSTR c = SysAllocString(b);
  EXPECT_EQ(SysStringLen(c), 1u);
  SysFreeString(b);
  SysFreeString(c);
}

TEST(Bstr, NullAndUninitialisedForms) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR b = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[3], 0);
  SysFreeString(b);

  // An odd byte length still ends in a whole NUL character.
  BSTR bytes = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(bytes), 3u);
  EXPECT_EQ(SysStringLen(bytes), 1u);
  EXPECT_EQ(reinterpret_cast<const char*>(bytes)[3], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(bytes)[4], 0);
  SysFreeString(bytes);

  // Sizes beyond the 32-bit prefix are refused, not wrapped.
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReAllocFromItsOwnTextAndCounts) {
  const LONG before = comrt_BstrLiveCount();
  BSTR b = SysAllocString(u"hello world");
  ASSERT_EQ(comrt_BstrLiveCount(), before + 1);
  // The source lies inside the string being replaced.
  ASSERT_TRUE(SysReAllocString(&b, b + 6));
  EXPECT_EQ(Text(b), u"world");
  ASSERT_TRUE(SysReAllocStringLen(&b, b, 3));
  EXPECT_EQ(Text(b), u"wor");
  ASSERT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(SysStringLen(b), 0u);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(comrt_BstrLiveCount(), before + 1);  // the old ones were freed
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  SysFreeString(b);
  EXPECT_EQ(comrt_BstrLiveCount(), before);
}

// An IUnknown that counts its references.
struct Counted : IUnknown {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(Variant, ClearFreesWhatItOwnsOnly) {
  const LONG before = comrt_BstrLiveCount();
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(comrt_BstrLiveCount(), before);

  // By-reference forms point at the caller's storage and free nothing.
  BSTR callers = SysAllocString(u"caller's");
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &callers;
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(comrt_BstrLiveCount(), before + 1);
  EXPECT_EQ(Text(callers), u"caller's");

  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_BSTR;
  inner.bstrVal = callers;
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &inner;
  EXPECT_EQ(VariantClear(&outer), S_OK);
  EXPECT_EQ(inner.vt, VT_BSTR);
  EXPECT_EQ(comrt_BstrLiveCount(), before + 1);
  EXPECT_EQ(VariantClear(&inner), S_OK);
  EXPECT_EQ(comrt_BstrLiveCount(), before);

  Counted unk;
  VARIANT u;
  u.vt = VT_UNKNOWN;
  u.punkVal = &unk;
  unk.AddRef();
  EXPECT_EQ(VariantClear(&u), S_OK);
  EXPECT_EQ(unk.refs, 1u);

  // A type it does not know is refused and left alone.
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 0x0FFF);
}

TEST(Variant, CopyDuplicatesStringsAndReferences) {
  const LONG before = comrt_BstrLiveCount();
  const OLECHAR raw[] = {u'x', 0, u'y'};
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocStringLen(raw, 3);
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"replaced");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(Text(dst.bstrVal), std::u16string(raw, 3));
  EXPECT_EQ(comrt_BstrLiveCount(), before + 2);  // "replaced" was freed
  VariantClear(&src);
  VariantClear(&dst);
  EXPECT_EQ(comrt_BstrLiveCount(), before);

  Counted unk;
  src.vt = VT_UNKNOWN;
  src.punkVal = &unk;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(unk.refs, 2u);
  VariantClear(&dst);
  EXPECT_EQ(unk.refs, 1u);
}

VARIANT I4(LONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

// Converts text to `vt`; returns the result code and leaves the value in out.
HRESULT FromText(const char16_t* text, VARTYPE vt, VARIANT& out) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(text);
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &src, 0, vt);
  VariantClear(&src);
  return hr;
}

TEST(VariantChangeType, NumbersToTextAndBack) {
  const LONG before = comrt_BstrLiveCount();
  VARIANT src = I4(-42), dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_EQ(Text(dst.bstrVal), u"-42");
  VariantClear(&dst);

  VARIANT out;
  ASSERT_EQ(FromText(u"  123 ", VT_I4, out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 123);
  ASSERT_EQ(FromText(u"-32768", VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, -32768);
  ASSERT_EQ(FromText(u"255", VT_UI1, out), S_OK);
  EXPECT_EQ(out.bVal, 255);
  // Fractions round half to even.
  ASSERT_EQ(FromText(u"2.5", VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 2);
  ASSERT_EQ(FromText(u"3.5", VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 4);
  ASSERT_EQ(FromText(u"-2.51", VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, -3);
  EXPECT_EQ(comrt_BstrLiveCount(), before);
}

TEST(VariantChangeType, RejectsTextThatIsNoNumberAndOverflows) {
  VARIANT out;
  for (const char16_t* text : {u"", u"  ", u"12abc", u"abc", u"1 2", u"-", u"0x10", u"1e3"}) {
    EXPECT_EQ(FromText(text, VT_I4, out), DISP_E_TYPEMISMATCH)
        << std::string(text, text + std::char_traits<char16_t>::length(text));
    EXPECT_EQ(out.vt, VT_EMPTY);
  }
  EXPECT_EQ(FromText(u"2147483648", VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"99999999999999999999999", VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"256", VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"-1", VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"32768", VT_I2, out), DISP_E_OVERFLOW);
  ASSERT_EQ(FromText(u"2147483647", VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 2147483647);

  VARIANT big = I4(70000), dst;
  VariantInit(&dst);
  EXPECT_EQ(VariantChangeType(&dst, &big, 0, VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(dst.vt, VT_EMPTY);
  VARIANT negative = I4(-1);
  EXPECT_EQ(VariantChangeType(&dst, &negative, 0, VT_UI1), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, BooleansAndEmpty) {
  VARIANT out;
  ASSERT_EQ(FromText(u"True", VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(FromText(u"false", VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(FromText(u"7", VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(FromText(u"maybe", VT_BOOL, out), DISP_E_TYPEMISMATCH);

  VARIANT b, dst;
  VariantInit(&b);
  VariantInit(&dst);
  b.vt = VT_BOOL;
  b.boolVal = VARIANT_TRUE;
  ASSERT_EQ(VariantChangeType(&dst, &b, 0, VT_I4), S_OK);
  EXPECT_EQ(dst.lVal, -1);
  ASSERT_EQ(VariantChangeType(&dst, &b, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"-1");
  ASSERT_EQ(VariantChangeType(&dst, &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"True");
  VariantClear(&dst);

  VARIANT empty;
  VariantInit(&empty);
  ASSERT_EQ(VariantChangeType(&dst, &empty, 0, VT_I4), S_OK);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 0);
  ASSERT_EQ(VariantChangeType(&dst, &empty, 0, VT_BSTR), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
  VariantClear(&dst);
}

TEST(VariantChangeType, ReadsThroughReferences) {
  const LONG before = comrt_BstrLiveCount();
  LONG number = 1234;
  VARIANT ref, dst;
  VariantInit(&dst);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"1234");
  VariantClear(&dst);

  BSTR text = SysAllocString(u"77");
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_I2), S_OK);
  EXPECT_EQ(dst.iVal, 77);
  // Same type through a reference: a copy the result owns, the caller's
  // string untouched.
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
  EXPECT_NE(dst.bstrVal, text);
  VariantClear(&dst);
  EXPECT_EQ(Text(text), u"77");

  VARIANT inner = I4(5);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_UI1), S_OK);
  EXPECT_EQ(dst.bVal, 5);

  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = nullptr;
  EXPECT_NE(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
  SysFreeString(text);
  EXPECT_EQ(comrt_BstrLiveCount(), before);
}

TEST(VariantChangeType, InPlaceReplacesTheSourceAndFailureKeepsIt) {
  const LONG before = comrt_BstrLiveCount();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"808");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 808);
  EXPECT_EQ(comrt_BstrLiveCount(), before);  // the text was freed

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"not a number");
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(Text(v.bstrVal), u"not a number");
  VariantClear(&v);

  VARIANT src = I4(1), dst;
  VariantInit(&dst);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, 0x0FFF), DISP_E_BADVARTYPE);
  EXPECT_EQ(comrt_BstrLiveCount(), before);
}

}  // namespace
