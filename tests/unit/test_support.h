#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dotloom::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

using ByteVector = std::vector<std::uint8_t>;

void WriteFile(const std::filesystem::path& path, const ByteVector& bytes);
ByteVector ReadFile(const std::filesystem::path& path);
// Descriptors this process has open now, to show that a failure closed what it opened.
int OpenDescriptorCount();

}  // namespace dotloom::testing
