#include "platform/windows_text.h"

#include <cerrno>

namespace quelvar {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(std::string_view utf8) {
  std::wstring path = Wide(utf8);
  if (path.size() < MAX_PATH - 12 || path.starts_with(LR"(\\?\)")) return path;
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD n =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return path;  // the call itself then fails, as it would
  full.resize(n);
  // A share, \\server\share\..., has a form of its own.
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

Failure LastErrorFailure(const std::string& path) {
  // The same numbers and texts as on Linux, by the errno value of the same
  // cause.
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return FileFailure(ENOENT, path);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return FileFailure(EACCES, path);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileFailure(ENOSPC, path);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileFailure(EEXIST, path);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FileFailure(ENOMEM, path);
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return FileFailure(EIO, path);
    default:
      return FileFailure(0, path);
  }
}

}  // namespace quelvar
