// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <type_traits>
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

// The traits of most handles in one line: the type, the value that means none (nullptr, or
// a number such as -1, which a pointer handle takes bit for bit), and a close function whose
// result is true, or a Windows BOOL other than FALSE, when the close worked.
template <typename H, auto kNone, auto kClose>
struct HandleTraits {
  using Handle = H;
  static Handle None() {
    if constexpr (std::is_pointer_v<H> && std::is_integral_v<decltype(kNone)>) {
      return reinterpret_cast<Handle>(static_cast<std::intptr_t>(kNone));
    } else {
      return static_cast<Handle>(kNone);
    }
  }
  static bool Close(Handle handle) { return static_cast<bool>(kClose(handle)); }
};

// An open file: a descriptor on POSIX, a HANDLE on Windows (without windows.h in every file
// that reads a file). -1 is "none" on both: INVALID_HANDLE_VALUE on Windows.
#ifdef _WIN32
using FileHandle = void*;
#else
using FileHandle = int;
#endif
// The system's own close; on Linux the descriptor is gone even when the close fails.
bool CloseFileHandle(FileHandle handle);
using UniqueFile = UniqueHandle<HandleTraits<FileHandle, -1, &CloseFileHandle>>;

}  // namespace dotloom
