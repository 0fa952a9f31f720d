// What a text file is written in and how its lines end, and how that is
// learnt from the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"

namespace quelvar {

struct TextFormat {
  TextEncoding encoding = TextEncoding::kWindows1252;
  bool byte_order_mark = false;
  bool lf_line_ends = false;  // LF ends a line; otherwise CR LF or a lone CR
  bool valid = true;          // every byte is text in the encoding: no line needs checking
};

// The byte-order mark of `encoding`; none for Windows-1252.
std::string_view ByteOrderMark(TextEncoding encoding);

// Learns the format of a whole file from its bytes, fed in pieces of any
// size. A byte-order mark decides: FF FE or FE FF, UTF-16; EF BB BF, UTF-8.
// Without one, UTF-8 when "¬" written as UTF-8 (C2 AC) outnumbers "¬" as a
// byte of its own (an AC that is no part of a UTF-8 character, as
// Windows-1252 writes it); else Windows-1252. So a file put together from
// two sources keeps the encoding of most of its lines, and the lines of the
// other fail to decode, each on its own. A file that holds no CR and at
// least one LF has LF line ends; otherwise CR LF or a lone CR ends a line.
class TextFormatDetector {
 public:
  void Feed(std::string_view bytes);
  TextFormat Verdict() const;

 private:
  void FeedUtf8(std::string_view bytes);

  std::string start_;  // the file's first three bytes, for the marks
  // UTF-8, read on past any byte that is not valid: the characters under
  // way, and the two ways of writing "¬" counted.
  bool utf8_valid_ = true;
  int due_ = 0;
  unsigned char lead_ = 0;
  unsigned char low_ = 0x80, high_ = 0xBF;
  std::uint64_t utf8_terminators_ = 0;
  std::uint64_t byte_terminators_ = 0;
  bool cr_ = false;
  bool lf_ = false;
  std::optional<Utf16Check> utf16_;  // from a UTF-16 mark on, the rest
  std::size_t mark_left_ = 0;        // bytes of that mark not yet fed
};

}  // namespace quelvar
