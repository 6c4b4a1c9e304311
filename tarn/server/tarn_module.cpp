// The Tarn library: its application object CTarnApp, the one class factory
// of CDownload ("BRENTAR.TARN") and the three exports.
#include <tarnholm/interfaces.h>

#include "framework/exports.h"
#include "tarn/server/download.h"

FW_DEFINE_COMPONENT_LIBRARY(CTarnApp)

namespace tarn {
namespace {

fw::ClassFactory downloadFactory(CLSID_Download, TARN_PROGID_DOWNLOAD, &CDownload::Create);

}  // namespace
}  // namespace tarn
