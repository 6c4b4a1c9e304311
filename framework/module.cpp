#include "framework/module.h"

#include <atomic>
#include <mutex>

namespace fw {
namespace {

std::atomic<LONG> g_locks{0};
ModuleState g_state{"component library"};
thread_local ModuleState* t_current = nullptr;
CWinApp* g_app = nullptr;
std::once_flag g_init;

}  // namespace

void LockModule() {
  ++g_locks;
}
void UnlockModule() {
  --g_locks;
}
LONG ModuleLockCount() {
  return g_locks.load();
}

ModuleState* ThisModuleState() {
  return &g_state;
}
ModuleState* CurrentModuleState() {
  return t_current;
}

MaintainState::MaintainState(ModuleState* state) : previous_(t_current) {
  t_current = state;
}
MaintainState::~MaintainState() {
  t_current = previous_;
}

CWinApp::CWinApp() {
  g_app = this;
}
CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

void EnsureInitialized() {
  std::call_once(g_init, [] {
    if (g_app != nullptr) g_app->InitInstance();
  });
}

}  // namespace fw
