// HC_OnlyBaudPort, HC_OnlyPort and HC_PortSettings: automation objects that
// hold nothing but their reference count. Each answers IDispatch (and its
// own dispatch interface) with the one method "Change" (dispatch identifier
// 1, the caller's string variable by reference) and the custom interface
// IPortSetup; both paths run the same code.
//
// HC_OnlyBaudPort answers IPortSetup as well. Its object carries the same
// custom part with the same Change as the other two, so a client that asks
// any of the three for IPortSetup gets it; refusing would only make such a
// client fall back to the slower dispatch path for no gain.
#include "holm/dialogs/port_setup.h"

#include <tarnholm/interfaces.h>
#include <tarnholm/text.h>

#include <memory>
#include <new>
#include <string>

#include "framework/dispatch.h"
#include "framework/module.h"
#include "holm/dialogs/port_dialogs.h"

namespace holm {
namespace {

using dialogs::CSerialSetupDlg;

// Change: the caller's string is read as narrow text and the dialog shown
// preset from it. On OK the variable receives a new string holding the
// settings the user chose; otherwise (Cancel, Escape, no dialog) a new string
// holding exactly what the variable held, so a text that the code page
// cannot represent comes back unharmed. The caller's string is released
// only once its replacement exists: should memory for the new string run
// out, the variable keeps its string and E_OUTOFMEMORY is returned instead
// of S_OK with the caller's text lost.
HRESULT ChangeSettings(CSerialSetupDlg& dlg, BSTR* settings) {
  if (settings == nullptr) return E_POINTER;
  BSTR out = nullptr;
  try {
    std::string text;
    // Text that cannot be converted reads as empty: the dialog opens with
    // its defaults, and Cancel still returns the caller's string.
    tarnholm::BstrToNarrow(*settings, text);
    bool ok = false;
    try {
      ok = dialogs::RunSetupDialog(dlg, text);
    } catch (...) {
      ok = false;  // a dialog that fails to show counts as cancelled
    }
    if (ok) {
      out = tarnholm::NarrowToBstr(dlg.result);
    } else if (*settings != nullptr) {
      out = SysAllocStringLen(*settings, SysStringLen(*settings));
    } else {
      out = tarnholm::NarrowToBstr(std::string());
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (out == nullptr) return E_OUTOFMEMORY;
  SysFreeString(*settings);
  *settings = out;
  return S_OK;
}

class CPortSetupObject : public fw::CCmdTarget, public IPortSetup, public IDispatch {
 public:
  FW_IUNKNOWN_IMPL()
  FW_IDISPATCH_IMPL(kDispatch)

  HRESULT STDMETHODCALLTYPE Change(BSTR* settings) override {
    fw::MaintainState state(fw::ThisModuleState());
    std::unique_ptr<CSerialSetupDlg> dlg(NewDialog());
    if (!dlg) return E_OUTOFMEMORY;
    return ChangeSettings(*dlg, settings);
  }

 protected:
  explicit CPortSetupObject(const IID& dispatchIid) : dispatchIid_(dispatchIid) {}

  // A fresh dialog for one call of Change; null when memory runs out.
  virtual CSerialSetupDlg* NewDialog() const = 0;

  IUnknown* GetInterface(REFIID iid) override {
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, dispatchIid_))
      return static_cast<IDispatch*>(this);
    if (IsEqualIID(iid, IID_IPortSetup)) return static_cast<IPortSetup*>(this);
    return nullptr;
  }
  IUnknown* GetPrimaryUnknown() override { return static_cast<IDispatch*>(this); }

 private:
  static HRESULT CallChange(void* self, const fw::DispArgs& args) {
    return static_cast<CPortSetupObject*>(self)->Change(args.BstrRef(0));
  }
  static const VARTYPE kChangeParams[1];
  static const fw::DispMethod kMethods[1];
  static const fw::DispatchTable kDispatch;

  const IID& dispatchIid_;
};

const VARTYPE CPortSetupObject::kChangeParams[1] = {VT_BSTR | VT_BYREF};
const fw::DispMethod CPortSetupObject::kMethods[1] = {
    {"Change", CPortSetupObject::kChangeParams, 1, &CPortSetupObject::CallChange}};
const fw::DispatchTable CPortSetupObject::kDispatch(CPortSetupObject::kMethods, 1);

class HC_OnlyBaudPort : public CPortSetupObject {
 public:
  HC_OnlyBaudPort() : CPortSetupObject(DIID_IHC_OnlyBaudPort) {}

 protected:
  CSerialSetupDlg* NewDialog() const override { return new (std::nothrow) dialogs::CBaudPortDlg; }
};

class HC_OnlyPort : public CPortSetupObject {
 public:
  HC_OnlyPort() : CPortSetupObject(DIID_IHC_OnlyPort) {}

 protected:
  CSerialSetupDlg* NewDialog() const override { return new (std::nothrow) dialogs::CPortOnlyDlg; }
};

class HC_PortSettings : public CPortSetupObject {
 public:
  HC_PortSettings() : CPortSetupObject(DIID_IHC_PortSettings) {}

 protected:
  CSerialSetupDlg* NewDialog() const override {
    return new (std::nothrow) dialogs::CPortSettingsDlg;
  }
};

}  // namespace

fw::CCmdTarget* CreateHC_OnlyBaudPort() {
  return new HC_OnlyBaudPort;
}
fw::CCmdTarget* CreateHC_OnlyPort() {
  return new HC_OnlyPort;
}
fw::CCmdTarget* CreateHC_PortSettings() {
  return new HC_PortSettings;
}

}  // namespace holm
