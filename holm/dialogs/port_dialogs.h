// The dialog classes behind the three settings objects. Each is preset from
// a parsed settings string, shown modally through the UI layer, and on OK
// builds the settings string that the object hands back.
//
//   CPortSettingsDlg (template 131): port, baud rate, data bits, parity, stop bits
//   CBaudPortDlg     (template 135): port and baud rate
//   CPortOnlyDlg     (template 132): port only
#ifndef HOLM_DIALOGS_PORT_DIALOGS_H
#define HOLM_DIALOGS_PORT_DIALOGS_H

#include <string>
#include <string_view>

#include "holm/dialogs/settings_tokens.h"
#include "holm/ui/dialog_template.h"
#include "holm/ui/ui.h"

namespace holm::dialogs {

class CSerialSetupDlg {
 public:
  virtual ~CSerialSetupDlg() = default;
  CSerialSetupDlg(const CSerialSetupDlg&) = delete;
  CSerialSetupDlg& operator=(const CSerialSetupDlg&) = delete;

  // Sets the members from the keys of a settings string (missing keys read
  // as empty text and take the defaults).
  virtual void Preset(const SettingsMap& settings) = 0;

  // Shows the dialog modally (no owner window: the platform picks the
  // default owner). Returns holm::ui::kIdOk with result built, kIdCancel
  // (Cancel or Escape) or kCannotOpen.
  int DoModal();

  const holm::ui::DialogTemplate& Template() const { return tmpl_; }

  // The settings string built on OK.
  std::string result;

 protected:
  explicit CSerialSetupDlg(const holm::ui::DialogTemplate& tmpl) : tmpl_(tmpl) {}
  // Fills the lists and selects and checks what the members say.
  virtual void OnInitDialog(holm::ui::Dialog& dlg) = 0;
  // Reads the controls back and builds result.
  virtual void OnOK(holm::ui::Dialog& dlg) = 0;

 private:
  const holm::ui::DialogTemplate& tmpl_;
};

class CPortSettingsDlg : public CSerialSetupDlg {
 public:
  CPortSettingsDlg();
  void Preset(const SettingsMap& settings) override;

  int dataBits = 0;  // radio group 1008: 0 = "7 bit", 1 = "8 bit"
  int parity = 0;    // radio group 1005: 0 = "No", 1 = "Odd", 2 = "Even"
  int stopBits = 0;  // radio group 1010: 0 = "1 bit", 1 = "1.5 bit", 2 = "2 bits"
  std::string baud;
  std::string device;

 protected:
  void OnInitDialog(holm::ui::Dialog& dlg) override;
  void OnOK(holm::ui::Dialog& dlg) override;
};

class CBaudPortDlg : public CSerialSetupDlg {
 public:
  CBaudPortDlg();
  void Preset(const SettingsMap& settings) override;

  std::string baud;
  std::string device;

 protected:
  void OnInitDialog(holm::ui::Dialog& dlg) override;
  void OnOK(holm::ui::Dialog& dlg) override;
};

class CPortOnlyDlg : public CSerialSetupDlg {
 public:
  CPortOnlyDlg();
  void Preset(const SettingsMap& settings) override;

  std::string device;

 protected:
  void OnInitDialog(holm::ui::Dialog& dlg) override;
  void OnOK(holm::ui::Dialog& dlg) override;
};

// Steps 2 to 4 of Change: parses text, presets dlg from it and shows it.
// True when the user pressed OK: dlg.result then holds the new settings
// string. False after Cancel or Escape, or when the dialog could not open:
// the caller keeps the text it had.
bool RunSetupDialog(CSerialSetupDlg& dlg, std::string_view text);

}  // namespace holm::dialogs

#endif  // HOLM_DIALOGS_PORT_DIALOGS_H
