#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/failure.h"

namespace quelvar {

bool LineReader::Refill() {
  if (exhausted_) return false;
  pos_ = 0;
  len_ = Fill(buffer_.data(), buffer_.size());
  if (len_ == 0) exhausted_ = true;
  return len_ > 0;
}

bool LineReader::AtEnd() { return pos_ == len_ && !Refill(); }

void LineReader::ReadLine(std::string& line) {
  line.clear();
  while (pos_ < len_ || Refill()) {
    const char* start = buffer_.data() + pos_;
    const void* cr = std::memchr(start, '\r', len_ - pos_);
    if (cr == nullptr) {
      line.append(start, len_ - pos_);
      pos_ = len_;
      continue;
    }
    const char* end = static_cast<const char*>(cr);
    line.append(start, end);
    pos_ += static_cast<std::size_t>(end - start) + 1;
    if ((pos_ < len_ || Refill()) && buffer_[pos_] == '\n') ++pos_;
    return;
  }
}

void LineWriter::WriteLine(std::string_view text) {
  pending_.append(text);
  pending_.append("\r\n");
  if (pending_.size() >= kFlushAt) Flush();
}

void LineWriter::Flush() {
  if (pending_.empty()) return;
  // Cleared first: a failed write is reported once, not again on close.
  std::string out;
  out.swap(pending_);
  Write(out.data(), out.size());
}

void LineWriter::Close() {
  try {
    Flush();
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void LineWriter::FlushQuietly() {
  try {
    Flush();
  } catch (const Failure&) {
  }
}

namespace {

constexpr std::size_t kReadBuffer = 1 << 18;

class FileLineReader final : public LineReader {
 public:
  FileLineReader(int fd, std::string path)
      : LineReader(kReadBuffer), fd_(fd), path_(std::move(path)) {}
  ~FileLineReader() override { Close(); }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 protected:
  std::size_t Fill(char* out, std::size_t capacity) override {
    for (;;) {
      ssize_t n = ::read(fd_, out, capacity);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw FileFailure(errno, path_);
    }
  }

 private:
  int fd_;
  std::string path_;
};

class FileLineWriter final : public LineWriter {
 public:
  FileLineWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileLineWriter() override {
    if (fd_ < 0) return;
    FlushQuietly();
    ::close(fd_);
  }

 protected:
  void Write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw FileFailure(errno, path_);
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  void Release() override {
    if (fd_ < 0) return;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw FileFailure(errno, path_);
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<LineReader> OpenFileForInput(const std::string& path) {
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
  return std::make_unique<FileLineReader>(fd, path);
}

std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw FileFailure(errno, path);
  return std::make_unique<FileLineWriter>(fd, path);
}

}  // namespace quelvar
