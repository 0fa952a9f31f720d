#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace quelvar {
namespace {

// Decodes one UTF-8 sequence, checking it is well formed and minimal.
std::uint32_t Decode(const std::string& s) {
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (s.size() == 1 && b(0) < 0x80) return b(0);
  if (s.size() == 2 && (b(0) & 0xE0) == 0xC0 && (b(1) & 0xC0) == 0x80) {
    std::uint32_t cp = ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
    return cp >= 0x80 ? cp : 0xFFFFFFFF;
  }
  if (s.size() == 3 && (b(0) & 0xF0) == 0xE0 && (b(1) & 0xC0) == 0x80 && (b(2) & 0xC0) == 0x80) {
    std::uint32_t cp = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    return cp >= 0x800 ? cp : 0xFFFFFFFF;
  }
  return 0xFFFFFFFF;
}

std::string FromWindows1252(std::string_view bytes) {
  std::string out;
  AppendUtf8(TextEncoding::kWindows1252, bytes, out);
  return out;
}

TEST(Windows1252, EveryByteBecomesItsOwnCharacterAndBack) {
  std::set<std::uint32_t> seen;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const std::string out = FromWindows1252(one);
    std::uint32_t cp = Decode(out);
    ASSERT_NE(cp, 0xFFFFFFFF) << "byte " << byte;
    EXPECT_TRUE(seen.insert(cp).second) << "byte " << byte << " shares U+" << std::hex << cp;
    if (byte < 0x80 || byte >= 0xA0) {
      EXPECT_EQ(cp, static_cast<std::uint32_t>(byte));
    }
    std::string back;
    AppendEncoded(TextEncoding::kWindows1252, out, back);
    EXPECT_EQ(back, one) << "byte " << byte;
    // The same inside a line, at every place within a word of eight, after
    // text already converted.
    for (std::size_t at = 0; at < 17; ++at) {
      std::string line(20, 'a');
      line[at] = static_cast<char>(byte);
      std::string in_line = "ya";
      AppendUtf8(TextEncoding::kWindows1252, line, in_line);
      EXPECT_EQ(in_line, "ya" + std::string(at, 'a') + out + std::string(19 - at, 'a'))
          << "byte " << byte << " at " << at;
    }
  }
  const std::pair<int, std::uint32_t> known[] = {
      {0x80, 0x20AC}, {0x81, 0x81},   {0x8D, 0x8D},  {0x8F, 0x8F},  {0x90, 0x90},
      {0x9D, 0x9D},   {0x92, 0x2019}, {0x9F, 0x178}, {0x8A, 0x160}, {0x96, 0x2013},
  };
  for (auto [byte, cp] : known) {
    EXPECT_EQ(Decode(FromWindows1252(std::string(1, static_cast<char>(byte)))), cp) << byte;
  }
  EXPECT_EQ(FromWindows1252("Fabricaci\xF3n de az\xFA"
                            "car y \xD1"
                            "and\xFA \xAC"),
            "Fabricación de azúcar y Ñandú ¬");
  std::string lacking;
  AppendEncoded(TextEncoding::kWindows1252, "a✓b", lacking);
  EXPECT_EQ(lacking, "a?b");
}

TEST(Utf16, RoundTripsEveryKindOfCharacter) {
  const std::string text = "a¬ñ€✓😀";
  for (TextEncoding encoding : {TextEncoding::kUtf16LE, TextEncoding::kUtf16BE}) {
    std::string bytes;
    AppendEncoded(encoding, text, bytes);
    EXPECT_EQ(bytes.size(), 2u * 6 + 2);  // one surrogate pair
    Utf16Check check(encoding == TextEncoding::kUtf16BE);
    check.Feed(bytes);
    EXPECT_TRUE(check.Valid());
    std::string back;
    AppendUtf8(encoding, bytes, back);
    EXPECT_EQ(back, text);
  }
  std::string le;
  AppendEncoded(TextEncoding::kUtf16LE, "\r\n", le);
  EXPECT_EQ(le, std::string("\r\0\n\0", 4));
}

// The checks and the decoder agree on what is valid, across pieces; the
// decoder says where the first invalid byte lies and gives valid UTF-8.
TEST(Checks, TellValidTextFromInvalidAcrossPieces) {
  constexpr std::uint64_t kOk = Decoder::kNone;
  const std::pair<std::string, std::uint64_t> utf8[] = {
      {"", kOk},
      {"plain", kOk},
      {"ñ€😀\xF4\x8F\xBF\xBF", kOk},
      {"\xC0\x80", 0},          // overlong
      {"\xE0\x80\x80", 0},      // overlong
      {"\xED\xA0\x80", 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"\xC3", 0},              // cut short
      {"\xAC", 0},              // a lone continuation byte
      {"1\xAC", 1},             // Windows-1252's "¬"
      {"ma\xEDz\xC2\xAC", 2},   // a character begun, and none follows
  };
  for (const auto& [bytes, first_bad] : utf8) {
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      SCOPED_TRACE(bytes + " split at " + std::to_string(split));
      Utf8Check check;
      Decoder decoder(TextEncoding::kUtf8);
      std::string text;
      for (std::string_view piece :
           {std::string_view(bytes).substr(0, split), std::string_view(bytes).substr(split)}) {
        check.Feed(piece);
        decoder.Feed(piece, text);
      }
      decoder.End(text);
      EXPECT_EQ(check.Valid(), first_bad == kOk);
      EXPECT_EQ(decoder.first_invalid(), first_bad);
      Utf8Check out;
      out.Feed(text);
      EXPECT_TRUE(out.Valid());
      if (first_bad == kOk) {
        EXPECT_EQ(text, bytes);
      }
    }
  }
  const std::pair<std::string, std::uint64_t> utf16le[] = {
      {std::string("a\0", 2), kOk},
      {std::string("\x3D\xD8\x00\xDE", 4), kOk},
      {std::string("\x3D\xD8", 2), 0},     // a high surrogate alone
      {std::string("a\0\x00\xDE", 4), 2},  // a low surrogate alone
      {std::string("\x3D\xD8"
                   "a\0",
                   4),
       0},                       // a high one before another unit
      {std::string("a", 1), 0},  // half a unit
  };
  for (const auto& [bytes, first_bad] : utf16le) {
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      SCOPED_TRACE("split at " + std::to_string(split));
      Utf16Check check(false);
      Decoder decoder(TextEncoding::kUtf16LE);
      std::string text;
      for (std::string_view piece :
           {std::string_view(bytes).substr(0, split), std::string_view(bytes).substr(split)}) {
        check.Feed(piece);
        decoder.Feed(piece, text);
      }
      decoder.End(text);
      EXPECT_EQ(check.Valid(), first_bad == kOk);
      EXPECT_EQ(decoder.first_invalid(), first_bad);
    }
  }
  EXPECT_EQ(Characters("añ€😀"), 4u);
}

}  // namespace
}  // namespace quelvar
