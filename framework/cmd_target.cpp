#include "framework/cmd_target.h"

#include "framework/module.h"

namespace fw {

CCmdTarget::CCmdTarget() : moduleState_(ThisModuleState()) {
  LockModule();
}

CCmdTarget::~CCmdTarget() {
  UnlockModule();
}

ULONG CCmdTarget::InternalAddRef() {
  MaintainState state(moduleState_);
  return ++refs_;
}

ULONG CCmdTarget::InternalRelease() {
  MaintainState state(moduleState_);
  ULONG left = --refs_;
  if (left == 0) OnFinalRelease();
  return left;
}

HRESULT CCmdTarget::InternalQueryInterface(REFIID iid, void** ppv) {
  MaintainState state(moduleState_);
  if (ppv == nullptr) return E_POINTER;
  IUnknown* found = IsEqualIID(iid, IID_IUnknown) ? GetPrimaryUnknown() : GetInterface(iid);
  if (found == nullptr) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  InternalAddRef();
  *ppv = found;
  return S_OK;
}

void CCmdTarget::OnFinalRelease() {
  delete this;
}

}  // namespace fw
