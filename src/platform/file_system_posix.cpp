#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/failure.h"
#include "platform/file_system.h"

namespace quelvar {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> FileStart(const std::string& path, std::size_t n, std::uint64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string start(n, '\0');
  struct stat st {};
  const ssize_t got = ::fstat(fd, &st) == 0 ? ::pread(fd, start.data(), n, 0) : -1;
  ::close(fd);
  if (got < 0) return std::nullopt;
  size = static_cast<std::uint64_t>(st.st_size);
  start.resize(static_cast<std::size_t>(got));
  return start;
}

bool FileIsEmpty(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool FolderTakesNewFiles(const std::string& path) {
  // Checked for the effective user, as the files would be created.
  return ::faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string CreateTemporaryFile(const std::string& beside) {
  const std::string folder = FolderOf(beside);
  const std::size_t slash = beside.rfind('/');
  const std::string name = slash == std::string::npos ? beside : beside.substr(slash + 1);
  std::string temporary = folder + "/." + name + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw FileFailure(errno, folder);
  ::close(fd);
  return temporary;
}

void ShareWithFolder(const std::string& path) {
  const std::string folder = FolderOf(path);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) throw FileFailure(errno, folder);
  // The group first: the mode alone would share it with the maker's own.
  if (::chown(path.c_str(), static_cast<uid_t>(-1), st.st_gid) != 0) {
    throw FileFailure(errno, folder);
  }
  if (::chmod(path.c_str(), 0660) != 0) throw FileFailure(errno, path);
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    SyncFolderOf(to);
    return true;
  }
  if (errno == EEXIST) return false;
  // File systems without that kind of rename: a hard link fails just the same
  // when the name is taken.
  if (errno != EINVAL && errno != ENOSYS) throw FileFailure(errno, to);
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    throw FileFailure(errno, to);
  }
  ::unlink(from.c_str());
  SyncFolderOf(to);
  return true;
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileFailure(errno, folder);
  const int rc = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (rc != 0) throw FileFailure(error, folder);
}

void RemoveFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

std::string EnginePath(const std::string& path) { return path; }

}  // namespace quelvar
