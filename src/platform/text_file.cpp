#include "platform/text_file.h"

#include <algorithm>
#include <cstring>

#include "platform/failure.h"
#include "platform/sha256.h"

namespace quelvar {

LineReader::LineReader(std::unique_ptr<ByteSource> source, std::size_t held_characters,
                       std::size_t buffer_size)
    : source_(std::move(source)),
      // Room for a CR LF of two-byte units, whatever size is asked for.
      buffer_(std::max<std::size_t>(buffer_size, 4)),
      held_characters_(held_characters),
      // No character takes more than four bytes in any of the encodings.
      held_bytes_(4 * held_characters) {
  Examine();
}

LineReader::LineReader(std::unique_ptr<ByteSource> source, const TextFormat& format,
                       std::size_t held_characters)
    : source_(std::move(source)),
      buffer_(kBufferSize),
      format_(format),
      held_characters_(held_characters),
      held_bytes_(4 * held_characters) {
  format_.lf_line_ends = false;
  Begin();
}

void LineReader::Examine() {
  TextFormatDetector detector;
  Sha256 sha256;
  for (std::size_t n; (n = source_->Read(buffer_.data(), buffer_.size())) > 0;) {
    const std::string_view piece(buffer_.data(), n);
    detector.Feed(piece);
    sha256.Feed(piece);
    size_ += n;
  }
  format_ = detector.Verdict();
  sha256_ = sha256.Hex();
  source_->Rewind();
  Begin();
}

void LineReader::Begin() {
  if (format_.encoding == TextEncoding::kUtf16LE || format_.encoding == TextEncoding::kUtf16BE) {
    unit_ = 2;
  }
  if (format_.byte_order_mark) {
    const std::size_t mark = ByteOrderMark(format_.encoding).size();
    Have(mark);
    pos_ += mark;
  }
}

bool LineReader::Have(std::size_t n) {
  if (len_ - pos_ >= n) return true;
  if (exhausted_) return false;
  // What is left goes to the front, and the rest of the buffer is filled.
  const std::size_t rest = len_ - pos_;
  std::memmove(buffer_.data(), buffer_.data() + pos_, rest);
  offset_ += pos_;
  pos_ = 0;
  len_ = rest;
  while (len_ < n) {
    const std::size_t got = source_->Read(buffer_.data() + len_, buffer_.size() - len_);
    if (got == 0) {
      exhausted_ = true;
      break;
    }
    len_ += got;
  }
  return len_ >= n;
}

bool LineReader::IsUnit(std::size_t at, char ascii) const {
  if (unit_ == 1) return buffer_[at] == ascii;
  const bool big = format_.encoding == TextEncoding::kUtf16BE;
  return buffer_[at + (big ? 1 : 0)] == ascii && buffer_[at + (big ? 0 : 1)] == 0;
}

bool LineReader::AtEnd() { return !Have(unit_); }

void LineReader::ReadLine(Line& line) {
  line.text.clear();
  line.bytes.clear();
  line.whole = true;
  line.start = offset_ + pos_;
  auto take = [&](std::size_t to) {
    const std::size_t room = held_bytes_ - line.bytes.size();
    if (to - pos_ > room) line.whole = false;
    line.bytes.append(buffer_.data() + pos_, std::min(to - pos_, room));
    pos_ = to;
  };
  const char ends = format_.lf_line_ends ? '\n' : '\r';
  bool ended = false;
  while (!ended && Have(unit_)) {
    std::size_t at = len_;
    if (unit_ == 1) {
      const void* found = std::memchr(buffer_.data() + pos_, ends, len_ - pos_);
      if (found != nullptr) {
        at = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data());
      }
    } else {
      for (std::size_t k = pos_; k + 1 < len_; k += 2) {
        if (IsUnit(k, ends)) {
          at = k;
          break;
        }
      }
    }
    if (at == len_) {
      take(pos_ + (len_ - pos_) / unit_ * unit_);  // whole units only
      continue;
    }
    take(at);
    line.end = offset_ + pos_;
    pos_ += unit_;
    if (ends == '\r' && Have(unit_) && IsUnit(pos_, '\n')) pos_ += unit_;
    ended = true;
  }
  // A file that ends inside a code unit: that half is no text, nor any part
  // of a line that can be written as the file's again; its line is not valid.
  bool half_unit = false;
  if (!ended) {
    line.end = offset_ + pos_;
    half_unit = pos_ < len_;
    pos_ = len_;
  }
  line.invalid_at = Line::kValid;
  if (format_.valid) {
    AppendUtf8(format_.encoding, line.bytes, line.text);
  } else {
    Decoder decoder(format_.encoding);
    decoder.Feed(line.bytes, line.text);
    // A character cut where holding stopped is text the line goes on with.
    if (line.whole) decoder.End(line.text);
    line.invalid_at = decoder.first_invalid();
  }
  if (half_unit) {
    if (line.invalid_at == Line::kValid) line.invalid_at = line.bytes.size();
    line.text.append("\xEF\xBF\xBD");  // U+FFFD
  }
  if (!line.whole) {
    // A character cut at the end of what was held lies past the characters
    // that are kept.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < line.text.size(); ++i) {
      if ((static_cast<unsigned char>(line.text[i]) & 0xC0) != 0x80 &&
          characters++ == held_characters_) {
        line.text.resize(i);
        break;
      }
    }
  }
}

