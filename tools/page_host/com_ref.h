// An owned interface pointer: released when the owner goes or is reset.
#pragma once

#include <unknwn.h>

namespace orvex::page_host {

template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = other.pointer_;
      other.pointer_ = nullptr;
    }
    return *this;
  }

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // For out-parameters: releases what is held and hands out the slot.
  Interface** Put() {
    Reset();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // Takes over a reference the caller already owns.
  void Attach(Interface* pointer) {
    Reset();
    pointer_ = pointer;
  }
  // Gives up the reference without releasing it.
  Interface* Detach() {
    Interface* pointer = pointer_;
    pointer_ = nullptr;
    return pointer;
  }
  // Releases the reference; the count Release returned, or 0 when nothing was held.
  ULONG Reset() {
    Interface* pointer = pointer_;
    pointer_ = nullptr;
    return pointer != nullptr ? pointer->Release() : 0;
  }

  // Asks what is held for another interface.
  template <typename Other>
  HRESULT As(REFIID iid, ComRef<Other>& other) const {
    if (pointer_ == nullptr) return E_POINTER;
    return pointer_->QueryInterface(iid, other.PutVoid());
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace orvex::page_host
