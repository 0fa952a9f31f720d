#include "platform/text_encoding.h"

#include <bit>
#include <cstring>

namespace quelvar {
namespace {

// Windows-1252 code points for 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::uint16_t kAlto[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendCodePoint(std::uint32_t cp, std::string& utf8) {
  if (cp < 0x80) {
    utf8.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    utf8.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    utf8.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    utf8.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    utf8.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The first byte of a line in memory is the lowest of a word read from it.
static_assert(std::endian::native == std::endian::little);

// The UTF-8 form of each byte from 0x80 on.
struct Utf8De1252 {
  char bytes[3];
  std::uint8_t length;
};
struct TablaUtf8De1252 {
  Utf8De1252 alto[128];
};
constexpr TablaUtf8De1252 Tabla1252() {
  TablaUtf8De1252 t{};
  for (int byte = 0x80; byte < 0x100; ++byte) {
    const std::uint32_t cp = byte < 0xA0 ? kAlto[byte - 0x80] : static_cast<std::uint32_t>(byte);
    Utf8De1252& c = t.alto[byte - 0x80];
    if (cp < 0x800) {
      c = {{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F)), 0}, 2};
    } else {
      c = {{static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))},
           3};
    }
  }
  return t;
}
constexpr TablaUtf8De1252 kUtf8De1252 = Tabla1252();

// The code point that starts at `utf8[i]`, which must be valid; `i` moves past it.
std::uint32_t NextCodePoint(std::string_view utf8, std::size_t& i) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
  const unsigned char lead = b(i);
  if (lead < 0x80) return b(i++);
  const int extra = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  std::uint32_t cp = lead & (0x3F >> extra);
  for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = (cp << 6) | (b(i + k) & 0x3Fu);
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void AppendUnit(bool big_endian, std::uint32_t unit, std::string& out) {
  const char high = static_cast<char>(unit >> 8);
  const char low = static_cast<char>(unit & 0xFF);
  out.push_back(big_endian ? high : low);
  out.push_back(big_endian ? low : high);
}

}  // namespace

std::string_view EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return "UTF-8";
    case TextEncoding::kUtf16LE:
      return "UTF-16LE";
    case TextEncoding::kUtf16BE:
      return "UTF-16BE";
    case TextEncoding::kWindows1252:
      break;
  }
  return "Windows-1252";
}

void AppendUtf8(TextEncoding encoding, std::string_view bytes, std::string& utf8) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      utf8.append(bytes);
      return;
    case TextEncoding::kWindows1252: {
      // Written in place: at most three bytes a character.
      const std::size_t start = utf8.size();
      utf8.resize(start + 3 * bytes.size());
      char* out = utf8.data() + start;
      const char* in = bytes.data();
      const char* const end = in + bytes.size();
      while (in != end) {
        if (end - in >= 8) {
          // Eight bytes at a time, as far as they are ASCII: most of every line.
          std::uint64_t ocho = 0;
          std::memcpy(&ocho, in, 8);
          std::memcpy(out, in, 8);  // the ASCII ones kept, the rest written over
          const std::uint64_t altos = ocho & 0x8080808080808080u;
          const int ascii = altos == 0 ? 8 : std::countr_zero(altos) / 8;
          in += ascii;
          out += ascii;
          if (ascii == 8) continue;
        } else if (static_cast<unsigned char>(*in) < 0x80) {
          *out++ = *in++;
          continue;
        }
        const Utf8De1252& c = kUtf8De1252.alto[static_cast<unsigned char>(*in++) - 0x80];
        std::memcpy(out, c.bytes, 3);  // within the room made, whatever its length
        out += c.length;
      }
      utf8.resize(static_cast<std::size_t>(out - utf8.data()));
      return;
    }
    case TextEncoding::kUtf16LE:
    case TextEncoding::kUtf16BE: {
      const bool big = encoding == TextEncoding::kUtf16BE;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        std::uint32_t unit = big ? (a << 8 | b) : (b << 8 | a);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
          const auto c = static_cast<unsigned char>(bytes[i + 2]);
          const auto d = static_cast<unsigned char>(bytes[i + 3]);
          const std::uint32_t low = big ? (c << 8 | d) : (d << 8 | c);
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
        AppendCodePoint(unit, utf8);
      }
      return;
    }
  }
}

void AppendEncoded(TextEncoding encoding, std::string_view utf8, std::string& out) {
  if (encoding == TextEncoding::kUtf8) {
    out.append(utf8);
    return;
  }
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint32_t cp = NextCodePoint(utf8, i);
    if (encoding == TextEncoding::kWindows1252) {
      char byte = '?';
      if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
        byte = static_cast<char>(cp);
      } else {
        for (int k = 0; k < 32; ++k) {
          if (kAlto[k] == cp) byte = static_cast<char>(0x80 + k);
        }
      }
      out.push_back(byte);
      continue;
    }
    const bool big = encoding == TextEncoding::kUtf16BE;
    if (cp < 0x10000) {
      AppendUnit(big, cp, out);
    } else {
      AppendUnit(big, 0xD800 + ((cp - 0x10000) >> 10), out);
      AppendUnit(big, 0xDC00 + ((cp - 0x10000) & 0x3FF), out);
    }
  }
}

