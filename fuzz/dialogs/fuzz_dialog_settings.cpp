// The settings dialogs' reading of a settings string, and the three dialogs
// preset from it and confirmed with OK on the headless backend.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "holm/dialogs/port_dialogs.h"
#include "holm/dialogs/settings_tokens.h"
#include "holm/ui/headless.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  holm::dialogs::SettingsMap map = holm::dialogs::ParseSettings(text);
  for (const auto& [key, value] : map) {
    // Every stored key and value is a piece of the text before its first NUL.
    std::string_view head = text.substr(0, text.find('\0'));
    Check(key.size() <= head.size() && value.size() <= head.size());
  }

  holm::ui::HeadlessBackend ui;  // a fresh one per input: it keeps a record of every run
  holm::ui::ScopedBackend use(ui);
  ui.SetModalUser([](holm::ui::Dialog&) { return holm::ui::kIdOk; });
  holm::dialogs::CPortSettingsDlg full;
  holm::dialogs::CBaudPortDlg baudPort;
  holm::dialogs::CPortOnlyDlg port;
  for (holm::dialogs::CSerialSetupDlg* dlg :
       {static_cast<holm::dialogs::CSerialSetupDlg*>(&full),
        static_cast<holm::dialogs::CSerialSetupDlg*>(&baudPort),
        static_cast<holm::dialogs::CSerialSetupDlg*>(&port)}) {
    Check(holm::dialogs::RunSetupDialog(*dlg, text));
    Check(dlg->result.rfind("device = ", 0) == 0);
  }
  return 0;
}
