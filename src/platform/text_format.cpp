// A text file's format, learnt from its bytes.
#include "platform/text_format.h"

#include <algorithm>
#include <cstring>

namespace quelvar {
namespace {

constexpr std::string_view kMarkUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kMarkUtf16LE = "\xFF\xFE";
constexpr std::string_view kMarkUtf16BE = "\xFE\xFF";

}  // namespace

std::string_view ByteOrderMark(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return kMarkUtf8;
    case TextEncoding::kUtf16LE:
      return kMarkUtf16LE;
    case TextEncoding::kUtf16BE:
      return kMarkUtf16BE;
    case TextEncoding::kWindows1252:
      break;
  }
  return {};
}

void TextFormatDetector::Feed(std::string_view bytes) {
  if (bytes.empty()) return;
  const std::size_t seen = start_.size();
  start_.append(bytes.substr(0, 3 - std::min<std::size_t>(seen, 3)));
  if (seen < 2 && start_.size() >= 2) {
    const std::string_view two = std::string_view(start_).substr(0, 2);
    if (two == kMarkUtf16LE || two == kMarkUtf16BE) {
      utf16_.emplace(two == kMarkUtf16BE);
      mark_left_ = 2 - seen;
    }
  }
  if (utf16_) {
    const std::size_t mark = std::min(mark_left_, bytes.size());
    mark_left_ -= mark;
    utf16_->Feed(bytes.substr(mark));
  }

  FeedUtf8(bytes);
  cr_ = cr_ || bytes.find('\r') != std::string_view::npos;
  lf_ = lf_ || bytes.find('\n') != std::string_view::npos;
}

void TextFormatDetector::FeedUtf8(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = b + bytes.size();
  while (b != end) {
    // Eight ASCII bytes at a time: most of every line.
    std::uint64_t eight = 0;
    if (due_ == 0 && end - b >= 8 &&
        (std::memcpy(&eight, b, 8), eight & 0x8080808080808080u) == 0) {
      b += 8;
      continue;
    }
    if (due_ > 0) {
      if (*b >= low_ && *b <= high_) {
        if (--due_ == 0 && lead_ == 0xC2 && *b == 0xAC) ++utf8_terminators_;
        low_ = 0x80;
        high_ = 0xBF;
        ++b;
        continue;
      }
      // The character begun is not valid; this byte starts anew.
      utf8_valid_ = false;
      due_ = 0;
      low_ = 0x80;
      high_ = 0xBF;
    }
    if (*b < 0x80) {
      ++b;
      continue;
    }
    if (*b < 0xC2 || *b > 0xF4) {
      utf8_valid_ = false;
      if (*b == 0xAC) ++byte_terminators_;
    } else {
      lead_ = *b;
      due_ = *b < 0xE0 ? 1 : *b < 0xF0 ? 2 : 3;
      if (*b == 0xE0) low_ = 0xA0;   // no overlong forms
      if (*b == 0xED) high_ = 0x9F;  // no surrogates
      if (*b == 0xF0) low_ = 0x90;
      if (*b == 0xF4) high_ = 0x8F;  // nothing past U+10FFFF
    }
    ++b;
  }
}

TextFormat TextFormatDetector::Verdict() const {
  TextFormat format;
  if (utf16_) {
    format.encoding = utf16_->big_endian() ? TextEncoding::kUtf16BE : TextEncoding::kUtf16LE;
    format.byte_order_mark = true;
    format.lf_line_ends = !utf16_->cr() && utf16_->lf();
    format.valid = utf16_->Valid();
    return format;
  }
  const bool mark = start_.starts_with(kMarkUtf8);
  if (mark || utf8_terminators_ > byte_terminators_) {
    format.encoding = TextEncoding::kUtf8;
    format.byte_order_mark = mark;
    format.valid = utf8_valid_ && due_ == 0;
  }
  format.lf_line_ends = !cr_ && lf_;
  return format;
}

}  // namespace quelvar
