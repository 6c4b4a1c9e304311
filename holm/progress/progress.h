// Progress: the progress indicator object. It answers IProgressIndicator
// (custom interface) and IDispatch with its own dispatch IID; both drive the
// same step queue (ProgressQueue) and window (CProgressDlg).
//
// Dispatch identifiers by position: 1 AddStep(VT_I4, VT_BSTR, VT_BSTR),
// 2 NextStep, 3 SetProgress(VT_I4), 4 SetProgressPercent(VT_I4), 5 Show,
// 6 Hide; none has a result.
#ifndef HOLM_PROGRESS_PROGRESS_H
#define HOLM_PROGRESS_PROGRESS_H

#include <tarnholm/com.h>
#include <tarnholm/interfaces.h>

#include <string>

#include "framework/cmd_target.h"
#include "framework/dispatch.h"
#include "holm/progress/progress_queue.h"

namespace holm {

class Progress : public fw::CCmdTarget, public IProgressIndicator, public IDispatch {
 public:
  Progress();

  FW_IUNKNOWN_IMPL()
  FW_IDISPATCH_IMPL(kDispatch)

  // IProgressIndicator. Every method returns S_OK, except that AddStep
  // returns E_OUTOFMEMORY (and queues nothing) when memory runs out.
  // AddStep takes ownership of both strings and releases them.
  HRESULT STDMETHODCALLTYPE AddStep(LONG weight, BSTR text, BSTR caption) override;
  HRESULT STDMETHODCALLTYPE NextStep() override;
  HRESULT STDMETHODCALLTYPE SetProgress(LONG value) override;
  HRESULT STDMETHODCALLTYPE SetProgressPercent(LONG percent) override;
  HRESULT STDMETHODCALLTYPE Show() override;
  HRESULT STDMETHODCALLTYPE Hide() override;

  const ProgressQueue& Queue() const { return queue_; }

 protected:
  ~Progress() override;
  IUnknown* GetInterface(REFIID iid) override;
  IUnknown* GetPrimaryUnknown() override { return static_cast<IProgressIndicator*>(this); }

 private:
  // The dispatch path: the strings belong to the dispatch layer and are
  // only copied.
  HRESULT AddStepCopy(LONG weight, BSTR text, BSTR caption);

  static const fw::DispMethod kMethods[];
  static const fw::DispatchTable kDispatch;
  static HRESULT DispAddStep(void* self, const fw::DispArgs& args);
  static HRESULT DispNextStep(void* self, const fw::DispArgs& args);
  static HRESULT DispSetProgress(void* self, const fw::DispArgs& args);
  static HRESULT DispSetProgressPercent(void* self, const fw::DispArgs& args);
  static HRESULT DispShow(void* self, const fw::DispArgs& args);
  static HRESULT DispHide(void* self, const fw::DispArgs& args);

  ProgressQueue queue_;
};

}  // namespace holm

#endif  // HOLM_PROGRESS_PROGRESS_H
