// Sequential text files in a single-byte code page: one byte is one character,
// and lines travel as the exact bytes of the file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// Reads whole lines through a fixed buffer, so memory does not grow with the
// file. CR LF or a lone CR ends a line; a lone LF is part of the line. A line
// end that is the last thing in the input starts no further line.
class LineReader {
 public:
  virtual ~LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // True when no byte is left to read.
  bool AtEnd();
  // Replaces `line` with the next line, without its line end.
  void ReadLine(std::string& line);
  virtual void Close() = 0;

 protected:
  explicit LineReader(std::size_t buffer_size) : buffer_(buffer_size) {}
  // Copies up to `capacity` bytes into `out`; 0 only at the end of the input.
  virtual std::size_t Fill(char* out, std::size_t capacity) = 0;

 private:
  bool Refill();

  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool exhausted_ = false;
};

// Writes lines that end in CR LF, buffered. Close() reports any failure to
// write; a writer destroyed unclosed writes what it can and says nothing.
class LineWriter {
 public:
  virtual ~LineWriter() = default;
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  void WriteLine(std::string_view text);
  // Hands what is buffered to the system; a failure to write is thrown.
  void Flush();
  void Close();

 protected:
  LineWriter() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
  virtual void Release() = 0;
  // Best effort for destructors: pending bytes go out, errors are dropped.
  void FlushQuietly();

 private:
  static constexpr std::size_t kFlushAt = 1 << 16;

  std::string pending_;
};

std::unique_ptr<LineReader> OpenFileForInput(const std::string& path);
// Creates the file, or empties it.
std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path);

}  // namespace quelvar
