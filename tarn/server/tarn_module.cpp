// The Tarn library: its application object, the one class factory of
// CDownload ("BRENTAR.TARN") and the three exports.
#include <tarnholm/interfaces.h>

#include "framework/exports.h"
#include "framework/module.h"
#include "tarn/server/download.h"

namespace tarn {
namespace {

class CTarnApp : public fw::CWinApp {
 public:
  BOOL InitInstance() override {
    fw::ClassFactory::RegisterAll();
    return TRUE;
  }
};

CTarnApp theApp;
fw::ClassFactory downloadFactory(CLSID_Download, TARN_PROGID_DOWNLOAD, &CDownload::Create);

}  // namespace
}  // namespace tarn

FW_DEFINE_COMPONENT_EXPORTS()
