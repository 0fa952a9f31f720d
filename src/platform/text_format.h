// What a text file is written in and how its lines end, and how that is
// learnt from the file's bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"

namespace quelvar {

struct TextFormat {
  TextEncoding encoding = TextEncoding::kWindows1252;
  bool byte_order_mark = false;
  bool lf_line_ends = false;  // LF ends a line; otherwise CR LF or a lone CR
};

// The byte-order mark of `encoding`; none for Windows-1252.
std::string_view ByteOrderMark(TextEncoding encoding);

// Learns the format of a whole file from its bytes, fed in pieces of any
// size: UTF-16 when it starts with the byte-order mark FF FE or FE FF and the
// rest is valid UTF-16; else UTF-8 when it is valid UTF-8 as a whole and
// starts with EF BB BF or holds "¬" (C2 AC); else Windows-1252. A file that
// holds no CR and at least one LF has LF line ends; otherwise CR LF or a
// lone CR ends a line.
class TextFormatDetector {
 public:
  void Feed(std::string_view bytes);
  TextFormat Verdict() const;

 private:
  std::string start_;  // the file's first three bytes, for the marks
  Utf8Check utf8_;
  bool terminator_ = false;  // C2 AC seen
  char last_ = 0;            // the last byte fed
  bool cr_ = false;
  bool lf_ = false;
  std::optional<Utf16Check> utf16_;  // from a UTF-16 mark on, the rest
  std::size_t mark_left_ = 0;        // bytes of that mark not yet fed
};

}  // namespace quelvar
