// The Progress object through its component interfaces, custom and
// dispatch, with the window's state read from the headless UI backend.
#include "holm/progress/progress.h"

#include <gtest/gtest.h>
#include <tarnholm/com.h>
#include <tarnholm/interfaces.h>

#include <array>
#include <string>

#include "framework/module.h"
#include "holm/progress/progress_dlg.h"
#include "holm/progress/progress_factory.h"
#include "holm/ui/headless.h"

namespace {

using holm::kProgressBarId;
using holm::kProgressTextId;
namespace ui = holm::ui;

BSTR Bstr(const char* s) {
  if (s == nullptr) return nullptr;
  std::u16string w;
  for (const char* p = s; *p; ++p)
    w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

std::string Text(BSTR b) {
  std::string out;
  for (UINT i = 0; i < SysStringLen(b); ++i) out.push_back(static_cast<char>(b[i]));
  return out;
}

enum class Path { kCustom, kDispatch };

// Drives one object through the chosen interface.
class ProgressFixture : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    object_ = holm::CreateProgress();
    holm::Progress* p = static_cast<holm::Progress*>(object_);
    ASSERT_EQ(static_cast<IProgressIndicator*>(p)->QueryInterface(
                  IID_IProgressIndicator, reinterpret_cast<void**>(&indicator_)),
              S_OK);
    ASSERT_EQ(indicator_->QueryInterface(DIID_IProgress, reinterpret_cast<void**>(&dispatch_)),
              S_OK);
    // The creation reference goes; the two interface references keep it.
    static_cast<IProgressIndicator*>(p)->Release();
    window_ = ui_.FindWindow(holm::kProgressTemplateId);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (dispatch_) dispatch_->Release();
    if (indicator_) indicator_->Release();
  }

  HRESULT Invoke(DISPID id, VARIANT* args, UINT count) {
    DISPPARAMS params{args, nullptr, count, 0};
    return dispatch_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }

  void AddStep(LONG weight, const char* text, const char* caption) {
    if (GetParam() == Path::kCustom) {
      // The object takes both strings and releases them.
      ASSERT_EQ(indicator_->AddStep(weight, Bstr(text), Bstr(caption)), S_OK);
      return;
    }
    // Arguments go last to first; the strings stay the caller's.
    VARIANT args[3];
    for (VARIANT& v : args) VariantInit(&v);
    args[2].vt = VT_I4;
    args[2].lVal = weight;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = Bstr(text);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = Bstr(caption);
    ASSERT_EQ(Invoke(1, args, 3), S_OK);
    // Still ours and intact after the call.
    EXPECT_EQ(Text(args[1].bstrVal), text ? text : "");
    EXPECT_EQ(Text(args[0].bstrVal), caption ? caption : "");
    VariantClear(&args[0]);
    VariantClear(&args[1]);
  }
  void Call(DISPID id, HRESULT (STDMETHODCALLTYPE IProgressIndicator::*m)()) {
    if (GetParam() == Path::kCustom)
      ASSERT_EQ((indicator_->*m)(), S_OK);
    else
      ASSERT_EQ(Invoke(id, nullptr, 0), S_OK);
  }
  void Call(DISPID id, HRESULT (STDMETHODCALLTYPE IProgressIndicator::*m)(LONG), LONG value) {
    if (GetParam() == Path::kCustom) {
      ASSERT_EQ((indicator_->*m)(value), S_OK);
      return;
    }
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = value;
    ASSERT_EQ(Invoke(id, &arg, 1), S_OK);
  }
  void NextStep() { Call(2, &IProgressIndicator::NextStep); }
  void SetProgress(LONG v) { Call(3, &IProgressIndicator::SetProgress, v); }
  void SetProgressPercent(LONG p) { Call(4, &IProgressIndicator::SetProgressPercent, p); }
  void Show() { Call(5, &IProgressIndicator::Show); }
  void Hide() { Call(6, &IProgressIndicator::Hide); }

  const holm::ProgressQueue& Queue() const {
    return static_cast<holm::Progress*>(object_)->Queue();
  }
  int Pos() const { return window_->Model().Pos(kProgressBarId); }
  int Max() const { return window_->Model().RangeMax(kProgressBarId); }
  std::string ShownText() const { return window_->Model().Text(kProgressTextId); }
  std::string Caption() const { return window_->Model().Caption(); }

