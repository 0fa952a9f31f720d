#include "import/alicuota.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <optional>

#include "platform/failure.h"
#include "platform/fake_env.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

TEST(Tienecomas, FindsADotAnywhereAndNothingElse) {
  FakeEnv env("/app");
  Form1 form(env, env);
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

TEST(Formatear_Alicuota, WritesPlainDecimalWithoutLeadingZero) {
  const std::pair<double, const char*> cases[] = {
      {3.5, " 3.5"},
      {0.035, " .035"},
      {1, " 1"},
      {0, " 0"},
      {-0.0, " 0"},
      {-0.5, "-.5"},
      {0.05, " .05"},
      {0.1 + 0.2, " .3"},
      {100, " 100"},
      {-350, "-350"},
      {0.0001, " .0001"},
      {123456789012345.0, " 123456789012345"},
      {12345678901234.56, " 12345678901234.6"},
      {0.123456789012345678, " .123456789012346"},
      {999999999999999.4, " 999999999999999"},
      {999999999999999.9, " 1E+15"},
      {123456789012345678.0, " 1.23456789012346E+17"},
      {-1.5e300, "-1.5E+300"},
      {1e-7, " 1E-07"},
      {0.00009, " 9E-05"},
      {-2.5e-100, "-2.5E-100"},
  };
  for (auto [rate, text] : cases) {
    const std::string rendered = Formatear_Alicuota(rate);
    EXPECT_EQ(rendered, text) << rate;
    // Read back, the rendering is the rate rounded to 15 digits.
    double back = 0;
    std::size_t skip = rendered[0] == ' ' ? 1 : 0;
    std::from_chars(rendered.data() + skip, rendered.data() + rendered.size(), back);
    EXPECT_NEAR(back, rate, std::abs(rate) * 1e-14) << text;
  }
}

}  // namespace
}  // namespace quelvar
