// Text files on a POSIX system: the bytes through file descriptors.
#include <fcntl.h>
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
  FdSource(int fd, std::string path, bool regular)
      : fd_(fd), path_(std::move(path)), regular_(regular) {}
  ~FdSource() override { Close(); }

  std::size_t Read(char* out, std::size_t capacity) override {
    for (;;) {
      ssize_t n = ::read(fd_, out, capacity);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw FileFailure(errno, path_);
    }
  }
  bool Regular() override { return regular_; }
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
  bool regular_;
};

class FdSink final : public ByteSink {
 public:
  FdSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FdSink() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void Write(const char* data, std::size_t size) override { WriteAll(fd_, data, size, path_); }
  void Sync() override {
    if (::fsync(fd_) != 0) throw FileFailure(errno, path_);
    // Once, for the file's entry: the file may be new.
    if (!folder_synced_) SyncFolderOf(path_);
    folder_synced_ = true;
  }
  void Close() override {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw FileFailure(errno, path_);
  }

 private:
  int fd_;
  std::string path_;
  bool folder_synced_ = false;
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
    return std::make_unique<FdSource>(fd, folder_, true);
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
  return std::make_unique<LineReader>(std::make_unique<FdSource>(fd, path, S_ISREG(st.st_mode)),
                                      held_characters);
}

namespace {

int CreateNew(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

}  // namespace

std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path, const TextFormat& format,
                                              const std::string& like) {
  const std::string nuevo = NewFileName(path);
  int fd = CreateNew(nuevo);
  if (fd < 0 && errno == EEXIST) {
    RemoveFile(nuevo);
    fd = CreateNew(nuevo);
  }
  if (fd < 0) throw FileFailure(errno, path);
  // Exactly those bits, whatever the umask, as SQLite gives its journal the
  // database's. Where the file system keeps none, the new file's stand.
  struct stat st {};
  if (::stat(like.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 0666);
  // Its entry reaches the disk with the file's first sync (FdSink::Sync
  // syncs the folder then), before anything it holds is relied on.
  if (::rename(nuevo.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::close(fd);
    RemoveFile(nuevo);
    throw FileFailure(error, path);
  }
  return std::make_unique<LineWriter>(std::make_unique<FdSink>(fd, path), format);
}

}  // namespace quelvar