  ui::HeadlessBackend ui_;
  ui::ScopedBackend use_{ui_};
  fw::CCmdTarget* object_ = nullptr;
  IProgressIndicator* indicator_ = nullptr;
  IDispatch* dispatch_ = nullptr;
  const ui::ModelessWindow* window_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(BothPaths, ProgressFixture,
                         ::testing::Values(Path::kCustom, Path::kDispatch), [](const auto& p) {
                           return p.param == Path::kCustom ? "Custom" : "Dispatch";
                         });

TEST_P(ProgressFixture, NewObjectHasAHiddenWindowFromTheTemplate) {
  EXPECT_FALSE(window_->IsVisible());
  EXPECT_EQ(window_->Model().RangeMin(kProgressBarId), 0);
  EXPECT_EQ(Max(), 1);
  EXPECT_EQ(Pos(), 0);
  EXPECT_EQ(Queue().PendingIndex(), -1);
  EXPECT_EQ(Queue().Total(), 1);
  EXPECT_EQ(Queue().Completed(), 0);
  EXPECT_FALSE(window_->Model().Visible(ui::kIdOk));
  EXPECT_FALSE(window_->Model().Visible(ui::kIdCancel));
  Show();
  EXPECT_TRUE(window_->IsVisible());
  EXPECT_EQ(ui_.ShowCount(*window_), 1);
  EXPECT_EQ(Caption(), "Progress Indicator");
  EXPECT_EQ(ShownText(), "Performing operation");
  // Show and Hide in any order, any number of times; neither changes state.
  Hide();
  Hide();
  EXPECT_FALSE(window_->IsVisible());
  Show();
  Show();
  EXPECT_TRUE(window_->IsVisible());
  EXPECT_EQ(Max(), 1);
  EXPECT_EQ(ShownText(), "Performing operation");
}

TEST_P(ProgressFixture, WorkedExample) {
  Show();
  AddStep(30, "Erasing", "Download");
  AddStep(70, "Writing", "");
  EXPECT_EQ(Max(), 101);
  EXPECT_EQ(Pos(), 0);  // AddStep does not move the bar
  EXPECT_EQ(ShownText(), "Erasing");
  EXPECT_EQ(Caption(), "Download");
  SetProgressPercent(50);
  EXPECT_EQ(Pos(), 15);
  NextStep();
  EXPECT_EQ(Pos(), 30);
  EXPECT_EQ(ShownText(), "Writing");
  EXPECT_EQ(Caption(), "Download");  // an empty caption leaves the shown one
  SetProgress(35);
  EXPECT_EQ(Pos(), 65);
  NextStep();
  EXPECT_EQ(Pos(), 100);
  EXPECT_EQ(ShownText(), "Operation in progress...");
  EXPECT_EQ(Caption(), "Download");
  EXPECT_EQ(Queue().PendingIndex(), -1);
  EXPECT_EQ(Queue().Completed(), 100);
}

TEST_P(ProgressFixture, NextStepAheadOfTheStepsCountsTheNextAddedStepAsDone) {
  NextStep();
  EXPECT_EQ(Queue().PendingIndex(), -2);
  EXPECT_EQ(Pos(), 0);
  EXPECT_EQ(ShownText(), "Performing operation");  // below -1 the texts stay
  AddStep(10, "First", "Cap1");
  EXPECT_EQ(Queue().PendingIndex(), -1);
  EXPECT_EQ(Queue().Completed(), 10);
  EXPECT_TRUE(Queue().Steps().empty());
  EXPECT_EQ(ShownText(), "Operation in progress...");
  EXPECT_EQ(Caption(), "Progress Indicator");
  AddStep(10, "Second", "Cap2");
  EXPECT_EQ(Queue().PendingIndex(), 0);
  EXPECT_EQ(Queue().Total(), 21);
  EXPECT_EQ(Max(), 21);
  EXPECT_EQ(ShownText(), "Second");
  EXPECT_EQ(Caption(), "Cap2");
  SetProgressPercent(50);
  EXPECT_EQ(Pos(), 15);  // Completed 10 + 5
}

TEST_P(ProgressFixture, ProgressInsideAStepNeverGoesBackAndStopsAtItsWeight) {
  AddStep(5, "a", "");
  NextStep();  // Completed 5
  AddStep(10, "b", "");
  SetProgress(5);
  SetProgress(3);
  EXPECT_EQ(Pos(), 10);    // Completed + 5
  SetProgressPercent(20);  // 2 units: lower, ignored
  EXPECT_EQ(Pos(), 10);
  SetProgress(500);
  EXPECT_EQ(Pos(), 15);  // capped at the weight
  AddStep(10, "c", "");
  NextStep();
  SetProgress(-1);  // unsigned comparison: a negative value completes the step
  EXPECT_EQ(Pos(), 25);
  NextStep();
  AddStep(40, "d", "");
  SetProgressPercent(150);
  EXPECT_EQ(Pos(), 25 + 40);
  NextStep();
  AddStep(8, "e", "");
  SetProgressPercent(-10);  // negative percent: a negative value, completes too
  EXPECT_EQ(Pos(), 65 + 8);
}

TEST_P(ProgressFixture, PercentIsRoundedHalvesAwayFromZero) {
  AddStep(3, "x", "");
  SetProgressPercent(50);  // 1.5 -> 2
  EXPECT_EQ(Pos(), 2);
  NextStep();
  AddStep(1, "y", "");
  SetProgressPercent(49);  // 0.49 -> 0
  EXPECT_EQ(Pos(), 3);
  SetProgressPercent(50);  // 0.5 -> 1
  EXPECT_EQ(Pos(), 4);
  // Large operands are multiplied in 64 bits.
  NextStep();
  AddStep(30000, "z", "");
  SetProgressPercent(99);  // 29700, not an overflowed product
  EXPECT_EQ(Queue().Steps().front().Progress, 29700u);
}

TEST_P(ProgressFixture, NoStepQueuedChangesNothing) {
  Show();
  const int paints = ui_.RepaintCount(*window_, kProgressBarId);
  SetProgress(5);
  SetProgressPercent(50);
  EXPECT_EQ(Pos(), 0);
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressBarId), paints);
  NextStep();
  NextStep();
  EXPECT_EQ(Queue().PendingIndex(), -3);
  EXPECT_EQ(Queue().Completed(), 0);
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressBarId), paints);
}

