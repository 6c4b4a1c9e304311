// The tiny component library the runtime's tests load: one class,
// "ComrtTest.Widget", with a custom interface IWidget.
#ifndef TESTS_COMRT_TEST_COMPONENT_H
#define TESTS_COMRT_TEST_COMPONENT_H

#include <comrt/comrt.h>

// {6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}
inline constexpr CLSID CLSID_TestWidget = {
    0x6B0E2F10, 0x1C2D, 0x4E5F, {0x8A, 0x9B, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
// {6B0E2F11-1C2D-4E5F-8A9B-0C1D2E3F4A5B}
inline constexpr IID IID_IWidget = {
    0x6B0E2F11, 0x1C2D, 0x4E5F, {0x8A, 0x9B, 0x0C, 0x1D, 0x2E, 0x3F, 0x4A, 0x5B}};
inline constexpr const char* kTestWidgetProgId = "ComrtTest.Widget";

struct IWidget : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) = 0;

 protected:
  ~IWidget() = default;
};

#endif  // TESTS_COMRT_TEST_COMPONENT_H
