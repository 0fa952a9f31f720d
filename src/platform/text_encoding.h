// The encodings a text file may come in, and the conversions to and from
// UTF-8, in which the program holds all text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar {

enum class TextEncoding { kWindows1252, kUtf8, kUtf16LE, kUtf16BE };

// Its name, as people know it: "Windows-1252", "UTF-8", "UTF-16LE", "UTF-16BE".
std::string_view EncodingName(TextEncoding encoding);

// Appends `bytes`, text in `encoding`, to `utf8` as UTF-8. Windows-1252 is
// lossless for all 256 byte values: the five bytes it leaves undefined map to
// the C1 controls of the same number. UTF-8 and UTF-16 input must be valid
// and hold whole characters.
void AppendUtf8(TextEncoding encoding, std::string_view bytes, std::string& utf8);

// Appends `utf8` to `out` in `encoding`; a character Windows-1252 lacks
// becomes "?".
void AppendEncoded(TextEncoding encoding, std::string_view utf8, std::string& out);

// The length of `utf8` in characters.
std::size_t Characters(std::string_view utf8);

// Turns text in `encoding` into UTF-8 a piece at a time, whatever its bytes:
// a character cut between two pieces is completed by the next, and bytes
// that are no character of the encoding (UTF-8 or UTF-16 that is not valid)
// each become U+FFFD, the first of them noted.
class Decoder {
 public:
  static constexpr std::uint64_t kNone = UINT64_MAX;

  explicit Decoder(TextEncoding encoding) : encoding_(encoding) {}
  void Feed(std::string_view bytes, std::string& utf8);
  // No more bytes: a character still cut is not valid.
  void End(std::string& utf8);
  // Where the first byte that is no valid text lies, counted from the first
  // byte fed; kNone while there is none.
  std::uint64_t first_invalid() const { return first_invalid_; }

 private:
  void Invalid(std::uint64_t at, std::string& utf8);
  void FeedUtf8(std::string_view bytes, std::string& utf8);
  void FeedUtf16(std::string_view bytes, std::string& utf8);

  TextEncoding encoding_;
  std::uint64_t fed_ = 0;
  std::uint64_t first_invalid_ = kNone;
  // A character begun and not yet complete: its bytes, and (UTF-8) how many
  // are still due with the bounds of the next, or (UTF-16) a first byte or
  // a high surrogate waiting.
  std::string cut_;
  int due_ = 0;
  unsigned char low_ = 0x80, high_ = 0xBF;
  std::uint32_t high_surrogate_ = 0;
  std::uint64_t high_at_ = 0;
};

// Checks, a piece at a time, that bytes are valid UTF-8: shortest forms, no
// surrogates, nothing past U+10FFFF, no character cut at the end.
class Utf8Check {
 public:
  void Feed(std::string_view bytes);
  bool Valid() const { return valid_ && pending_ == 0; }

 private:
  bool valid_ = true;
  int pending_ = 0;                         // continuation bytes still due
  unsigned char low_ = 0x80, high_ = 0xBF;  // bounds of the next one
};

// Checks, a piece at a time, that bytes are valid UTF-16: whole code units,
// every surrogate in a pair. Notes too which line ends it holds, in all of
// them.
class Utf16Check {
 public:
  explicit Utf16Check(bool big_endian) : big_endian_(big_endian) {}
  void Feed(std::string_view bytes);
  bool Valid() const { return valid_ && !odd_ && !high_surrogate_; }
  bool big_endian() const { return big_endian_; }
  bool cr() const { return cr_; }  // a CR unit was fed
  bool lf() const { return lf_; }

 private:
  bool big_endian_;
  bool cr_ = false;
  bool lf_ = false;
  bool valid_ = true;
  bool odd_ = false;  // half a code unit held in `first_`
  unsigned char first_ = 0;
  bool high_surrogate_ = false;  // a high surrogate waits for its low one
};

}  // namespace quelvar
