// The table's statements and the duplicate check that asks it.
#include "import/tabla.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>

#include "import/alicuota.h"
#include "import/existencia.h"
#include "platform/test_database.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

class Tabla : public ::testing::Test {
 protected:
  // A new database, opened as a run opens it, with the table just emptied.
  void Connect(const std::string& schema = kSchema) {
    existencia_.reset();
    db_.reset();
    std::filesystem::remove(Path(base_));
    CreateDatabase(base_, kPassword, schema);
    db_ = NewSqlCipherEngine()->OpenDatabase(base_, false, false, kConexion);
    existencia_ = std::make_unique<Existencia>(*db_);
  }
  Database& db() { return *db_; }
  bool Existe(std::string_view codigo, std::string_view actividad) {
    return existencia_->Existe(codigo, actividad);
  }
  std::vector<Row> Rows() { return ReadRows(base_); }

  TempFolder folder_;
  std::string base_ = folder_ / "Impuest.mdb";
  std::unique_ptr<Database> db_;
  std::unique_ptr<Existencia> existencia_;
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

// Within a run's transaction, a row that the table's own rules keep out is
// reported as not stored and nothing else changes, whatever conflict clause
// or trigger keeps it out; a rule that ends the transaction is a failure,
// and leaves the table as it was before the run.
TEST_F(Tabla, ARowTheTableKeepsOutIsReportedAndNothingElseChanges) {
  const std::string kTable = "CREATE TABLE nomencla (codigo TEXT ";
  const std::string kRest = ", actividad TEXT, alicuota REAL);";
  const std::string kTrigger =
      "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);"
      "CREATE TRIGGER regla BEFORE INSERT ON nomencla "
      "WHEN NEW.actividad = 'b' BEGIN SELECT RAISE(";
  struct Case {
    std::string schema;
    bool ends_the_transaction;
  };
  const std::vector<Case> cases = {
      {kTable + "UNIQUE" + kRest, false},
      {kTable + "UNIQUE ON CONFLICT ROLLBACK" + kRest, false},
      {kTable + "UNIQUE ON CONFLICT IGNORE" + kRest, false},
      {kTable + "UNIQUE ON CONFLICT REPLACE" + kRest, false},
      {kTable + "UNIQUE ON CONFLICT FAIL" + kRest, false},
      {kTable + "PRIMARY KEY ON CONFLICT REPLACE" + kRest, false},
      {kTable + "CHECK (codigo <> '1' OR actividad <> 'b')" + kRest, false},
      {kTrigger + "IGNORE); END;", false},
      {kTrigger + "ABORT, 'no'); END;", false},
      {kTrigger + "FAIL, 'no'); END;", false},
      {kTrigger + "ROLLBACK, 'no'); END;", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.schema);
    Connect(c.schema);
    RunSql(base_, "INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1)");
    Transaction transaction(db());
    Vaciar_Tabla(db());
    EXPECT_TRUE(Insertar_Registro(db(), "1", "a", 1));
    if (c.ends_the_transaction) {
      EXPECT_THROW(Insertar_Registro(db(), "1", "b", 2), Failure);
      EXPECT_EQ(Rows(), (std::vector<Row>{{"viejo", "fila anterior", 1}}));
      continue;
    }
    EXPECT_FALSE(Insertar_Registro(db(), "1", "b", 2));
    EXPECT_TRUE(Insertar_Registro(db(), "2", "c", 3));
    transaction.Commit();
    EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "a", 1}, {"2", "c", 3}}));
  }
}

