// The three "Serial Communication Setup" dialog templates and the contents
// of their lists. Every UI backend builds the dialogs from these tables.
#ifndef HOLM_DIALOGS_DIALOG_TEMPLATES_H
#define HOLM_DIALOGS_DIALOG_TEMPLATES_H

#include <array>

#include "holm/ui/dialog_template.h"

namespace holm::dialogs {

// Template numbers.
inline constexpr int kPortSettingsTemplateId = 131;  // CPortSettingsDlg
inline constexpr int kPortOnlyTemplateId = 132;      // CPortOnlyDlg
inline constexpr int kBaudPortTemplateId = 135;      // CBaudPortDlg

// Control identifiers.
inline constexpr int IDC_PORT = 1003;    // drop-down list of COM ports
inline constexpr int IDC_BAUD = 1004;    // drop-down list of baud rates
inline constexpr int IDC_PARITY = 1005;  // first of the parity group: "No"
inline constexpr int IDC_EVEN = 1006;
inline constexpr int IDC_ODD = 1007;
inline constexpr int IDC_DATA = 1008;  // first of the data bits group: "7 bit"
inline constexpr int IDC_DATA8 = 1009;
inline constexpr int IDC_STOP = 1010;  // first of the stop bits group: "1 bit"
inline constexpr int IDC_STOP15 = 1011;
inline constexpr int IDC_STOP2 = 1012;

// List contents, in the order the lists are filled when a dialog opens.
inline constexpr std::array<const char*, 8> kPortItems = {"COM1", "COM2", "COM3", "COM4",
                                                          "COM5", "COM6", "COM7", "COM8"};
inline constexpr std::array<const char*, 7> kBaudItems = {"300",  "600",  "1200", "2400",
                                                          "4800", "9600", "19200"};

const holm::ui::DialogTemplate& PortSettingsTemplate();  // 131, 207 x 110
const holm::ui::DialogTemplate& BaudPortTemplate();      // 135, 177 x 47
const holm::ui::DialogTemplate& PortOnlyTemplate();      // 132, 177 x 47

}  // namespace holm::dialogs

#endif  // HOLM_DIALOGS_DIALOG_TEMPLATES_H
