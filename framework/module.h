// Module-wide bookkeeping of one component library: the count of live
// objects and of server locks that keep the library loaded, the library's
// application object and its module state.
//
// The framework is a static library linked into each component library;
// since symbols are hidden, every component library has its own copy of
// this state.
#ifndef FRAMEWORK_MODULE_H
#define FRAMEWORK_MODULE_H

#include <tarnholm/com.h>

#include <string>

namespace fw {

// Lock held by every live object and by IClassFactory::LockServer(TRUE).
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// The library's module state. Every entry point switches to it for the
// call and restores the caller's on return (see MaintainState).
struct ModuleState {
  const char* name;
};
ModuleState* ThisModuleState();
ModuleState* CurrentModuleState();

class MaintainState {
 public:
  explicit MaintainState(ModuleState* state);
  ~MaintainState();
  MaintainState(const MaintainState&) = delete;
  MaintainState& operator=(const MaintainState&) = delete;

 private:
  ModuleState* previous_;
};

// The library's application object: one static instance per library.
// InitInstance runs once, before the first class object is handed out or
// the first registration is written.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual BOOL InitInstance() { return TRUE; }
};

// Runs the application object's InitInstance once.
void EnsureInitialized();

// Full path of the library file that contains this code (the 8.3 short
// form on Windows), or an empty string if it cannot be found.
std::string ModulePath();

}  // namespace fw

#endif  // FRAMEWORK_MODULE_H
