// Small owners for the Win32 resources both deliverables take: each releases
// what it holds when it goes out of scope, on every path.
#pragma once

#include <windows.h>

namespace orvex {

// A kernel handle closed with CloseHandle. Null and INVALID_HANDLE_VALUE are "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : handle_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return Valid(); }
  HANDLE Release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) ::CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A mapped view of a file mapping, unmapped with UnmapViewOfFile.
class MappedView {
 public:
  MappedView() = default;
  explicit MappedView(void* view) : view_(view) {}
  ~MappedView() { Reset(); }
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  void* Get() const { return view_; }
  template <typename T>
  T* As() const { return static_cast<T*>(view_); }
  explicit operator bool() const { return view_ != nullptr; }
  void Reset(void* view = nullptr) {
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
    view_ = view;
  }

 private:
  void* view_ = nullptr;
};

// An open registry key, closed with RegCloseKey.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Reset(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  HKEY Get() const { return key_; }
  HKEY* Receive() {
    Reset();
    return &key_;
  }
  explicit operator bool() const { return key_ != nullptr; }
  void Reset() {
    if (key_ != nullptr) ::RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// A block from the process heap, freed with HeapFree.
class HeapBlock {
 public:
  explicit HeapBlock(SIZE_T size) : data_(::HeapAlloc(::GetProcessHeap(), 0, size)) {}
  ~HeapBlock() {
    if (data_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, data_);
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  void* Get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void* data_;
};

}  // namespace orvex
