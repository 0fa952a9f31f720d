#include "import/tabla.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>

#include "platform/fake_env.h"
#include "platform/test_database.h"
#include "startup/form1_prueba.h"

namespace quelvar {
namespace {

class Tabla : public ::testing::Test {
 protected:
  void Connect(const std::string& schema = kSchema) {
    CreateDatabase(folder_ / "Impuest.mdb", kPassword, schema);
    ASSERT_TRUE(form_.Conectar_Base());
  }
  Database& db() { return Form1Prueba::BaseDatos(form_); }
  bool Existe(std::string_view codigo, std::string_view actividad) {
    return Form1Prueba::Existe_Registro(form_, codigo, actividad);
  }
  std::vector<Row> Rows() { return ReadRows(folder_ / "Impuest.mdb"); }

  TempFolder folder_;
  FakeEnv env_{folder_.path()};
  Form1 form_{env_};
};

TEST_F(Tabla, VaciarTablaDeletesEveryRow) {
  Connect();
  RunSql(folder_ / "Impuest.mdb",
         "INSERT INTO nomencla VALUES ('1', 'a', 1), ('2', 'b', 2), ('3', 'c', 3)");
  Vaciar_Tabla(db());
  EXPECT_TRUE(Rows().empty());
}

TEST_F(Tabla, ExisteRegistroComparesCodeAndActivityExactly) {
  Connect();
  EXPECT_FALSE(Existe("011", "Cultivo"));
  ASSERT_TRUE(Insertar_Registro(db(), "011", "Cultivo", 3.5));
  EXPECT_TRUE(Existe("011", "Cultivo"));
  EXPECT_TRUE(Existe("011", "Cultivo")) << "asking twice must give the same answer";
  EXPECT_FALSE(Existe("011", "Cría"));
  EXPECT_FALSE(Existe("012", "Cultivo"));
  EXPECT_FALSE(Existe("011 ", "Cultivo"));
  EXPECT_FALSE(Existe("011", " Cultivo"));
  EXPECT_FALSE(Existe("011", "cultivo"));
}

TEST_F(Tabla, ValuesAreStoredExactlyAsTheyStand) {
  Connect();
  const std::vector<Row> rows = {
      {" 011 ", "Cultivo de cereales ", 3.5},  {"O'Higgins", "Venta de 'vinos'", 0.05},
      {"x", "'); DROP TABLE nomencla; --", 1}, {"", "", 0},
      {"ñ", "Fabricación de azúcar", -0.5},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(Insertar_Registro(db(), row.codigo, row.actividad, row.alicuota));
  }
  EXPECT_EQ(Rows(), rows);
  for (const Row& row : rows) EXPECT_TRUE(Existe(row.codigo, row.actividad)) << row;
}

TEST_F(Tabla, TheStoredRateIsTheValueOfItsRendering) {
  Connect();
  const double rate = 0.1 + 0.2;  // 0.30000000000000004 renders as .3
  ASSERT_TRUE(Insertar_Registro(db(), "1", "a", rate));
  ASSERT_TRUE(Insertar_Registro(db(), "2", "b", 1234567890123456789.0));
  std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].alicuota, 0.3);
  EXPECT_EQ(rows[1].alicuota, 1.23456789012346e18);
}

TEST_F(Tabla, EveryStoredRateEqualsItsRenderingReadBack) {
  Connect();
  std::mt19937_64 random(20261209);
  std::vector<double> rates = {0.07, 1e-5, 3e-300, 123456789012345.67, 1e15 - 0.5};
  for (int i = 0; i < 3000; ++i) {
    double mantissa = std::uniform_real_distribution<double>(-10, 10)(random);
    int exponent = std::uniform_int_distribution<int>(-20, 20)(random);
    rates.push_back(i % 3 == 0 ? std::round(mantissa * 1e4) / 100
                               : mantissa * std::pow(10.0, exponent));
  }
  Transaction transaction(db());
  for (std::size_t i = 0; i < rates.size(); ++i) {
    ASSERT_TRUE(Insertar_Registro(db(), std::to_string(i), "a", rates[i]));
  }
  transaction.Commit();
  std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), rates.size());
  for (std::size_t i = 0; i < rates.size(); ++i) {
    const std::string text = Formatear_Alicuota(rates[i]);
    double expected = 0;
    std::from_chars(text.data() + (text[0] == ' '), text.data() + text.size(), expected);
    ASSERT_EQ(rows[i].alicuota, expected) << text;
  }
}

TEST_F(Tabla, ARowRefusedByTheTableIsReportedNotCounted) {
  Connect("CREATE TABLE nomencla (codigo TEXT UNIQUE, actividad TEXT NOT NULL, alicuota REAL)");
  EXPECT_TRUE(Insertar_Registro(db(), "011", "Cultivo", 3.5));
  EXPECT_FALSE(Insertar_Registro(db(), "011", "Otra actividad", 1));
  EXPECT_TRUE(Insertar_Registro(db(), "012", "Otra actividad", 1));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"011", "Cultivo", 3.5}, {"012", "Otra actividad", 1}}));
}

TEST_F(Tabla, AMissingTableIsAFailureOfEveryStatement) {
  Connect("CREATE TABLE otra (x)");
  EXPECT_THROW(Vaciar_Tabla(db()), Failure);
  EXPECT_THROW(Existe("1", "a"), Failure);
  EXPECT_THROW(Insertar_Registro(db(), "1", "a", 1), Failure);
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
