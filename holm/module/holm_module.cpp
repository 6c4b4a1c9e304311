// The Holm library: its application object CHolmApp, the five class
// factories and the three exports.
#include <tarnholm/interfaces.h>

#include "framework/exports.h"
#include "holm/module/holm_classes.h"

FW_DEFINE_COMPONENT_LIBRARY(CHolmApp)

namespace holm {
namespace {

// The class factory table, in registration order.
fw::ClassFactory baudPortFactory(CLSID_HC_OnlyBaudPort, HOLM_PROGID_BAUDPORT,
                                 &CreateHC_OnlyBaudPort);
fw::ClassFactory onlyPortFactory(CLSID_HC_OnlyPort, HOLM_PROGID_ONLYPORT, &CreateHC_OnlyPort);
fw::ClassFactory portSettingsFactory(CLSID_HC_PortSettings, HOLM_PROGID_PORTSETTINGS,
                                     &CreateHC_PortSettings);
fw::ClassFactory progressFactory(CLSID_Progress, HOLM_PROGID_PROGRESS, &CreateProgress);
fw::ClassFactory s19Factory(CLSID_S19Support, HOLM_PROGID_S19SUPPORT, &CreateS19Support);

}  // namespace
}  // namespace holm
