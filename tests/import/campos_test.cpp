#include "import/campos.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/failure.h"

namespace quelvar {
namespace {

const std::string T(kTerminador);

std::string L(std::string_view text) {
  // Writes "¬" as "|" so the cases below stay readable.
  std::string line;
  for (char c : text) {
    if (c == '|') {
      line += T;
    } else {
      line.push_back(c);
    }
  }
  return line;
}

struct Split {
  std::string codigo, actividad, tasa;
  bool operator==(const Split&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Split& s) {
  return out << "[" << s.codigo << "][" << s.actividad << "][" << s.tasa << "]";
}

// The fields, or nothing when the scan overflows.
std::optional<Split> Scan(const std::string& line) {
  Campos campos;
  try {
    Separar_Campos(line, campos);
  } catch (const Failure& f) {
    EXPECT_EQ(f.kind(), FailureKind::kOverflow);
    return std::nullopt;
  }
  return Split{std::string(campos.codigo), std::string(campos.actividad), std::string(campos.tasa)};
}

TEST(Separar_Campos, SplitsOnTheTerminatorsAsTheScanDoes) {
  struct Case {
    std::string line;
    std::optional<Split> expected;
  };
  const std::vector<Case> cases = {
      {L("011|Cultivo|350|"), Split{"011", "Cultivo", "350"}},
      {L("011|Cultivo|350|sobra|mas"), Split{"011", "Cultivo", "350"}},
      {L("011|Cultivo|350"), std::nullopt},
      {L("011|Cultivo|"), Split{"011", "Cultivo", ""}},
      {L("011|"), Split{"011", "", ""}},
      {L("|"), Split{"", "", ""}},
      {L("||350|"), Split{"", "", "350"}},
      {L(" 011 | Cultivo 'x' |  350 |"), Split{" 011 ", " Cultivo 'x' ", "  350 "}},
      {"", std::nullopt},
      {"sin terminadores", std::nullopt},
      {L("011|Cultivo"), std::nullopt},
      {L("a\nb|c|1|\nd|e|2|"), Split{"a\nb", "c", "1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Scan(c.line), c.expected) << c.line;
}

// Positions count characters: a line of "ñ" reaches the limit as late as one
// of "7", although each "ñ" takes two bytes.
TEST(Separar_Campos, TheThirdTerminatorMustStandAtPosition32766OrEarlier) {
  for (const std::string& character : {std::string("7"), std::string("ñ")}) {
    // Terminators at positions 1, 2 and n.
    auto line_with_third_at = [&](std::size_t n) {
      std::string line = L("||");
      for (std::size_t i = 3; i < n; ++i) line += character;
      return line + T;
    };
    EXPECT_TRUE(Scan(line_with_third_at(32766)).has_value()) << character;
    EXPECT_FALSE(Scan(line_with_third_at(32767)).has_value()) << character;
    EXPECT_FALSE(Scan(line_with_third_at(40000)).has_value()) << character;
  }
  EXPECT_FALSE(Scan(std::string(40000, 'x')).has_value());
  // Fields past the end cost one position each: length plus missing fields.
  EXPECT_TRUE(Scan(std::string(32763, 'x') + T).has_value());       // 32764 + 2
  EXPECT_FALSE(Scan(std::string(32764, 'x') + T).has_value());      // 32765 + 2
  EXPECT_TRUE(Scan(std::string(32763, 'x') + T + T).has_value());   // 32765 + 1
  EXPECT_FALSE(Scan(std::string(32764, 'x') + T + T).has_value());  // 32766 + 1
}

}  // namespace
}  // namespace quelvar
