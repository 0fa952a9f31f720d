#include "import/campos.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "platform/failure.h"
#include "platform/fake_env.h"
#include "startup/form1.h"

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

TEST(Tienecomas, FindsADotAnywhereAndNothingElse) {
  FakeEnv env("/app");
  Form1 form(env);
  for (const char* dotted : {"3.5", ".", "350.", ".350", "1.2.3"}) {
    EXPECT_TRUE(form.Tienecomas(dotted)) << dotted;
  }
  for (const char* plain : {"", "350", "3,5",
                            "3\xB7"
                            "5",
                            "abc"}) {
    EXPECT_FALSE(form.Tienecomas(plain)) << plain;
  }
}

struct RateCase {
  const char* text;
  std::string decimal;
  std::optional<double> rate;  // nothing: not numeric
};

TEST(Rate, NumericTestAndValueAgreeOnEveryForm) {
  const std::vector<RateCase> cases = {
      {"350", ".", 3.5},
      {"5", ".", 0.05},
      {"-350", ".", -3.5},
      {"+350", ".", 3.5},
      {" 350 ", ".", 3.5},
      {"  -5  ", ".", -0.05},
      {"0", ".", 0.0},
      {"1e3", ".", 10.0},
      {"25E-1", ",", 0.025},
      {"1e+2", ".", 1.0},
      {"3,5", ",", 0.035},
      {",5", ",", 0.005},
      {"5,", ",", 0.05},
      {"3,5", ".", std::nullopt},
      {"1,000", ",", 0.01},
      {"1,000,000", ",", std::nullopt},
      {"", ".", std::nullopt},
      {"   ", ".", std::nullopt},
      {"abc", ".", std::nullopt},
      {"35a", ".", std::nullopt},
      {"3 5", ".", std::nullopt},
      {"- 5", ".", std::nullopt},
      {"--5", ".", std::nullopt},
      {"1e", ".", std::nullopt},
      {"e5", ".", std::nullopt},
      {"1e+", ".", std::nullopt},
      {",", ",", std::nullopt},
      {"$5", ".", std::nullopt},
      {"inf", ".", std::nullopt},
      {"nan", ".", std::nullopt},
      {"0x10", ".", std::nullopt},
      {"\t5", ".", std::nullopt},
      {"1e-400", ".", 0.0},
  };
  for (const RateCase& c : cases) {
    NumberFormat format{c.decimal};
    EXPECT_EQ(Es_Numerico(c.text, format), c.rate.has_value()) << c.text;
    if (c.rate) {
      EXPECT_EQ(Valor_Alicuota(c.text, format), *c.rate) << c.text;
    } else {
      try {
        Valor_Alicuota(c.text, format);
        ADD_FAILURE() << c.text << " converted";
      } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), FailureKind::kTypeMismatch) << c.text;
      }
    }
  }
}

TEST(Rate, ValuesBeyondADoubleOverflow) {
  NumberFormat format;
  for (std::string text : {std::string(400, '9'), std::string("1e400"), std::string("-2e308"),
                           std::string("1e99999999999999999999")}) {
    EXPECT_TRUE(Es_Numerico(text, format));
    try {
      Valor_Alicuota(text, format);
      ADD_FAILURE() << text << " converted";
    } catch (const Failure& f) {
      EXPECT_EQ(f.kind(), FailureKind::kOverflow) << text;
    }
  }
  EXPECT_EQ(Valor_Alicuota("1e308", format), 1e306);
}

TEST(Rate, ConversionIsCorrectlyRounded) {
  NumberFormat comma{","};
  EXPECT_EQ(Valor_Alicuota("0,1", comma), 0.1 / 100);
  EXPECT_EQ(Valor_Alicuota("123456789012345678901234567890", comma),
            123456789012345678901234567890.0 / 100);
  EXPECT_EQ(Valor_Alicuota("2,2250738585072014e-306", comma), 2.2250738585072014e-306 / 100);
}

}  // namespace
}  // namespace quelvar
