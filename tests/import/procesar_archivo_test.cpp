#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "import/actividades.h"
#include "import/campos.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"
#include "platform/text_encoding.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

using ::testing::ElementsAre;

constexpr char kGenerado[] =
    "caja - Quelvar: Se generó un archivo Act.log en le directorio del archivo de importación ";
constexpr char kTerminado[] = "caja i Quelvar: Ha terminado el proceso de importación.";
constexpr char kEstructura[] = "caja x Error: Estructura del archivo incorrecta";

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
  Form1 form_{env_, env_};
};

TEST_F(Importacion, AnEmptyFileEmptiesTheTable) {
  Run("");
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), "Registros erroneos :\r\n" + Totales(0, 0, 0));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(form_.Resultado(), Estado::kImportacionCompleta);
  EXPECT_TRUE(env_.closed[folder_ / "Act.log"]);
}

TEST_F(Importacion, GoodLinesAreInsertedInFileOrder) {
  Run(Actividades("1|Uno|100|/2|Dos|250|/3|Tres|5|/4|Cuatro|-350|/5|Cinco|0|/"));
  EXPECT_EQ(Report(), "Registros erroneos :\r\n" + Totales(0, 5, 5));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1},
                                      {"2", "Dos", 2.5},
                                      {"3", "Tres", 0.05},
                                      {"4", "Cuatro", -3.5},
                                      {"5", "Cinco", 0}}));
}

TEST_F(Importacion, EachKindOfRejectedLineIsCountedAndAllButDottedRatesListed) {
  Run(
      Actividades("011|Cultivo|350|/"               // inserted
                  "012|Cría|3.5|/"                  // dotted rate: counted only
                  "013|Pesca|abc|/"                 // not numeric: listed
                  "011|Cultivo|999|/"               // same code and activity: listed
                  "014|Minería|/"                   // empty rate: listed
                  " 015 | Blancos | 100 |/"         // blanks kept
                  "016|Sobra|200|texto de m\xE1s/"  // trailing text ignored
                  "011|Otra actividad|1|"))         // same code, other activity; no final line end
      ;
  EXPECT_EQ(Report(),
            Actividades("Registros erroneos :/013|Pesca|abc|/011|Cultivo|999|/014|Minería|/") +
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
  Run(Actividades("1|Uno|100|/2|Dos|x|/3|Tres|300/4|Cuatro|400|/"));
  EXPECT_EQ(reports_seen[0], Actividades("Registros erroneos :/2|Dos|x|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
  EXPECT_EQ(Report(), Actividades("Registros erroneos :/2|Dos|x|/"));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
  EXPECT_EQ(form_.Resultado(), Estado::kEstructuraIncorrecta);
  EXPECT_TRUE(env_.closed[folder_ / "Act.log"]);
}

TEST_F(Importacion, AFileEndingInTwoLineEndsStopsOnItsEmptyLastLine) {
  for (const std::string& file :
       {Actividades("1|Uno|100|/2|Dos|200|//"), std::string("1¬Uno¬100¬\n2¬Dos¬200¬\n\n")}) {
    env_.events.clear();
    Run(file);
    EXPECT_THAT(env_.events,
                ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
    EXPECT_EQ(Rows().size(), 2u);
  }
}

// While the user reads of the failure, the report of the run before still
// describes the table, and is the one in place.
TEST_F(Importacion, AnOtherFailureInALineIsShownAndTheLineListed) {
  int lookups = 0;
  env_.before_regional_settings = [&] {
    if (++lookups == 2) throw Failure(FailureKind::kOther, 7, "Memoria insuficiente");
  };
  env_.files[folder_ / "Act.log"] = "de antes\r\n";
  std::vector<std::string> reports_seen;
  env_.while_message_shown = [&] { reports_seen.push_back(Report()); };
  Run(Actividades("1|Uno|100|/2|Dos|200|/3|Tres|300|/"));
  EXPECT_EQ(reports_seen[0], "de antes\r\n");
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "caja x Error: Memoria insuficiente",
                                       "puntero normal", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), Actividades("Registros erroneos :/2|Dos|200|/") + Totales(1, 2, 3));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}, {"3", "Tres", 3}}));
}

TEST_F(Importacion, ATypeMismatchInALineListsItWithoutAMessage) {
  int lookups = 0;
  env_.before_regional_settings = [&] {
    if (++lookups == 1) throw Failure(FailureKind::kTypeMismatch, 13, "No coinciden los tipos");
  };
  Run(Actividades("1|Uno|100|/2|Dos|200|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", "puntero normal", kGenerado, kTerminado));
  EXPECT_EQ(Report(), Actividades("Registros erroneos :/1|Uno|100|/") + Totales(1, 1, 2));
}

TEST_F(Importacion, ARateBeyondADoubleIsAFileStructureFailure) {
  Run(Actividades("1|Uno|100|/2|Dos|1e999|/3|Tres|300|/"));
  EXPECT_THAT(env_.events, ElementsAre("puntero reloj", kEstructura, "puntero normal", kTerminado));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
}

TEST_F(Importacion, TheDecimalSeparatorIsTheUsersOne) {
  env_.format.decimal_separator = ",";
  Run(Actividades("1|Uno|3,5|/2|Dos|1,000,5|/"));
  EXPECT_EQ(Report(), Actividades("Registros erroneos :/2|Dos|1,000,5|/") + Totales(1, 1, 2));
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 0.035}}));
}

