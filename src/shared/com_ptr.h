// An owned COM interface pointer: released when the owner goes or is reset.
#pragma once

#include <unknwn.h>

namespace orvex {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = other.pointer_;
      other.pointer_ = nullptr;
    }
    return *this;
  }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // The slot for an out-parameter; whatever was held is released first.
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  // Holds pointer with a reference of its own (null is fine).
  void Assign(Interface* pointer) {
    if (pointer != nullptr) pointer->AddRef();
    Reset();
    pointer_ = pointer;
  }
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
    Interface* old = pointer_;
    pointer_ = nullptr;
    return old != nullptr ? old->Release() : 0;
  }
  // Asks what is held for another interface.
  template <typename Other>
  HRESULT As(REFIID iid, ComPtr<Other>& other) const {
    if (pointer_ == nullptr) return E_POINTER;
    return pointer_->QueryInterface(iid, other.OutVoid());
  }
  // Hands the reference to *out (which may be null: the reference is dropped).
  void CopyTo(Interface** out) const {
    if (out == nullptr) return;
    if (pointer_ != nullptr) pointer_->AddRef();
    *out = pointer_;
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace orvex
