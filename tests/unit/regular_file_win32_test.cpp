// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Windows file layer where it differs from the POSIX one: what a name may reach, and
// what a save may replace.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/unique_handle.h"
#include "files/regular_file.h"
#include "files/save_file.h"
#include "files/save_policy.h"
#include "files/win32_path.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

DWORD Attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

// Files a test holds open as another program would.
using Held = UniqueFile;

HANDLE OpenShared(const fs::path& path, DWORD share) {
  return ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

// The one form the file layer opens, checked on the name alone: Wine refuses many of these
// names by itself, which would hide a rule that went missing. "" means refused.
TEST(RegularFileWin32Test, OpenableForms) {
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"C:\\a\\b.bmp", L"\\\\?\\C:\\a\\b.bmp"},
      {L"C:/a/b.bmp", L"\\\\?\\C:\\a\\b.bmp"},
      {L"C:\\a\\..\\b.bmp", L"\\\\?\\C:\\b.bmp"},  // resolved by Windows itself
      {L"\\\\?\\C:\\a\\b.bmp", L"\\\\?\\C:\\a\\b.bmp"},
      {L"\\\\?\\C:\\a\\..\\b.bmp", L""},  // a long form passes ".." on unresolved
      {L"\\\\?\\C:\\a\\.\\b.bmp", L""},
      {L"\\\\server\\share\\x.bmp", L"\\\\?\\UNC\\server\\share\\x.bmp"},
      {L"\\\\?\\UNC\\server\\share\\x.bmp", L"\\\\?\\UNC\\server\\share\\x.bmp"},
      {L"\\\\?\\UNC\\server\\share\\..\\x.bmp", L""},
      {L"\\\\server\\pipe\\x", L""},
      {L"\\\\server\\PIPE\\x.bmp", L""},
      {L"\\\\server\\mailslot\\x", L""},
      {L"\\\\?\\UNC\\server\\pipe\\x", L""},
      {L"\\\\?\\pipe\\x", L""},
      {L"\\\\.\\pipe\\x", L""},
      {L"\\\\.\\C:\\x.bmp", L""},
      {L"\\??\\C:\\x.bmp", L""},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x.bmp", L""},
      {L"\\\\server\\share", L""},
      {L"C:\\", L""},
      {L"C:\\a\\b.bmp:s", L""},
      {L"C:\\a\\CON.bmp", L""},
      {L"\\\\?\\C:\\a\\nul", L""},
      {L"\\\\server\\share\\COM1.txt", L""},
      {L"", L""},
  };
  for (const auto& [name, form] : rows) {
    SCOPED_TRACE(fs::path(name).string());
    if (form.empty()) {
      EXPECT_THROW(win32files::OpenableForm(name), std::system_error);
    } else {
      EXPECT_EQ(win32files::OpenableForm(name), form);
    }
  }
}

