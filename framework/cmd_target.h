// CCmdTarget: the object base of every component object. It keeps the
// reference count, answers QueryInterface from the object's interface map,
// holds the module lock for the object's life and deletes the object when
// its last reference goes. QueryInterface, AddRef and Release run in the
// module state of the library that created the object, like every other
// method of the object (the interface map and the final release run there).
//
// An object derives from CCmdTarget and from each interface it answers,
// lists those interfaces in GetInterface (its interface map; the first
// entry also answers IUnknown) and puts FW_IUNKNOWN_IMPL() in its class
// body so that every interface's IUnknown methods reach the base.
#ifndef FRAMEWORK_CMD_TARGET_H
#define FRAMEWORK_CMD_TARGET_H

#include <tarnholm/com.h>

#include <atomic>

namespace fw {

struct ModuleState;

class CCmdTarget {
 public:
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  ULONG InternalAddRef();
  ULONG InternalRelease();
  HRESULT InternalQueryInterface(REFIID iid, void** ppv);
  ULONG RefCount() const { return refs_.load(); }

 protected:
  // Starts with one reference, owned by whoever created the object (the
  // class factory releases it after its QueryInterface).
  CCmdTarget();
  virtual ~CCmdTarget();

  // The interface map: the interface pointer for iid, or null. IUnknown is
  // answered by the base with the pointer for the first entry.
  virtual IUnknown* GetInterface(REFIID iid) = 0;
  virtual IUnknown* GetPrimaryUnknown() = 0;
  // Called when the last reference goes; deletes the object.
  virtual void OnFinalRelease();

  // The module state of the library that created the object.
  ModuleState* ObjectModuleState() const { return moduleState_; }

 private:
  std::atomic<ULONG> refs_{1};
  ModuleState* moduleState_;
};

}  // namespace fw

// Implements IUnknown's three methods for every interface of the object.
#define FW_IUNKNOWN_IMPL()                                                          \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID fw_iid, void** fw_ppv) override { \
    return InternalQueryInterface(fw_iid, fw_ppv);                                  \
  }                                                                                 \
  ULONG STDMETHODCALLTYPE AddRef() override {                                       \
    return InternalAddRef();                                                        \
  }                                                                                 \
  ULONG STDMETHODCALLTYPE Release() override {                                      \
    return InternalRelease();                                                       \
  }

#endif  // FRAMEWORK_CMD_TARGET_H
