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
  void Reset() {
    Interface* old = pointer_;
    pointer_ = nullptr;
    if (old != nullptr) old->Release();
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