void LineReader::CopyLine(const Line& line, LineWriter& writer) {
  ForEachPiece(line, [&](std::string_view bytes) { writer.WriteBytes(bytes); });
  writer.EndLine();
}

void LineReader::ForEachPiece(const Line& line,
                              const std::function<void(std::string_view)>& piece) {
  if (line.whole) {
    piece(line.bytes);
    return;
  }
  std::string chunk(1 << 16, '\0');
  for (std::uint64_t at = line.start; at < line.end;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), line.end - at));
    const std::size_t got = source_->ReadAt(at, chunk.data(), want);
    // The file lost the line since it was read.
    if (got == 0) throw Failure(FailureKind::kOther, 62, "Entrada más allá del final del archivo");
    piece(std::string_view(chunk.data(), got));
    at += got;
  }
}

std::unique_ptr<ByteSource> ReadToScratch(ByteSource& once) {
  std::unique_ptr<Scratch> scratch = NewScratch();
  std::unique_ptr<ByteSink> copy = scratch->Writer();
  std::vector<char> piece(1 << 16);
  for (std::size_t n; (n = once.Read(piece.data(), piece.size())) > 0;)
    copy->Write(piece.data(), n);
  copy->Close();
  return scratch->Reader();  // which keeps the file while it is read
}

LineWriter::LineWriter(std::unique_ptr<ByteSink> sink, const TextFormat& format)
    : sink_(std::move(sink)), encoding_(format.encoding) {
  AppendEncoded(encoding_, "\r\n", line_end_);
  if (format.byte_order_mark) pending_.append(ByteOrderMark(encoding_));
}

LineWriter::~LineWriter() {
  if (closed_) return;
  // Pending bytes go out, where the file stays (a scratch file, one already
  // in place); errors are dropped.
  try {
    Flush();
  } catch (const Failure&) {
  }
  try {
    sink_->Close();
  } catch (const Failure&) {
  }
}

void LineWriter::WriteLine(std::string_view utf8) {
  AppendEncoded(encoding_, utf8, pending_);
  EndLine();
}

void LineWriter::WriteBytes(std::string_view bytes) {
  pending_.append(bytes);
  if (pending_.size() >= kFlushAt) Flush();
}

void LineWriter::EndLine() {
  pending_.append(line_end_);
  if (pending_.size() >= kFlushAt) Flush();
}

void LineWriter::Flush() {
  if (pending_.empty()) return;
  // Cleared either way: a failed write is reported once, not again on close.
  // The buffer is kept for what follows.
  try {
    sink_->Write(pending_.data(), pending_.size());
  } catch (...) {
    pending_.clear();
    throw;
  }
  pending_.clear();
}

void LineWriter::Sync() {
  Flush();
  sink_->Sync();
}

void LineWriter::PutInPlace() {
  Sync();
  sink_->PutInPlace();
}

void LineWriter::Close() {
  if (closed_) return;
  closed_ = true;
  try {
    PutInPlace();
  } catch (...) {
    try {
      sink_->Close();
    } catch (const Failure&) {
    }
    throw;
  }
  sink_->Close();
}

}  // namespace quelvar