// A separator is a character: U+066B, two bytes in UTF-8, is found in a UTF-8
// file, and never in a Windows-1252 one, whose bytes D9 AB are "Ù«".
TEST_F(Importacion, ASeparatorOfSeveralBytesIsComparedAsACharacter) {
  env_.format.decimal_separator = "\xD9\xAB";
  Run(
      Actividades("1|Uno|3\xD9\xAB"
                  "5|/"));
  EXPECT_EQ(Report(), Actividades("Registros erroneos :/1|Uno|3\xD9\xAB"
                                  "5|/") +
                          Totales(1, 0, 1));
  Run("1¬Uno¬3\xD9\xAB"
      "5¬\r\n");
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 0.035}}));
}

// The same activities as today's editors save them. Each file gives the same
// rows, and a report in its own encoding, after its own mark.
TEST_F(Importacion, TheSameActivitiesInEveryEncodingGiveTheSameRows) {
  env_.format.decimal_separator = ",";
  const std::vector<std::string> lines = {"011¬Caña de azúcar¬350¬", "012¬Cría «bovina»¬3,5¬",
                                          "013¬Pesca¬abc¬", "014¬Minería¬3.5¬",
                                          "011¬Caña de azúcar¬1¬ sobra"};
  const std::string report_text =
      "Registros erroneos :\r\n013¬Pesca¬abc¬\r\n011¬Caña de azúcar¬1¬ sobra\r\n\r\n"
      "Total de registros que no insertados  3 \r\nTotal de registros insertados  2 \r\n"
      "Cantidad total de registros:  5 \r\n";
  struct Form {
    const char* name;
    TextEncoding encoding;
    bool mark;
    std::string line_end;
  };
  const Form forms[] = {
      {"windows-1252, crlf", TextEncoding::kWindows1252, false, "\r\n"},
      {"utf-8, lf", TextEncoding::kUtf8, false, "\n"},
      {"utf-8, crlf", TextEncoding::kUtf8, false, "\r\n"},
      {"utf-8 with its mark, lf", TextEncoding::kUtf8, true, "\n"},
      {"utf-8 with its mark, crlf", TextEncoding::kUtf8, true, "\r\n"},
      {"utf-16 le, crlf", TextEncoding::kUtf16LE, true, "\r\n"},
      {"utf-16 be, lf", TextEncoding::kUtf16BE, true, "\n"},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::string text = form.mark ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : lines) text += line + form.line_end;
    std::string file;
    AppendEncoded(form.encoding, text, file);
    Run(file);
    EXPECT_EQ(Rows(),
              (std::vector<Row>{{"011", "Caña de azúcar", 3.5}, {"012", "Cría «bovina»", 0.035}}));
    std::string report;
    AppendEncoded(form.encoding, (form.mark ? "\xEF\xBB\xBF" : "") + report_text, report);
    EXPECT_EQ(Report(), report);
  }
}

// A line whose bytes are no text in the file's encoding (a byte pasted from
// another file, a lone surrogate) is listed exactly as read and counted; the
// lines around it load.
TEST_F(Importacion, ALineThatIsNoTextInItsEncodingIsListedAndTheOthersLoad) {
  const std::string utf8 = "1¬Uno¬100¬\r\n2¬Dos¬200¬\r\n3¬Ma\xEDz¬300¬\r\n4¬Cuatro¬400¬\r\n";
  std::string utf16 = "\xFF\xFE";
  AppendEncoded(TextEncoding::kUtf16LE, "1¬Uno¬100¬\r\n2¬Dos¬200¬\r\n", utf16);
  const std::string surrogate("3\0\xAC\0\x3D\xD8\xAC\0", 8);
  utf16 += surrogate;
  AppendEncoded(TextEncoding::kUtf16LE, "\r\n4¬Cuatro¬400¬\r\n", utf16);
  const std::pair<std::string, std::string> files[] = {
      {"\xEF\xBB\xBF" + utf8,
       "\xEF\xBB\xBF"
       "Registros erroneos :\r\n3¬Ma\xEDz¬300¬\r\n"},
      {utf8, "Registros erroneos :\r\n3¬Ma\xEDz¬300¬\r\n"},
      {utf16,
       [&] {
         std::string report = "\xFF\xFE";
         AppendEncoded(TextEncoding::kUtf16LE, "Registros erroneos :\r\n", report);
         AppendEncoded(TextEncoding::kUtf16LE, "\r\n", report.append(surrogate));
         return report;
       }()},
  };
  for (const auto& [file, listed] : files) {
    Run(file);
    EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}, {"2", "Dos", 2}, {"4", "Cuatro", 4}}));
    std::string totals;
    AppendEncoded(file[0] == '\xFF' ? TextEncoding::kUtf16LE : TextEncoding::kUtf8,
                  Totales(1, 3, 4), totals);
    EXPECT_EQ(Report(), listed + totals);
  }
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
  env.files[folder / "Actividades.txt"] = Actividades("1|Uno|100|/");
  Form1 form(env, env);
  EXPECT_THROW(form.Form_Load(), Failure);
  EXPECT_EQ(env.File("Act.log"), "<ausente>");
}

TEST(ImportacionConClave, ARowTheTableRefusesIsListedAsNotInserted) {
  TempFolder folder;
  CreateDatabase(folder / "Impuest.mdb", kPassword,
                 "CREATE TABLE nomencla (codigo TEXT PRIMARY KEY, actividad TEXT, alicuota REAL)");
  FakeEnv env(folder.path());
  env.files[folder / "Actividades.txt"] = Actividades("1|Uno|100|/1|Otra|200|/2|Dos|300|/");
  Form1 form(env, env);
  form.Form_Load();
  EXPECT_EQ(env.File("Act.log"),
            Actividades("Registros erroneos :/1|Otra|200|/") + Totales(1, 2, 3));
  EXPECT_EQ(ReadRows(folder / "Impuest.mdb"), (std::vector<Row>{{"1", "Uno", 1}, {"2", "Dos", 3}}));
}

}  // namespace
}  // namespace quelvar
