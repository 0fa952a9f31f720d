// Text files on a POSIX system: the bytes through file descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/failure.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace quelvar {
namespace {

void WriteAll(int fd, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileFailure(errno, path);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

class FdSource final : public ByteSource {
 public:
  FdSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FdSource() override { Close(); }

  std::size_t Read(char* out, std::size_t capacity) override {
    for (;;) {
      ssize_t n = ::read(fd_, out, capacity);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw FileFailure(errno, path_);
    }
  }
  void Rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) != 0) throw FileFailure(errno, path_);
  }
  std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) override {
    for (;;) {
      ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw FileFailure(errno, path_);
    }
  }
  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string path_;
};

// A new file, to take the place of `path`: unnamed (`temporary` empty), or
// under a name of its own until it does.
class FdSink final : public ByteSink {
 public:
  FdSink(int fd, std::string path, std::string temporary)
      : fd_(fd), path_(std::move(path)), temporary_(std::move(temporary)) {}
  ~FdSink() override {
    if (fd_ >= 0) ::close(fd_);
    Discard();
  }

  void Write(const char* data, std::size_t size) override { WriteAll(fd_, data, size, path_); }
  void Sync() override {
    if (::fsync(fd_) != 0) throw FileFailure(errno, path_);
  }
  void PutInPlace() override {
    if (placed_) return;
    const std::string name = temporary_.empty() ? Named() : temporary_;
    if (::rename(name.c_str(), path_.c_str()) != 0) {
      const int error = errno;
      if (temporary_.empty()) RemoveFile(name);
      throw FileFailure(error, path_);
    }
    placed_ = true;
    SyncFolderOf(path_);
  }
  void Close() override {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    Discard();
    if (rc != 0 && errno != EINTR) throw FileFailure(errno, path_);
  }

 private:
  // The unnamed file under a new name beside `path`, for the instant before
  // it moves.
  std::string Named() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (;;) {
      std::string name = TemporaryName(path_);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return name;
      }
      if (errno != EEXIST) throw FileFailure(errno, path_);
    }
  }
  void Discard() {
    if (!placed_ && !temporary_.empty()) RemoveFile(temporary_);
    temporary_.clear();
  }

  int fd_;
  std::string path_;
  std::string temporary_;
  bool placed_ = false;
};

// Where a scratch file is written: nothing of it is kept through a power cut.
class ScratchSink final : public ByteSink {
 public:
  ScratchSink(int fd, const std::string& folder) : fd_(fd), folder_(folder) {}
  void Write(const char* data, std::size_t size) override { WriteAll(fd_, data, size, folder_); }
  void Sync() override {}
  void Close() override {}

 private:
  int fd_;
  const std::string& folder_;
};

class FdScratch final : public Scratch {
 public:
  FdScratch(int fd, std::string folder) : fd_(fd), folder_(std::move(folder)) {}
  ~FdScratch() override { ::close(fd_); }
  std::unique_ptr<ByteSink> Writer() override {
    return std::make_unique<ScratchSink>(fd_, folder_);
  }
  std::unique_ptr<ByteSource> Reader() override {
    // A copy of the descriptor shares its offset: reading starts once
    // writing is done, from the start.
    const int fd = ::dup(fd_);
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) throw FileFailure(errno, folder_);
    return std::make_unique<FdSource>(fd, folder_);
  }

 private:
  int fd_;
  std::string folder_;
};

}  // namespace

std::unique_ptr<Scratch> NewScratch() {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string folder = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  // Without a name from the start, where the file system can; else named
  // for the instant before it is removed.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = folder + "/.quelvar.XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) throw FileFailure(errno, folder);
  return std::make_unique<FdScratch>(fd, folder);
}

std::unique_ptr<LineReader> OpenFileForInput(const std::string& path, std::size_t held_characters) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileFailure(errno, path);
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  }
  if (err != 0) {
    ::close(fd);
    throw FileFailure(err, path);
  }
  std::unique_ptr<ByteSource> source = std::make_unique<FdSource>(fd, path);
  if (!S_ISREG(st.st_mode)) source = ReadToScratch(*source);
  return std::make_unique<LineReader>(std::move(source), held_characters);
}

namespace {

// The new files beside `path` that crashes left, named as TemporaryName or,
// by earlier versions, ".<name>.nuevo": each removed unless a run holds it
// (a living run holds its own locked) or it is no plain file.
void RemoveLeftovers(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string name = path.substr(path.rfind('/') + 1);
  DIR* entries = ::opendir(folder.c_str());
  if (entries == nullptr) return;
  while (const dirent* entry = ::readdir(entries)) {
    const std::string_view found = entry->d_name;
    if (!IsTemporaryNameOf(found, name) && found != "." + name + ".nuevo") continue;
    const std::string leftover = JoinPath(folder, found);
    const int fd = ::open(leftover.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(leftover.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      RemoveFile(leftover);
    }
    ::close(fd);
  }
  ::closedir(entries);
}

// A new file beside `path`, open for writing: unnamed where the file system
// allows it and /proc can name it for the move; else under a new name,
// `temporary`.
int CreateBeside(const std::string& path, std::string& temporary) {
  if (::access("/proc/self/fd", X_OK) == 0) {
    const int fd = ::open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  }
  for (;;) {
    temporary = TemporaryName(path);
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
}

}  // namespace

std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path, const TextFormat& format,
                                              const std::string& like) {
  RemoveLeftovers(path);
  std::string temporary;
  const int fd = CreateBeside(path, temporary);
  if (fd < 0) throw FileFailure(errno, path);
  // Held while this run lives: a file nobody holds is a crash's leftover.
  ::flock(fd, LOCK_EX | LOCK_NB);
  TakeModeAndGroupOf(fd, like);
  auto sink = std::make_unique<FdSink>(fd, path, std::move(temporary));
  CheckReplaceable(path);
  return std::make_unique<LineWriter>(std::move(sink), format);
}

}  // namespace quelvar