void Decoder::Invalid(std::uint64_t at, std::string& utf8) {
  if (first_invalid_ == kNone) first_invalid_ = at;
  utf8.append("\xEF\xBF\xBD");  // U+FFFD
}

void Decoder::Feed(std::string_view bytes, std::string& utf8) {
  switch (encoding_) {
    case TextEncoding::kWindows1252:
      AppendUtf8(encoding_, bytes, utf8);
      break;
    case TextEncoding::kUtf8:
      FeedUtf8(bytes, utf8);
      break;
    case TextEncoding::kUtf16LE:
    case TextEncoding::kUtf16BE:
      FeedUtf16(bytes, utf8);
      break;
  }
  fed_ += bytes.size();
}

void Decoder::FeedUtf8(std::string_view bytes, std::string& utf8) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const std::uint64_t at = fed_ + i;
    if (due_ > 0) {
      if (b >= low_ && b <= high_) {
        cut_.push_back(static_cast<char>(b));
        low_ = 0x80;
        high_ = 0xBF;
        if (--due_ == 0) {
          utf8.append(cut_);
          cut_.clear();
        }
        continue;
      }
      // The character begun is not valid; this byte starts anew.
      Invalid(at - cut_.size(), utf8);
      cut_.clear();
      due_ = 0;
      low_ = 0x80;
      high_ = 0xBF;
    }
    if (b < 0x80) {
      utf8.push_back(static_cast<char>(b));
      continue;
    }
    if (b < 0xC2 || b > 0xF4) {
      Invalid(at, utf8);
      continue;
    }
    cut_.push_back(static_cast<char>(b));
    due_ = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    if (b == 0xE0) low_ = 0xA0;   // no overlong forms
    if (b == 0xED) high_ = 0x9F;  // no surrogates
    if (b == 0xF0) low_ = 0x90;
    if (b == 0xF4) high_ = 0x8F;  // nothing past U+10FFFF
  }
}

void Decoder::FeedUtf16(std::string_view bytes, std::string& utf8) {
  const bool big = encoding_ == TextEncoding::kUtf16BE;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (cut_.empty()) {
      cut_.push_back(bytes[i]);
      continue;
    }
    const auto first = static_cast<unsigned char>(cut_[0]);
    const auto second = static_cast<unsigned char>(bytes[i]);
    cut_.clear();
    const std::uint32_t unit = big ? (first << 8 | second) : (second << 8 | first);
    const std::uint64_t at = fed_ + i - 1;
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const bool low = unit >= 0xDC00 && unit < 0xE000;
    if (high_surrogate_ != 0) {
      if (low) {
        AppendCodePoint(0x10000 + ((high_surrogate_ - 0xD800) << 10) + (unit - 0xDC00), utf8);
        high_surrogate_ = 0;
        continue;
      }
      Invalid(high_at_, utf8);
      high_surrogate_ = 0;
    }
    if (high) {
      high_surrogate_ = unit;
      high_at_ = at;
    } else if (low) {
      Invalid(at, utf8);
    } else {
      AppendCodePoint(unit, utf8);
    }
  }
}

void Decoder::End(std::string& utf8) {
  if (high_surrogate_ != 0) Invalid(high_at_, utf8);
  if (!cut_.empty()) Invalid(fed_ - cut_.size(), utf8);
  high_surrogate_ = 0;
  cut_.clear();
  due_ = 0;
  low_ = 0x80;
  high_ = 0xBF;
}

std::size_t Characters(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

void Utf8Check::Feed(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size() && valid_; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (pending_ > 0) {
      if (b < low_ || b > high_) valid_ = false;
      --pending_;
      low_ = 0x80;
      high_ = 0xBF;
      continue;
    }
    if (b < 0x80) continue;
    if (b < 0xC2 || b > 0xF4) {
      valid_ = false;
    } else if (b < 0xE0) {
      pending_ = 1;
    } else if (b < 0xF0) {
      pending_ = 2;
      if (b == 0xE0) low_ = 0xA0;   // no overlong forms
      if (b == 0xED) high_ = 0x9F;  // no surrogates
    } else {
      pending_ = 3;
      if (b == 0xF0) low_ = 0x90;
      if (b == 0xF4) high_ = 0x8F;  // nothing past U+10FFFF
    }
  }
}

void Utf16Check::Feed(std::string_view bytes) {
  // On past a unit that is not valid: the line ends are looked for to the end.
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!odd_) {
      first_ = static_cast<unsigned char>(bytes[i]);
      odd_ = true;
      continue;
    }
    odd_ = false;
    const auto second = static_cast<unsigned char>(bytes[i]);
    const unsigned unit = big_endian_ ? (first_ << 8 | second) : (second << 8 | first_);
    cr_ = cr_ || unit == '\r';
    lf_ = lf_ || unit == '\n';
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const bool low = unit >= 0xDC00 && unit < 0xE000;
    if (high_surrogate_ ? !low : low) valid_ = false;
    high_surrogate_ = high;
  }
}

}  // namespace quelvar
