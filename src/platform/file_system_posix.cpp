#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

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

bool FolderTakesNewFiles(const std::string& path) {
  // Checked for the effective user, as the files would be created.
  return ::faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string CreatePrivateFolder(const std::string& beside) {
  std::string folder = FolderOf(beside) + "/." + beside.substr(beside.rfind('/') + 1) + ".XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) throw FileFailure(errno, FolderOf(beside));
  return folder;
}

void RemoveFolder(const std::string& path) noexcept { ::rmdir(path.c_str()); }

void CreateEmptyFile(const std::string& path, const std::optional<std::string>& shared) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw FileFailure(errno, path);
  int error = 0;
  std::string about = path;
  if (shared) {
    struct stat st {};
    // The group first: the mode alone would share it with the maker's own.
    if (::stat(shared->c_str(), &st) != 0 || ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      error = errno;
      about = *shared;
    } else if (::fchmod(fd, 0660) != 0) {
      error = errno;
    }
  }
  ::close(fd);
  if (error != 0) throw FileFailure(error, about);
}

void CheckReplaceable(const std::string& path) {
  const std::uint64_t kept = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  struct statx folder {};
  const bool folder_known =
      ::statx(AT_FDCWD, FolderOf(path).c_str(), 0, STATX_MODE | STATX_UID, &folder) == 0;
  if (folder_known && (folder.stx_attributes & folder.stx_attributes_mask & STATX_ATTR_IMMUTABLE)) {
    throw FileFailure(EPERM, path);
  }
  struct statx file {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_UID, &file) != 0) {
    return;  // nothing there to replace, or nothing to tell yet: the move says
  }
  if (S_ISDIR(file.stx_mode)) throw FileFailure(EISDIR, path);
  if (file.stx_attributes & file.stx_attributes_mask & kept) throw FileFailure(EPERM, path);
  if (!folder_known) return;
  if (folder.stx_attributes & folder.stx_attributes_mask & STATX_ATTR_APPEND) {
    throw FileFailure(EPERM, path);
  }
  // In a sticky folder only the file's owner, the folder's, or root removes it.
  const uid_t me = ::geteuid();
  if ((folder.stx_mode & S_ISVTX) && me != 0 && file.stx_uid != me && folder.stx_uid != me) {
    throw FileFailure(EPERM, path);
  }
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

namespace {

bool InGroup(gid_t group) {
  if (::getegid() == group) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

}  // namespace

void TakeModeAndGroupOf(int fd, const std::string& like) {
  struct stat model {};
  struct stat made {};
  if (::stat(like.c_str(), &model) != 0 || ::fstat(fd, &made) != 0) return;
  mode_t mode = model.st_mode & 0666;
  if (made.st_gid != model.st_gid &&
      !(InGroup(model.st_gid) && ::fchown(fd, static_cast<uid_t>(-1), model.st_gid) == 0)) {
    mode &= ~static_cast<mode_t>(0070);
  }
  // Where the file system keeps no bits, the new file's stand.
  ::fchmod(fd, mode);
}

void CreateLike(const std::string& path, const std::string& like) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;  // there already, or not to be made: the engine's own open says
  TakeModeAndGroupOf(fd, like);
  ::close(fd);
}

void RemoveFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

std::string EnginePath(const std::string& path) { return path; }

}  // namespace quelvar