// Without an index the pairs are looked up among those inserted in the run,
// and must compare as the table compares them: by its collation and its
// type affinity.
TEST_F(Tabla, ExistenceComparesAsTheTableDoesWithOrWithoutAnIndex) {
  const std::pair<const char*, const char*> asked[] = {
      {"011", "Cultivo"}, {"11", "Cultivo"}, {"011", "Cultivo  "}, {"011", "cultivo"},
      {"aB", "x"},        {"Ab", "X"},       {"012", "Cultivo"}};
  const std::pair<std::string, std::vector<bool>> cases[] = {
      {"codigo TEXT COLLATE NOCASE, actividad TEXT COLLATE RTRIM",
       {true, false, true, false, true, false, false}},
      {"codigo NUMERIC, actividad VARCHAR(20)", {true, true, false, false, false, false, false}},
      {"codigo, actividad", {true, false, false, false, false, false, false}},
  };
  for (const auto& [columns, expected] : cases) {
    for (bool indexed : {true, false}) {
      SCOPED_TRACE(columns + (indexed ? ", indexed" : ", no index"));
      Connect("CREATE TABLE nomencla (" + columns + ", alicuota REAL);" +
              (indexed ? "CREATE INDEX i ON nomencla (codigo, actividad);" : ""));
      EXPECT_EQ(db().IndexServes("select * from nomencla where codigo = ? and actividad = ?"),
                indexed);
      // Told, as the run tells it: a filter kept for a table that does not
      // compare as bytes would answer for it.
      for (auto [codigo, actividad] : {asked[0], std::pair<const char*, const char*>{"Ab", "x"}}) {
        ASSERT_FALSE(Existe(codigo, actividad));
        ASSERT_TRUE(Insertar_Registro(db(), codigo, actividad, 1));
        existencia_->Insertado(codigo, actividad);
      }
      std::vector<bool> answers;
      for (auto [codigo, actividad] : asked) answers.push_back(Existe(codigo, actividad));
      EXPECT_EQ(answers, expected);
    }
  }
}

// Rows the run did not ask about first, a trigger's among them, are found.
TEST_F(Tabla, RowsInsertedWithoutAskingAreFoundToo) {
  Connect(std::string(kSchema) +
          "CREATE TRIGGER otra AFTER INSERT ON nomencla WHEN NEW.codigo = '1' "
          "BEGIN INSERT INTO nomencla VALUES ('2', 'b', 0); END;");
  EXPECT_FALSE(Existe("1", "a"));
  ASSERT_TRUE(Insertar_Registro(db(), "1", "a", 1));
  EXPECT_TRUE(Existe("2", "b"));
  ASSERT_TRUE(Insertar_Registro(db(), "3", "c", 1));
  EXPECT_TRUE(Existe("3", "c"));
}

// Whatever was asked, told or stored before, and in whatever order, every
// answer is the table's: after rows stored and told, pairs announced and
// others asked, then a change the check was not told of as it was.
TEST_F(Tabla, EveryAnswerIsTheTablesWhateverWasToldBefore) {
  const std::function<void()> changes[] = {
      [&] { Insertar_Registro(db(), "20", "b", 1); },  // stored, not told
      [&] { existencia_->Insertado("20", "b"); },      // told, not stored
      [&] {  // stored and told, and a trigger's row besides
        ASSERT_TRUE(Insertar_Registro(db(), "21", "a", 1));
        existencia_->Insertado("21", "a");
      },
  };
  for (const auto& change : changes) {
    Connect(std::string(kSchema) +
            "CREATE TRIGGER otra AFTER INSERT ON nomencla WHEN NEW.codigo = '21' "
            "BEGIN INSERT INTO nomencla VALUES ('20', 'b', 0); END;");
    Statement& cuenta =
        db().Prepared("select count(*) from nomencla where codigo = ? and actividad = ?");
    auto expect_the_tables = [&](const std::string& codigo, const std::string& actividad) {
      ResetOnExit reinicio(cuenta);
      cuenta.BindText(1, codigo);
      cuenta.BindText(2, actividad);
      ASSERT_EQ(cuenta.Step(), StepResult::kRow);
      EXPECT_EQ(Existe(codigo, actividad), *cuenta.ColumnText(0) != "0") << codigo << actividad;
    };
    std::mt19937 random(20261210);
    for (int i = 0; i < 300; ++i) {
      const std::string codigo = std::to_string(random() % 10);
      const std::string actividad = random() % 2 ? "a" : "b";
      if (random() % 2) {
        existencia_->Anticipar(std::to_string(random() % 10), actividad);
        expect_the_tables(codigo, actividad);
      } else if (Insertar_Registro(db(), codigo, actividad, 1)) {
        existencia_->Insertado(codigo, actividad);
      }
    }
    change();
    for (int codigo = 0; codigo < 22; ++codigo) {
      for (const char* actividad : {"a", "b"}) expect_the_tables(std::to_string(codigo), actividad);
    }
  }
}

TEST_F(Tabla, AMissingTableIsAFailureOfEveryStatement) {
  CreateDatabase(base_, kPassword, "CREATE TABLE otra (x)");
  db_ = NewSqlCipherEngine()->OpenDatabase(base_, false, false, kConexion);
  EXPECT_THROW(Vaciar_Tabla(db()), Failure);
  EXPECT_THROW(Existencia{db()}, Failure);
  EXPECT_THROW(Insertar_Registro(db(), "1", "a", 1), Failure);
}

}  // namespace
}  // namespace quelvar
