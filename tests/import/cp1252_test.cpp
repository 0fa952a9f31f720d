#include "import/cp1252.h"

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

TEST(A_Utf8, EveryByteBecomesItsOwnCharacter) {
  std::set<std::uint32_t> seen;
  std::string out;
  for (int byte = 0; byte < 256; ++byte) {
    A_Utf8(std::string(1, static_cast<char>(byte)), out);
    std::uint32_t cp = Decode(out);
    ASSERT_NE(cp, 0xFFFFFFFF) << "byte " << byte;
    EXPECT_TRUE(seen.insert(cp).second) << "byte " << byte << " shares U+" << std::hex << cp;
    if (byte < 0x80 || byte >= 0xA0) {
      EXPECT_EQ(cp, static_cast<std::uint32_t>(byte));
    }
  }
  const std::pair<int, std::uint32_t> known[] = {
      {0x80, 0x20AC}, {0x81, 0x81},   {0x8D, 0x8D},  {0x8F, 0x8F},  {0x90, 0x90},
      {0x9D, 0x9D},   {0x92, 0x2019}, {0x9F, 0x178}, {0x8A, 0x160}, {0x96, 0x2013},
  };
  for (auto [byte, cp] : known) {
    A_Utf8(std::string(1, static_cast<char>(byte)), out);
    EXPECT_EQ(Decode(out), cp) << "byte " << byte;
  }
}

TEST(A_Utf8, AccentedActivitiesComeOutAsUtf8) {
  std::string out = "replaced";
  A_Utf8(
      "Fabricaci\xF3n de az\xFA"
      "car y \xD1"
      "and\xFA \xAC",
      out);
  EXPECT_EQ(out, "Fabricación de azúcar y Ñandú ¬");
  A_Utf8("", out);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace quelvar
