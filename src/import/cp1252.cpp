#include "import/cp1252.h"

#include <cstdint>

namespace quelvar {
namespace {

// Code points for 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::uint16_t kAlto[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

void A_Utf8(std::string_view cp1252, std::string& utf8) {
  utf8.clear();
  std::size_t i = 0;
  while (i < cp1252.size()) {
    // Runs of ASCII, most of every line, are copied whole.
    std::size_t run = i;
    while (run < cp1252.size() && static_cast<unsigned char>(cp1252[run]) < 0x80) ++run;
    utf8.append(cp1252, i, run - i);
    if (run == cp1252.size()) break;
    auto byte = static_cast<unsigned char>(cp1252[run]);
    std::uint16_t cp = byte < 0xA0 ? kAlto[byte - 0x80] : byte;
    char encoded[3];
    std::size_t n;
    if (cp < 0x800) {
      encoded[0] = static_cast<char>(0xC0 | (cp >> 6));
      encoded[1] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 2;
    } else {
      encoded[0] = static_cast<char>(0xE0 | (cp >> 12));
      encoded[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      encoded[2] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 3;
    }
    utf8.append(encoded, n);
    i = run + 1;
  }
}

}  // namespace quelvar
