#include "holm/progress/progress.h"

#include <tarnholm/text.h>

#include <algorithm>
#include <new>
#include <vector>

#include "framework/module.h"
#include "holm/progress/progress_factory.h"

namespace holm {
namespace {

const VARTYPE kAddStepParams[] = {VT_I4, VT_BSTR, VT_BSTR};
const VARTYPE kI4Param[] = {VT_I4};

// The dispatch layer hands the object pointer that FW_IDISPATCH_IMPL passed.
Progress* Self(void* self) {
  return static_cast<Progress*>(self);
}

}  // namespace

const fw::DispMethod Progress::kMethods[] = {
    {"AddStep", kAddStepParams, 3, &Progress::DispAddStep},
    {"NextStep", nullptr, 0, &Progress::DispNextStep},
    {"SetProgress", kI4Param, 1, &Progress::DispSetProgress},
    {"SetProgressPercent", kI4Param, 1, &Progress::DispSetProgressPercent},
    {"Show", nullptr, 0, &Progress::DispShow},
    {"Hide", nullptr, 0, &Progress::DispHide},
};
const fw::DispatchTable Progress::kDispatch(Progress::kMethods,
                                            sizeof(Progress::kMethods) / sizeof(fw::DispMethod));

Progress::Progress() = default;

// The queued steps are freed and the window destroyed with the object.
Progress::~Progress() = default;

IUnknown* Progress::GetInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IProgressIndicator)) return static_cast<IProgressIndicator*>(this);
  if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_IProgress))
    return static_cast<IDispatch*>(this);
  return nullptr;
}

namespace {

// The narrow text of a step as the window shows it: text that cannot be
// converted shows as empty, and it ends at an embedded NUL.
std::string StepText(BSTR text) {
  std::string out;
  tarnholm::BstrToNarrow(text, out);
  out.resize(std::min(out.size(), out.find('\0')));
  return out;
}

}  // namespace

// Memory exhaustion while copying the strings or queuing the step leaves the
// queue, counters and window as they were and is reported as E_OUTOFMEMORY:
// a step that was half added would shift every later step.
HRESULT Progress::AddStepCopy(LONG weight, BSTR text, BSTR caption) {
  try {
    std::string t = StepText(text);
    std::string c = StepText(caption);
    queue_.AddStep(weight, std::move(t), std::move(c));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT STDMETHODCALLTYPE Progress::AddStep(LONG weight, BSTR text, BSTR caption) {
  fw::MaintainState state(fw::ThisModuleState());
  HRESULT hr = AddStepCopy(weight, text, caption);
  // The object owns the caller's strings on this path.
  SysFreeString(text);
  if (caption != text) SysFreeString(caption);
  return hr;
}

HRESULT STDMETHODCALLTYPE Progress::NextStep() {
  fw::MaintainState state(fw::ThisModuleState());
  queue_.NextStep();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Progress::SetProgress(LONG value) {
  fw::MaintainState state(fw::ThisModuleState());
  queue_.SetProgress(value);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Progress::SetProgressPercent(LONG percent) {
  fw::MaintainState state(fw::ThisModuleState());
  queue_.SetProgressPercent(percent);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Progress::Show() {
  fw::MaintainState state(fw::ThisModuleState());
  queue_.Show();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Progress::Hide() {
  fw::MaintainState state(fw::ThisModuleState());
  queue_.Hide();
  return S_OK;
}

HRESULT Progress::DispAddStep(void* self, const fw::DispArgs& args) {
  fw::MaintainState state(fw::ThisModuleState());
  return Self(self)->AddStepCopy(args.I4(0), args.Bstr(1), args.Bstr(2));
}

HRESULT Progress::DispNextStep(void* self, const fw::DispArgs&) {
  return Self(self)->NextStep();
}

HRESULT Progress::DispSetProgress(void* self, const fw::DispArgs& args) {
  return Self(self)->SetProgress(args.I4(0));
}

HRESULT Progress::DispSetProgressPercent(void* self, const fw::DispArgs& args) {
  return Self(self)->SetProgressPercent(args.I4(0));
}

HRESULT Progress::DispShow(void* self, const fw::DispArgs&) {
  return Self(self)->Show();
}

HRESULT Progress::DispHide(void* self, const fw::DispArgs&) {
  return Self(self)->Hide();
}

fw::CCmdTarget* CreateProgress() {
  return new Progress;
}

}  // namespace holm
