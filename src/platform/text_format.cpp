// A text file's format, learnt from its bytes.
#include "platform/text_format.h"

#include <algorithm>

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

  utf8_.Feed(bytes);
  cr_ = cr_ || bytes.find('\r') != std::string_view::npos;
  lf_ = lf_ || bytes.find('\n') != std::string_view::npos;
  for (std::size_t ac = 0; !terminator_ && (ac = bytes.find('\xAC', ac)) != bytes.npos; ++ac) {
    terminator_ = (ac == 0 ? last_ : bytes[ac - 1]) == '\xC2';
  }
  last_ = bytes.back();
}

TextFormat TextFormatDetector::Verdict() const {
  TextFormat format;
  if (utf16_ && utf16_->Valid()) {
    format.encoding = utf16_->big_endian() ? TextEncoding::kUtf16BE : TextEncoding::kUtf16LE;
    format.byte_order_mark = true;
    format.lf_line_ends = !utf16_->cr() && utf16_->lf();
  } else {
    const bool mark = start_.starts_with(kMarkUtf8);
    if (utf8_.Valid() && (mark || terminator_)) {
      format.encoding = TextEncoding::kUtf8;
      format.byte_order_mark = mark;
    }
    format.lf_line_ends = !cr_ && lf_;
  }
  return format;
}

}  // namespace quelvar
