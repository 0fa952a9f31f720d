#include "platform/file_system.h"
#include "platform/windows_text.h"

namespace quelvar {
namespace {

std::wstring FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return L".";
  return Wide(path.substr(0, separator));
}

}  // namespace

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderTakesNewFiles(const std::string& path) {
  // Windows tells it only by trying: a file made and removed at once.
  wchar_t probe[MAX_PATH + 1];
  if (::GetTempFileNameW(FolderOf(path).c_str(), L"qlv", 0, probe) == 0) return false;
  ::DeleteFileW(probe);
  return true;
}

std::string CreateTemporaryFile(const std::string& beside) {
  wchar_t name[MAX_PATH + 1];
  if (::GetTempFileNameW(FolderOf(beside).c_str(), L"qlv", 0, name) == 0) {
    throw LastErrorFailure(beside);
  }
  return Utf8(name);
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0)) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  throw LastErrorFailure(to);
}

void RemoveFile(const std::string& path) noexcept { ::DeleteFileW(Wide(path).c_str()); }

}  // namespace quelvar
