// The three serial settings objects of the Holm library, for its class
// factories: HC_OnlyBaudPort ("Brenlow.HCBAUDPORT"), HC_OnlyPort
// ("Brenlow.HCONLYPORT") and HC_PortSettings ("Brenlow.HCPORTSETTINGS").
// Each creation function returns a new object holding one reference.
#ifndef HOLM_DIALOGS_PORT_SETUP_H
#define HOLM_DIALOGS_PORT_SETUP_H

#include "framework/cmd_target.h"

namespace holm {

fw::CCmdTarget* CreateHC_OnlyBaudPort();
fw::CCmdTarget* CreateHC_OnlyPort();
fw::CCmdTarget* CreateHC_PortSettings();

}  // namespace holm

#endif  // HOLM_DIALOGS_PORT_SETUP_H