// A file that shrinks while it is read: a read ends where the file now ends, without a
// failure, also where it starts past that end.
TEST(RegularFileWin32Test, FileThatShrinksWhileItIsRead) {
  struct Row {
    LONGLONG shrunk_to;
    std::uint64_t offset;
    std::size_t read;
  };
  for (const Row& row :
       {Row{600, 0, 576}, Row{300, 0, 300}, Row{300, 200, 100}, Row{300, 500, 0}, Row{0, 0, 0}}) {
    SCOPED_TRACE(std::to_string(row.shrunk_to) + " " + std::to_string(row.offset));
    TempDir dir;
    WriteFile(dir / "a.bit", ByteVector(1000, 7));
    RegularFile file = RegularFile::OpenForReading(dir / "a.bit");
    {
      const Held writer(::CreateFileW((dir / "a.bit").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(writer.valid());
      ASSERT_TRUE(::SetFilePointerEx(writer.get(), LARGE_INTEGER{.QuadPart = row.shrunk_to},
                                     nullptr, FILE_BEGIN) &&
                  ::SetEndOfFile(writer.get()));
    }
    ByteVector buffer(576);
    EXPECT_EQ(file.ReadAt(buffer, row.offset), row.read);
    EXPECT_EQ(file.Size(), static_cast<std::uint64_t>(row.shrunk_to));
    file.Close();
  }
}

// Long names and forms that name an ordinary file are opened and saved like any other.
TEST(RegularFileWin32Test, DriveAndLongFormsOfOrdinaryFiles) {
  TempDir dir;
  const std::string long_name = std::string(236, 'n') + ".bmp";  // 240 characters
  const std::wstring folder = dir.path().native();
  const std::vector<fs::path> targets = {
      dir / long_name,
      L"\\\\?\\" + folder + L"\\long-form.bmp",
      L"\\\\?\\" + folder + L"\\" + fs::path(long_name).native(),
      fs::path(folder + L"/forward/../slashes.bmp"),
  };
  fs::create_directory(dir / "forward");
  for (const fs::path& target : targets) {
    SCOPED_TRACE(target.string().substr(0, 60));
    for (const ByteVector& bytes : {ByteVector{1, 2, 3}, ByteVector(100, 9)}) {
      SaveFile(target, bytes, SaveRule::kReplaceWhole);  // created, then replaced
      RegularFile file = RegularFile::OpenForReading(target);
      ByteVector read(200);
      read.resize(file.ReadAt(read, 0));
      file.Close();
      EXPECT_EQ(read, bytes);
    }
    SaveFile(target, ByteVector{5}, SaveRule::kOverwriteStart);
  }
  EXPECT_EQ(EntriesIn(dir.path()), 4) << "nothing but the saved files and the folder";
}

// A read-only file with a second name: both names keep their bytes and the file its
// attributes, with nothing new beside them. The other targets no save may replace are the
// hostile table's, which the file layer's refusal test takes.
TEST(SaveFileWin32Test, TargetsNeverReplaced) {
  TempDir dir;
  const fs::path target = dir / "read-only with a second name.bmp";
  WriteFile(target, ByteVector(10, 7));
  ASSERT_TRUE(::CreateHardLinkW((dir / "second.bmp").c_str(), target.c_str(), nullptr));
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
  const DWORD attributes = Attributes(target);
  const int handles = OpenDescriptorCount();
  EXPECT_THROW(SaveFile(target, ByteVector{1, 2, 3}, SaveRule::kReplaceWhole), std::system_error);
  EXPECT_EQ(EntriesIn(dir.path()), 2) << "no temporary file is left behind";
  EXPECT_EQ(Attributes(target), attributes);
  EXPECT_EQ(OpenDescriptorCount(), handles);
  EXPECT_EQ(ReadFile(target), ByteVector(10, 7));
  EXPECT_EQ(ReadFile(dir / "second.bmp"), ByteVector(10, 7));
  ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A target that another program has open: saved where that program lets others write it
// (replaced where it lets files be deleted under it too, as Windows' own editors do, else
// written in place), else the save fails and changes nothing.
TEST(SaveFileWin32Test, TargetHeldOpenByAnotherProgram) {
  struct Case {
    const char* how;
    DWORD share;
    bool replaced;
  };
  const Case cases[] = {
      {"shared for reading only", FILE_SHARE_READ, false},
      {"shared for reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"shared for everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    TempDir dir;
    const fs::path target = dir / "held.bmp";
    WriteFile(target, ByteVector(10, 7));
    {
      const Held held(OpenShared(target, c.share));
      ASSERT_TRUE(held.valid());
      if (c.replaced) {
        EXPECT_NO_THROW(SaveFile(target, ByteVector{1, 2, 3}, SaveRule::kReplaceWhole));
      } else {
        EXPECT_THROW(SaveFile(target, ByteVector{1, 2, 3}, SaveRule::kReplaceWhole),
                     std::system_error);
      }
      // Beside it while the other program holds it, at most the old file on its way out:
      // gone at once where the file system allows it (not under Wine), else as soon as that
      // program lets go. Never a temporary file with the new bytes.
      for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path() == target) continue;
        EXPECT_EQ(ReadFile(entry.path()), ByteVector(10, 7))
            << "left beside it: " << entry.path().filename().string();
      }
      // The next save while it is still held works as well.
      if (c.replaced) {
        EXPECT_NO_THROW(SaveFile(target, ByteVector{4, 5}, SaveRule::kReplaceWhole));
        EXPECT_EQ(ReadFile(target), (ByteVector{4, 5}));
      }
    }
    EXPECT_EQ(ReadFile(target), (c.replaced ? ByteVector{4, 5} : ByteVector(10, 7)));
    EXPECT_EQ(EntriesIn(dir.path()), 1) << "no temporary or backup file is left behind";
  }
}

// Stands in for one of this program's imports from kernel32 while it lives. The file layer is
// linked into the test program, so its calls to that function come here.
class ImportHook {
 public:
  ImportHook(const char* name, void* replacement) : slot_(Find(name)) {
    if (slot_ == nullptr) return;
    DWORD protection = 0;
    ::VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    original_ = std::exchange(*slot_, replacement);
    ::VirtualProtect(slot_, sizeof *slot_, protection, &protection);
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  ~ImportHook() {
    if (slot_ == nullptr) return;
    DWORD protection = 0;
    ::VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
    *slot_ = original_;
    ::VirtualProtect(slot_, sizeof *slot_, protection, &protection);
  }
  bool ok() const { return slot_ != nullptr; }
  // The real function, for the stand-in to call: a call by name would come back here.
  template <typename Function>
  Function original() const {
    return reinterpret_cast<Function>(original_);
  }

 private:
  static void** Find(const char* name) {
    auto* base = reinterpret_cast<std::uint8_t*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
      if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "kernel32.dll") != 0) {
        continue;
      }
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* by_name =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) == 0) {
          return reinterpret_cast<void**>(&slots->u1.Function);
        }
      }
    }
    return nullptr;
  }

  void** slot_;
  void* original_ = nullptr;
};

