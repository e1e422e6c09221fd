// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <utility>

namespace dotloom {

// Owns one handle of the operating system and closes it once, on every way out. Traits
// gives the handle's type, the value that means none (None()), and how to close one (Close,
// which returns false and leaves the error in errno or GetLastError() when closing fails).
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::None(); }
  explicit operator bool() const { return valid(); }
  Handle Release() { return std::exchange(handle_, Traits::None()); }
  // A failure of this close is not reported: where one matters, Close is called first.
  void Reset(Handle handle = Traits::None()) {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::None()) static_cast<void>(Traits::Close(old));
  }
  // Closes now; false when the system reported a failure (the handle is gone either way).
  [[nodiscard]] bool Close() {
    const Handle old = Release();
    return old == Traits::None() || Traits::Close(old);
  }

 private:
  Handle handle_ = Traits::None();
};

// An open file: a descriptor on POSIX, a HANDLE on Windows. Close is each system's own.
struct FileTraits {
#ifdef _WIN32
  using Handle = void*;  // HANDLE, without windows.h in every file that reads a file
  static Handle None() { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }
#else
  using Handle = int;
  static constexpr Handle None() { return -1; }
#endif
  static bool Close(Handle handle);
};
using UniqueFile = UniqueHandle<FileTraits>;

}  // namespace dotloom
