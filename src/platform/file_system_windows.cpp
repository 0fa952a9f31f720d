#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/windows_text.h"

namespace quelvar {
namespace {

// A new empty file in `folder`, or none (GetLastError says why). Not
// GetTempFileName: it takes no folder of MAX_PATH - 14 characters or more.
std::string NewFile(const std::string& folder) {
  static std::uint32_t next = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "qlv%04X.tmp", static_cast<unsigned>(next++ & 0xFFFF));
    const std::string path = JoinPath(folder, name);
    HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
      return path;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return {};
  }
  return {};
}

}  // namespace

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> FileStart(const std::string& path, std::size_t n, std::uint64_t& size) {
  HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string start(n, '\0');
  LARGE_INTEGER length{};
  DWORD got = 0;
  const bool read = ::GetFileSizeEx(file, &length) &&
                    ::ReadFile(file, start.data(), static_cast<DWORD>(n), &got, nullptr);
  ::CloseHandle(file);
  if (!read) return std::nullopt;
  size = static_cast<std::uint64_t>(length.QuadPart);
  start.resize(got);
  return start;
}

bool FolderTakesNewFiles(const std::string& path) {
  // Windows tells it only by trying: a file made and removed at once.
  const std::string probe = NewFile(FolderOf(path));
  if (probe.empty()) return false;
  RemoveFile(probe);
  return true;
}

std::string CreatePrivateFolder(const std::string& beside) {
  for (;;) {
    std::string folder = TemporaryName(beside);
    if (::CreateDirectoryW(WidePath(folder).c_str(), nullptr)) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) throw LastErrorFailure(FolderOf(beside));
  }
}

void RemoveFolder(const std::string& path) noexcept { ::RemoveDirectoryW(WidePath(path).c_str()); }

// A new file's permissions are those its folder passes on: nothing to add.
void CreateEmptyFile(const std::string& path, const std::optional<std::string>&) {
  HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw LastErrorFailure(path);
  ::CloseHandle(file);
}

void CheckReplaceable(const std::string& path) {
  const std::wstring name = WidePath(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing there to replace
  // A folder of that name reads as on Linux, not as a permission denied.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw FileFailure(EISDIR, path);
  if (attributes & FILE_ATTRIBUTE_READONLY) throw FileFailure(EACCES, path);
  // The move needs to delete it: whether the user may, and nobody holds it
  // open without letting it go, is asked by opening it for that alone.
  HANDLE file = ::CreateFileW(
      name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw LastErrorFailure(path);
  ::CloseHandle(file);
}

void CreateLike(const std::string&, const std::string&) {}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  throw LastErrorFailure(to);
}

void RemoveFile(const std::string& path) noexcept { ::DeleteFileW(WidePath(path).c_str()); }

std::string EnginePath(const std::string& path) { return Utf8(WidePath(path)); }

}  // namespace quelvar