// What the hooks below saw, in order.
std::vector<std::wstring>& Calls() {
  static std::vector<std::wstring> calls;
  return calls;
}

std::wstring FinalName(HANDLE handle) {
  wchar_t name[MAX_PATH * 4] = {};
  ::GetFinalPathNameByHandleW(handle, name, MAX_PATH * 4, VOLUME_NAME_DOS);
  return NameOf(name);
}

using FlushFunction = BOOL(WINAPI*)(HANDLE);
using MoveFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
FlushFunction real_flush = nullptr;
MoveFunction real_move = nullptr;

BOOL WINAPI RecordedFlush(HANDLE handle) {
  Calls().push_back(L"flush " + FinalName(handle));
  return real_flush(handle);
}

BOOL WINAPI RecordedMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
  Calls().push_back(L"move " + NameOf(from));
  return real_move(from, to, flags);
}

// The move failing as Windows may make it fail; Wine's own cannot be made to.
DWORD move_failure = 0;
BOOL WINAPI FailingMove(LPCWSTR, LPCWSTR, DWORD) {
  ::SetLastError(move_failure);
  return FALSE;
}

// A disk that is full when room is reserved.
using SetInformationFunction = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
SetInformationFunction real_set_information = nullptr;
BOOL WINAPI ReservingOnAFullDisk(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data,
                                 DWORD size) {
  if (kind != FileAllocationInfo) return real_set_information(file, kind, data, size);
  ::SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// Another program makes a file under the name just before the move.
BOOL WINAPI MoveAfterANewcomer(LPCWSTR from, LPCWSTR to, DWORD flags) {
  {
    const UniqueFile newcomer(
        ::CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(newcomer.get(), "c", 1, &written, nullptr);
  }
  return real_move(from, to, flags);
}

// The new contents are on the disk before they take the old file's place; a move that fails
// leaves the old file under its own name with nothing beside it, or, refused, the file is
// written in place; a move never replaces a file made meanwhile; and what a crashed save
// left beside the file goes with the next save.
TEST(SaveFileWin32Test, SwapIsFlushedFirstAndUndoneWhenItFails) {
  {
    TempDir dir;
    WriteFile(dir / "a.bmp", ByteVector(10, 7));
    Calls().clear();
    {
      const ImportHook flush("FlushFileBuffers", reinterpret_cast<void*>(&RecordedFlush));
      const ImportHook move("MoveFileExW", reinterpret_cast<void*>(&RecordedMove));
      ASSERT_TRUE(flush.ok() && move.ok());
      real_flush = flush.original<FlushFunction>();
      real_move = move.original<MoveFunction>();
      SaveFile(dir / "a.bmp", ByteVector{1, 2, 3}, SaveRule::kReplaceWhole);
    }
    EXPECT_EQ(ReadFile(dir / "a.bmp"), (ByteVector{1, 2, 3}));
    const auto swap = std::find_if(Calls().begin(), Calls().end(), [](const std::wstring& call) {
      return call.starts_with(L"move ");
    });
    ASSERT_NE(swap, Calls().end());
    const std::wstring flushed = L"flush " + swap->substr(std::wstring(L"move ").size());
    EXPECT_NE(std::find(Calls().begin(), swap, flushed), swap)
        << "the new file is flushed before the swap";
  }
  for (const auto& [failure, in_place] :
       {std::pair{DWORD{ERROR_SHARING_VIOLATION}, false},
        std::pair{DWORD{ERROR_WRITE_FAULT}, false}, std::pair{DWORD{ERROR_LOCK_VIOLATION}, false},
        std::pair{DWORD{ERROR_ACCESS_DENIED}, true}}) {
    SCOPED_TRACE(failure);
    TempDir dir;
    WriteFile(dir / "a.bmp", ByteVector(10, 7));
    ASSERT_TRUE(::SetFileAttributesW((dir / "a.bmp").c_str(), FILE_ATTRIBUTE_HIDDEN));
    move_failure = failure;
    {
      const ImportHook move("MoveFileExW", reinterpret_cast<void*>(&FailingMove));
      ASSERT_TRUE(move.ok());
      if (in_place) {
        SaveFile(dir / "a.bmp", ByteVector{1, 2, 3}, SaveRule::kReplaceWhole);
      } else {
        try {
          SaveFile(dir / "a.bmp", ByteVector{1, 2, 3}, SaveRule::kReplaceWhole);
          ADD_FAILURE() << "saved";
        } catch (const std::system_error& error) {
          EXPECT_EQ(error.code().value(), static_cast<int>(failure)) << "the system's own code";
        }
      }
    }
    EXPECT_EQ(ReadFile(dir / "a.bmp"), (in_place ? ByteVector{1, 2, 3} : ByteVector(10, 7)));
    EXPECT_NE(Attributes(dir / "a.bmp") & FILE_ATTRIBUTE_HIDDEN, 0U);
    EXPECT_EQ(EntriesIn(dir.path()), 1) << "no temporary or backup file is left behind";
    // A crash's leftover, then the next save, which goes on as if nothing had happened.
    WriteFile(dir / (save::SiblingPrefix<char>("a.bmp") + "0123456789abcdef.tmp"), ByteVector{9});
    SaveFile(dir / "a.bmp", ByteVector{4}, SaveRule::kReplaceWhole);
    EXPECT_EQ(ReadFile(dir / "a.bmp"), ByteVector{4});
    EXPECT_EQ(EntriesIn(dir.path()), 1);
  }
  TempDir dir;
  // In place (two names) where the reservation finds the disk full: nothing changes.
  WriteFile(dir / "linked.bmp", ByteVector(10, 7));
  ASSERT_TRUE(
      ::CreateHardLinkW((dir / "second.bmp").c_str(), (dir / "linked.bmp").c_str(), nullptr));
  {
    const ImportHook reserve("SetFileInformationByHandle",
                             reinterpret_cast<void*>(&ReservingOnAFullDisk));
    ASSERT_TRUE(reserve.ok());
    real_set_information = reserve.original<SetInformationFunction>();
    EXPECT_THROW(SaveFile(dir / "linked.bmp", ByteVector(100, 1), SaveRule::kReplaceWhole),
                 std::system_error);
  }
  EXPECT_EQ(ReadFile(dir / "linked.bmp"), ByteVector(10, 7));
  fs::remove(dir / "linked.bmp");
  fs::remove(dir / "second.bmp");
  {
    const ImportHook move("MoveFileExW", reinterpret_cast<void*>(&MoveAfterANewcomer));
    ASSERT_TRUE(move.ok());
    real_move = move.original<MoveFunction>();
    EXPECT_THROW(SaveFile(dir / "new.bmp", ByteVector{1, 2}, SaveRule::kReplaceWhole),
                 std::system_error);
  }
  EXPECT_EQ(ReadFile(dir / "new.bmp"), ByteVector{'c'}) << "the newcomer stays";
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

}  // namespace
}  // namespace dotloom