TEST_P(ProgressFixture, BarRangeTakesTheLowSixteenBitsOfTotal) {
  AddStep(70000, "big", "");
  EXPECT_EQ(Queue().Total(), 70001);
  EXPECT_EQ(Max(), 70001 & 0xFFFF);
  SetProgressPercent(1);  // 700: inside the cut range
  EXPECT_EQ(Pos(), 700);
  SetProgressPercent(100);  // 70000: the control keeps it at its maximum
  EXPECT_EQ(Pos(), 70001 & 0xFFFF);
  AddStep(65535, "more", "");  // Total 135536 -> low bits 4464
  EXPECT_EQ(Max(), 135536 & 0xFFFF);
}

TEST_P(ProgressFixture, EveryChangeRepaintsAtOnce) {
  Show();
  const int text0 = ui_.RepaintCount(*window_, kProgressTextId);
  const int bar0 = ui_.RepaintCount(*window_, kProgressBarId);
  const int cap0 = ui_.RepaintCount(*window_, ui::kCaptionPart);
  AddStep(10, "Step", "Title");
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressBarId), bar0 + 1);  // range
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressTextId), text0 + 1);
  EXPECT_EQ(ui_.RepaintCount(*window_, ui::kCaptionPart), cap0 + 1);
  SetProgressPercent(30);
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressBarId), bar0 + 2);
  NextStep();
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressBarId), bar0 + 3);
  EXPECT_EQ(ui_.RepaintCount(*window_, kProgressTextId), text0 + 2);
}

TEST(ProgressPercent, RoundingInSixtyFourBits) {
  using Q = holm::ProgressQueue;
  EXPECT_EQ(Q::PercentOf(50, 3), 2);
  EXPECT_EQ(Q::PercentOf(-50, 3), -2);
  EXPECT_EQ(Q::PercentOf(49, 1), 0);
  EXPECT_EQ(Q::PercentOf(-49, 1), 0);
  EXPECT_EQ(Q::PercentOf(150, 40), 60);
  EXPECT_EQ(Q::PercentOf(100, 0x7FFFFFFF), 0x7FFFFFFF);
  // 46116860141324206 taken as a 32-bit value.
  EXPECT_EQ(Q::PercentOf(0x7FFFFFFF, 0x7FFFFFFF), 987842478);
}

class ProgressObject : public ::testing::Test {
 protected:
  ui::HeadlessBackend ui_;
  ui::ScopedBackend use_{ui_};
};

