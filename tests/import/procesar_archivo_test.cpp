#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "import/campos.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

using ::testing::ElementsAre;

constexpr char kGenerado[] =
    "caja - Quelvar: Se generó un archivo Act.log en le directorio del archivo de importación ";
constexpr char kTerminado[] = "caja i Quelvar: Ha terminado el proceso de importación.";
constexpr char kEstructura[] = "caja x Error: Estructura del archivo incorrecta";

// "|" stands for the field terminator, "/" for CR LF.
std::string F(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out.push_back(kTerminador);
    } else if (c == '/') {
      out.append("\r\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Totales(int rechazados, int insertados, int total) {
  auto n = [](int v) { return " " + std::to_string(v) + " "; };
  return "\r\nTotal de registros que no insertados " + n(rechazados) +
         "\r\nTotal de registros insertados " + n(insertados) +
         "\r\nCantidad total de registros: " + n(total) + "\r\n";
}

class Importacion : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDatabase(base_);
    RunSql(base_, "INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1)");
  }
  void Run(const std::string& activity_file) {
    env_.files[folder_ / "Actividades.txt"] = activity_file;
    form_.Form_Load();
  }
  std::string Report() { return env_.File("Act.log"); }
  std::vector<Row> Rows() { return ReadRows(base_); }

  TempFolder folder_;
  std::string base_ = folder_ / "Impuest.mdb";
  FakeEnv env_{folder_.path()};
  Form1 form_{env_};
};

TEST_F(Importacion, AnEmptyFileEmptiesTheTable) {
  Run("");
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), "Registros erroneos :\r\n" + Totales(0, 0, 0));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(form_.desenlace(), Desenlace::kImportacionCompleta);
  EXPECT_TRUE(env_.closed[folder_ / "Act.log"]);
}

TEST_F(Importacion, GoodLinesAreInsertedInFileOrder) {
  Run(F("1|Uno|100|/2|Dos|250|/3|Tres|5|/4|Cuatro|-350|/5|Cinco|0|/"));
  EXPECT_EQ(Report(), "Registros erroneos :\r\n" + Totales(0, 5, 5));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1},
                                      {"2", "Dos", 2.5},
                                      {"3", "Tres", 0.05},
                                      {"4", "Cuatro", -3.5},
                                      {"5", "Cinco", 0}}));
}

TEST_F(Importacion, EachKindOfRejectedLineIsCountedAndAllButDottedRatesListed) {
  Run(
      F("011|Cultivo|350|/"               // inserted
        "012|Cría|3.5|/"                  // dotted rate: counted only
        "013|Pesca|abc|/"                 // not numeric: listed
        "011|Cultivo|999|/"               // same code and activity: listed
        "014|Minería|/"                   // empty rate: listed
        " 015 | Blancos | 100 |/"         // blanks kept
        "016|Sobra|200|texto de m\xE1s/"  // trailing text ignored
        "011|Otra actividad|1|"))         // same code, other activity; no final line end
      ;
  EXPECT_EQ(Report(), F("Registros erroneos :/013|Pesca|abc|/011|Cultivo|999|/014|Minería|/") +
                          Totales(4, 4, 8));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"011", "Cultivo", 3.5},
                                      {" 015 ", " Blancos ", 1},
                                      {"016", "Sobra", 2},
                                      {"011", "Otra actividad", 0.01}}));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "puntero normal", kGenerado, kTerminado));
}

TEST_F(Importacion, AMalformedLineStopsTheRunAndKeepsTheRowsBefore) {
  // What the report lists is on disk while the user reads each message.
  std::vector<std::string> reports_seen;
  env_.while_message_shown = [&] { reports_seen.push_back(Report()); };
  Run(F("1|Uno|100|/2|Dos|x|/3|Tres|300/4|Cuatro|400|/"));
  EXPECT_EQ(reports_seen[0], F("Registros erroneos :/2|Dos|x|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
  EXPECT_EQ(Report(), F("Registros erroneos :/2|Dos|x|/"));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
  EXPECT_EQ(form_.desenlace(), Desenlace::kEstructuraIncorrecta);
  EXPECT_TRUE(env_.closed[folder_ / "Act.log"]);
}

TEST_F(Importacion, AFileEndingInTwoLineEndsStopsOnItsEmptyLastLine) {
  Run(F("1|Uno|100|/2|Dos|200|//"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(Importacion, AnOtherFailureInALineIsShownAndTheLineListed) {
  int lookups = 0;
  env_.before_regional_settings = [&] {
    if (++lookups == 2) throw Failure(FailureKind::kOther, 7, "Memoria insuficiente");
  };
  Run(F("1|Uno|100|/2|Dos|200|/3|Tres|300|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "caja x Error: Memoria insuficiente",
                                       "puntero normal", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), F("Registros erroneos :/2|Dos|200|/") + Totales(1, 2, 3));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}, {"3", "Tres", 3}}));
}

TEST_F(Importacion, ATypeMismatchInALineListsItWithoutAMessage) {
  int lookups = 0;
  env_.before_regional_settings = [&] {
    if (++lookups == 1) throw Failure(FailureKind::kTypeMismatch, 13, "No coinciden los tipos");
  };
  Run(F("1|Uno|100|/2|Dos|200|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), F("Registros erroneos :/1|Uno|100|/") + Totales(1, 1, 2));
}

TEST_F(Importacion, ARateBeyondADoubleIsAFileStructureFailure) {
  Run(F("1|Uno|100|/2|Dos|1e999|/3|Tres|300|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
}

TEST_F(Importacion, TheDecimalSeparatorIsTheUsersOne) {
  env_.format.decimal_separator = ",";
  Run(F("1|Uno|3,5|/2|Dos|1,000,5|/"));
  EXPECT_EQ(Report(), F("Registros erroneos :/2|Dos|1,000,5|/") + Totales(1, 1, 2));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 0.035}}));
}

TEST_F(Importacion, AMissingActivityFileFailsAndKeepsTheTable) {
  EXPECT_THROW(form_.Form_Load(), Failure);
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj"));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"viejo", "fila anterior", 1}}));
  EXPECT_EQ(Report(), "<ausente>");
}

TEST(ImportacionSinTabla, AFailingStatementEndsTheRunBeforeAnyFileIsTouched) {
  TempFolder folder;
  CreateDatabase(folder / "Impuest.mdb", kPassword, "CREATE TABLE otra (x)");
  FakeEnv env(folder.path());
  env.files[folder / "Actividades.txt"] = F("1|Uno|100|/");
  Form1 form(env);
  EXPECT_THROW(form.Form_Load(), Failure);
  EXPECT_EQ(env.File("Act.log"), "<ausente>");
}

TEST(ImportacionConClave, ARowTheTableRefusesIsListedAsNotInserted) {
  TempFolder folder;
  CreateDatabase(folder / "Impuest.mdb", kPassword,
                 "CREATE TABLE nomencla (codigo TEXT PRIMARY KEY, actividad TEXT, alicuota REAL)");
  FakeEnv env(folder.path());
  env.files[folder / "Actividades.txt"] = F("1|Uno|100|/1|Otra|200|/2|Dos|300|/");
  Form1 form(env);
  form.Form_Load();
  EXPECT_EQ(env.File("Act.log"), F("Registros erroneos :/1|Otra|200|/") + Totales(1, 2, 3));
  EXPECT_EQ(ReadRows(folder / "Impuest.mdb"), (std::vector<Row>{{"1", "Uno", 1}, {"2", "Dos", 3}}));
}

}  // namespace
}  // namespace quelvar
