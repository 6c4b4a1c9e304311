#include "holm/dialogs/port_dialogs.h"

#include "holm/dialogs/dialog_templates.h"

namespace holm::dialogs {
namespace {

using holm::ui::Dialog;

void FillPorts(Dialog& dlg) {
  for (const char* item : kPortItems) dlg.AddItem(IDC_PORT, item);
}

void FillBauds(Dialog& dlg) {
  for (const char* item : kBaudItems) dlg.AddItem(IDC_BAUD, item);
}

// A list selects the first item that begins with the member's text, without
// regard to case; with no such item it stays without selection.
void SelectPrefix(Dialog& dlg, int id, const std::string& text) {
  if (dlg.SelectPrefix(id, text) < 0) dlg.SetSelectedIndex(id, -1);
}

std::string OrDefault(std::string value, const char* fallback) {
  return value.empty() ? std::string(fallback) : value;
}

// "COM%li" of the selected index + 1: no selection gives COM0.
std::string PortFromIndex(const Dialog& dlg) {
  return "COM" + std::to_string(static_cast<long>(dlg.SelectedIndex(IDC_PORT)) + 1);
}

// The word for index in words, empty outside them.
template <size_t N>
std::string WordAt(const char* const (&words)[N], int index) {
  if (index < 0 || static_cast<size_t>(index) >= N) return std::string();
  return words[index];
}

}  // namespace

int CSerialSetupDlg::DoModal() {
  Dialog dlg(tmpl_);
  holm::ui::ModalHandlers handlers;
  handlers.onInit = [this](Dialog& d) { OnInitDialog(d); };
  handlers.onOk = [this](Dialog& d) {
    OnOK(d);
    return true;
  };
  return holm::ui::RunModal(dlg, handlers);
}

// ------------------------------------------------------------ CPortSettingsDlg

CPortSettingsDlg::CPortSettingsDlg() : CSerialSetupDlg(PortSettingsTemplate()) {}

void CPortSettingsDlg::Preset(const SettingsMap& settings) {
  device = OrDefault(SettingValue(settings, "device"), "COM1");
  baud = OrDefault(SettingValue(settings, "baud"), "9600");
  dataBits = EqualsNoCase(SettingValue(settings, "data"), "8") ? 1 : 0;
  const std::string p = SettingValue(settings, "parity");
  parity = EqualsNoCase(p, "odd") ? 1 : EqualsNoCase(p, "even") ? 2 : 0;
  const std::string s = SettingValue(settings, "stop");
  stopBits = EqualsNoCase(s, "1.5") ? 1 : EqualsNoCase(s, "2") ? 2 : 0;
}

void CPortSettingsDlg::OnInitDialog(Dialog& dlg) {
  FillPorts(dlg);
  FillBauds(dlg);
  SelectPrefix(dlg, IDC_PORT, device);
  SelectPrefix(dlg, IDC_BAUD, baud);
  dlg.CheckIndex(IDC_DATA, dataBits);
  dlg.CheckIndex(IDC_PARITY, parity);
  dlg.CheckIndex(IDC_STOP, stopBits);
}

void CPortSettingsDlg::OnOK(Dialog& dlg) {
  static const char* const kData[] = {"7", "8"};
  static const char* const kParity[] = {"no", "odd", "even"};
  static const char* const kStop[] = {"1", "1.5", "2"};
  device = dlg.SelectedText(IDC_PORT);
  baud = dlg.SelectedText(IDC_BAUD);
  dataBits = dlg.CheckedIndex(IDC_DATA);
  parity = dlg.CheckedIndex(IDC_PARITY);
  stopBits = dlg.CheckedIndex(IDC_STOP);
  result = "device = " + device + " baud = " + baud + " data = " + WordAt(kData, dataBits) +
           " parity = " + WordAt(kParity, parity) + " stop = " + WordAt(kStop, stopBits);
}

// ---------------------------------------------------------------- CBaudPortDlg

CBaudPortDlg::CBaudPortDlg() : CSerialSetupDlg(BaudPortTemplate()) {}

void CBaudPortDlg::Preset(const SettingsMap& settings) {
  device = OrDefault(SettingValue(settings, "device"), "COM1");
  baud = OrDefault(SettingValue(settings, "baud"), "300");
}

void CBaudPortDlg::OnInitDialog(Dialog& dlg) {
  FillPorts(dlg);
  FillBauds(dlg);
  SelectPrefix(dlg, IDC_PORT, device);
  SelectPrefix(dlg, IDC_BAUD, baud);
}

void CBaudPortDlg::OnOK(Dialog& dlg) {
  device = PortFromIndex(dlg);
  baud = dlg.SelectedText(IDC_BAUD);
  result = "device = " + device + " baud = " + baud;
}

// ---------------------------------------------------------------- CPortOnlyDlg

CPortOnlyDlg::CPortOnlyDlg() : CSerialSetupDlg(PortOnlyTemplate()) {}

void CPortOnlyDlg::Preset(const SettingsMap& settings) {
  device = OrDefault(SettingValue(settings, "device"), "COM1");
}

void CPortOnlyDlg::OnInitDialog(Dialog& dlg) {
  FillPorts(dlg);
  SelectPrefix(dlg, IDC_PORT, device);
}

void CPortOnlyDlg::OnOK(Dialog& dlg) {
  device = PortFromIndex(dlg);
  result = "device = " + device;
}

// ---------------------------------------------------------------------------

bool RunSetupDialog(CSerialSetupDlg& dlg, std::string_view text) {
  dlg.Preset(ParseSettings(text));
  dlg.result.clear();
  return dlg.DoModal() == holm::ui::kIdOk;
}

}  // namespace holm::dialogs