TEST_F(ProgressObject, AnswersItsInterfacesAndDiesWithItsWindow) {
  const LONG locks = fw::ModuleLockCount();
  fw::CCmdTarget* object = holm::CreateProgress();
  IProgressIndicator* pi = static_cast<holm::Progress*>(object);
  EXPECT_EQ(fw::ModuleLockCount(), locks + 1);
  IUnknown* unk = nullptr;
  IDispatch* d1 = nullptr;
  IDispatch* d2 = nullptr;
  IUnknown* other = nullptr;
  ASSERT_EQ(pi->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  ASSERT_EQ(pi->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d1)), S_OK);
  ASSERT_EQ(d1->QueryInterface(DIID_IProgress, reinterpret_cast<void**>(&d2)), S_OK);
  EXPECT_EQ(d1, d2);
  EXPECT_EQ(unk, static_cast<IUnknown*>(pi));
  EXPECT_EQ(pi->QueryInterface(IID_IPortSetup, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  // Dispatch identifiers by position.
  const char16_t* names[] = {u"AddStep", u"NextStep", u"SetProgress", u"SetProgressPercent",
                             u"Show",    u"Hide"};
  for (DISPID i = 0; i < 6; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    DISPID id = 0;
    ASSERT_EQ(d1->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, i + 1);
  }

  // Steps still queued when the last reference goes are freed with the
  // object, and the window is destroyed.
  pi->AddStep(10, Bstr("left"), Bstr("over"));
  pi->Show();
  EXPECT_NE(ui_.FindWindow(holm::kProgressTemplateId), nullptr);
  unk->Release();
  d1->Release();
  d2->Release();
  EXPECT_EQ(ui_.WindowsDestroyed(), 0);
  pi->Release();
  EXPECT_EQ(ui_.FindWindow(holm::kProgressTemplateId), nullptr);
  EXPECT_EQ(ui_.WindowsDestroyed(), 1);
  EXPECT_EQ(fw::ModuleLockCount(), locks);
}

TEST_F(ProgressObject, NullAndSharedStringsOnTheCustomPath) {
  fw::CCmdTarget* object = holm::CreateProgress();
  auto* p = static_cast<holm::Progress*>(object);
  IProgressIndicator* pi = p;
  EXPECT_EQ(pi->AddStep(5, nullptr, nullptr), S_OK);  // no strings: nothing shown changes
  EXPECT_EQ(p->Queue().Dialog().Window().Model().Text(kProgressTextId), "Performing operation");
  BSTR same = Bstr("both");
  EXPECT_EQ(pi->AddStep(5, same, same), S_OK);  // one string for both: released once
  EXPECT_EQ(p->Queue().Steps().back().Text, "both");
  EXPECT_EQ(p->Queue().Steps().back().Caption, "both");
  pi->Release();
}

// A step's text ends at an embedded NUL, as the window shows it: a text
// that starts with NUL leaves what is shown, and the rest of it is dropped.
TEST_F(ProgressObject, StepTextEndsAtAnEmbeddedNul) {
  fw::CCmdTarget* object = holm::CreateProgress();
  auto* p = static_cast<holm::Progress*>(object);
  IProgressIndicator* pi = p;
  EXPECT_EQ(pi->AddStep(5, SysAllocStringLen(u"\0hidden", 7), SysAllocStringLen(u"Cap\0x", 5)),
            S_OK);
  EXPECT_EQ(p->Queue().Steps().back().Text, "");
  EXPECT_EQ(p->Queue().Steps().back().Caption, "Cap");
  EXPECT_EQ(p->Queue().Dialog().Window().Model().Text(kProgressTextId), "Performing operation");
  pi->Release();
}

// The window every backend builds: 250 x 70 units, centred, a caption and
// a frame but no system menu (the user cannot close it under the caller),
// the text line and the bordered bar where the layout puts them.
TEST(ProgressTemplate, SizeStyleAndTheBarsRectangle) {
  const ui::DialogTemplate& t = holm::ProgressTemplate();
  EXPECT_EQ(t.width, 250);
  EXPECT_EQ(t.height, 70);
  EXPECT_EQ(t.style, ui::kStyleCaption | ui::kStyleModalFrame | ui::kStyleCentered);
  const ui::ControlTemplate* bar = t.Find(kProgressBarId);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->kind, ui::ControlKind::kProgressBar);
  EXPECT_EQ((std::array<int, 4>{bar->rect.left, bar->rect.top, bar->rect.width, bar->rect.height}),
            (std::array<int, 4>{20, 28, 210, 14}));
  EXPECT_TRUE(bar->bordered);
  const ui::ControlTemplate* text = t.Find(kProgressTextId);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(
      (std::array<int, 4>{text->rect.left, text->rect.top, text->rect.width, text->rect.height}),
      (std::array<int, 4>{7, 7, 238, 14}));
}

}  // namespace
