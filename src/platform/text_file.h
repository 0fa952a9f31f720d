// Sequential text files. A file to read is examined whole first, when it is a
// regular file, to learn its encoding and its line ends; its lines then come
// as UTF-8 text and as the exact bytes they were read from. A file written
// takes the encoding of another, and lines that end in CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_format.h"

namespace quelvar {

// Where a file's bytes come from: the platform's part of reading. A file
// that can be read again from its start and from any offset.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `capacity` bytes from where the last read stopped; 0 only at the end.
  virtual std::size_t Read(char* out, std::size_t capacity) = 0;
  virtual void Rewind() = 0;
  // Up to `size` bytes from `offset`, without moving where Read goes on.
  virtual std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) = 0;
  virtual void Close() = 0;
};

// Where a file's bytes go: the platform's part of writing.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
  // Puts what was written on the disk, so that a power cut cannot take it back.
  virtual void Sync() = 0;
  // For a file made to take another's place: takes it, once synced, and puts
  // that in the folder on the disk. Nothing for a file that has no such place.
  virtual void PutInPlace() {}
  // Reports a failure to write that the system kept until the file closed. A
  // file never put in place is gone once closed.
  virtual void Close() = 0;
};

// One line of a file, without its line end.
struct Line {
  static constexpr std::uint64_t kValid = UINT64_MAX;

  std::string text;         // UTF-8; U+FFFD for what is no text in the file's encoding
  std::string bytes;        // exactly as read; only the start of a line not held whole
  bool whole = true;        // false when the line was too long to hold in memory
  std::uint64_t start = 0;  // where the line's bytes lie in the file
  std::uint64_t end = 0;
  // Where, among the bytes held, the first that is no text in the file's
  // encoding lies; kValid when the line is all text.
  std::uint64_t invalid_at = kValid;
};

class LineWriter;

// Reads lines through a fixed buffer, so memory does not grow with the file,
// nor past a bound with the line: a line longer than `held_characters`
// characters is held only that far (as text, and as bytes), and copied from
// the file again when it must be written whole.
//
// The file is examined whole once, when the reader is made, for its format
// (TextFormatDetector), its size and its SHA-256; its mark is no part of the
// first line. With LF line
// ends each LF ends a line; otherwise CR LF or a lone CR does, and an LF is
// an ordinary character. A line end that is the last thing in the file
// starts no further line.
class LineReader {
 public:
  LineReader(std::unique_ptr<ByteSource> source, std::size_t held_characters,
             std::size_t buffer_size = kBufferSize);
  // A file a LineWriter wrote in `format`: not examined, its lines ending
  // in CR LF whatever lines the format was taken from.
  LineReader(std::unique_ptr<ByteSource> source, const TextFormat& format,
             std::size_t held_characters);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  const TextFormat& format() const { return format_; }
  // What the examination found of the whole file: its size and its SHA-256
  // (empty for a file not examined).
  std::uint64_t size() const { return size_; }
  const std::string& sha256() const { return sha256_; }
  // True when no byte is left to read.
  bool AtEnd();
  void ReadLine(Line& line);
  // Writes `line`, read from this file, to `writer` as one line of exactly
  // the bytes it was read from.
  void CopyLine(const Line& line, LineWriter& writer);
  // Hands the bytes `line` was read from, all of them however long, a piece
  // at a time.
  void ForEachPiece(const Line& line, const std::function<void(std::string_view)>& piece);
  void Close() { source_->Close(); }

  static constexpr std::size_t kBufferSize = 1 << 18;

 private:
  void Examine();
  void Begin();              // the format known: its units, and past its byte-order mark
  bool Have(std::size_t n);  // at least n unread bytes in the buffer, unless the file ends
  bool IsUnit(std::size_t at, char ascii) const;  // the code unit at `at` is this character

  std::unique_ptr<ByteSource> source_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  std::uint64_t offset_ = 0;  // where buffer_[0] lies in the file
  bool exhausted_ = false;
  TextFormat format_;
  std::uint64_t size_ = 0;
  std::string sha256_;
  std::size_t unit_ = 1;  // bytes per code unit
  std::size_t held_characters_;
  std::size_t held_bytes_;
};

// Writes lines that end in CR LF, in the encoding of `format` and after its
// byte-order mark, if it has one; buffered. Close() puts everything on the
// disk, and the file in its place, and reports any failure to write; a
// writer destroyed unclosed says nothing, and a file it never put in place
// is gone.
class LineWriter {
 public:
  LineWriter(std::unique_ptr<ByteSink> sink, const TextFormat& format);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // A line of UTF-8 text, written in the file's encoding.
  void WriteLine(std::string_view utf8);
  // Bytes as they stand, to a line that EndLine() ends.
  void WriteBytes(std::string_view bytes);
  void EndLine();
  // Hands what is buffered to the system; a failure to write is thrown.
  void Flush();
  // Flushes, and puts what the file holds on the disk.
  void Sync();
  // Syncs, and puts the file in its place (ByteSink::PutInPlace); writing
  // may go on.
  void PutInPlace();
  void Close();

 private:
  static constexpr std::size_t kFlushAt = 1 << 16;

  std::unique_ptr<ByteSink> sink_;
  TextEncoding encoding_;
  std::string line_end_;
  std::string pending_;
  bool closed_ = false;
};

// A file of the program's own, for what is too large to hold in memory:
// made where the system keeps temporary files and without a name there, so
// that it is gone when it goes, however the program ends. Written in order,
// then read back from its start; neither end may outlive it.
class Scratch {
 public:
  virtual ~Scratch() = default;
  virtual std::unique_ptr<ByteSink> Writer() = 0;
  virtual std::unique_ptr<ByteSource> Reader() = 0;
};
std::unique_ptr<Scratch> NewScratch();

// What can be read only once, in order (a pipe), read to its end into a
// scratch file, to be read as a file.
std::unique_ptr<ByteSource> ReadToScratch(ByteSource& once);

// Files on disk; anything that is not a regular file (a pipe) is read to its
// end first (ReadToScratch), as the file is opened.
std::unique_ptr<LineReader> OpenFileForInput(const std::string& path, std::size_t held_characters);
// A new file, made beside `path` to take its place once it is complete, as
// editors save: until PutInPlace `path` stays as it was, and a writer that
// goes unclosed leaves nothing behind. It has no name of its own where the
// system allows (Linux's O_TMPFILE; named for the instant it moves), else
// one chosen anew (TemporaryName), so no file planted in the folder
// blocks it; those a crash left are removed where no run holds them. Taking
// the place replaces the folder's entry (a file, another user's too, a
// link, a pipe) and never opens or writes what it named; whether it could
// is found now (CheckReplaceable), as the move would find it. It is made
// with the permission bits and group of `like` (TakeModeAndGroupOf; on
// Windows it keeps what it inherits from its folder), so that whoever may
// write that file may replace this one next time.
std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path, const TextFormat& format,
                                              const std::string& like);

}  // namespace quelvar
