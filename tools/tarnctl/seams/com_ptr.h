// A minimal owning interface pointer for tarnctl: releases on destruction,
// queries with As<>(). Works the same against Windows COM and comrt.
#ifndef TARNCTL_COM_PTR_H
#define TARNCTL_COM_PTR_H

#include <tarnholm/com.h>

#include <utility>

namespace tarnctl {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters of creation calls: the pointer must be empty.
  void** PutVoid() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }

  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->PutVoid());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace tarnctl

#endif  // TARNCTL_COM_PTR_H
