// The built program, run as a user runs it: from its own folder, beside a
// database made by the project's tool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "platform/test_database.h"

namespace quelvar {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class Programa : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(QUELVAR_BINARY, folder_ / "quelvar");
    previous_ = {{"viejo", "fila anterior", 1}};
  }
  void MakeDatabase() {
    ASSERT_EQ(Shell(std::string(QUELVAR_SOURCE_DIR) + "/tools/crear-base " + folder_.path() +
                    " >/dev/null"),
              0);
    RunSql(folder_ / "Impuest.mdb", "INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1)");
  }
  static int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  Outcome Run(const std::string& args = "", const std::string& locale = "LC_ALL=C") {
    // Started through a path elsewhere: the files are found beside the program.
    int status = Shell("cd / && " + locale + " " + (folder_ / "quelvar") + args + " >" +
                       (folder_ / "out") + " 2>" + (folder_ / "err") + " </dev/null");
    return {status, ReadFile(folder_ / "out"), ReadFile(folder_ / "err")};
  }
  std::vector<Row> Rows() { return ReadRows(folder_ / "Impuest.mdb"); }

  TempFolder folder_;
  std::vector<Row> previous_;
};

constexpr char kFin[] = "Quelvar: Ha terminado el proceso de importación.\n";
constexpr char kGenerado[] =
    "Quelvar: Se generó un archivo Act.log en le directorio del archivo de importación \n";

TEST_F(Programa, WithoutADatabaseItSaysSoAndCreatesNothing) {
  WriteFile(folder_ / "Actividades.txt",
            "1\xAC"
            "a\xAC"
            "1\xAC\r\n");
  Outcome o = Run();
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "Quelvar: No es posible conectarse a la base.\n");
  EXPECT_FALSE(Exists(folder_ / "Impuest.mdb"));
  EXPECT_FALSE(Exists(folder_ / "Act.log"));
}

TEST_F(Programa, ImportsAndReports) {
  MakeDatabase();
  WriteFile(folder_ / "Actividades.txt",
            "011\xAC"
            "Cultivo de ca\xF1"
            "a de az\xFA"
            "car\xAC"
            "350\xAC\r\n"
            "012\xAC"
            "O'Higgins \"hnos\"\xAC"
            "100\xAC\r\n"
            "013\xAC'); DROP TABLE nomencla; --\xAC"
            "5\xAC\r\n"
            "014\xAC"
            "Con punto\xAC"
            "3.5\xAC\r\n"
            "015\xAC"
            "Letras\xAC"
            "abc\xAC\r\n"
            "011\xAC"
            "Cultivo de ca\xF1"
            "a de az\xFA"
            "car\xAC"
            "1\xAC\r\n");
  Outcome o = Run();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, std::string(kGenerado) + kFin);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(ReadFile(folder_ / "Act.log"),
            "Registros erroneos :\r\n"
            "015\xAC"
            "Letras\xAC"
            "abc\xAC\r\n"
            "011\xAC"
            "Cultivo de ca\xF1"
            "a de az\xFA"
            "car\xAC"
            "1\xAC\r\n"
            "\r\n"
            "Total de registros que no insertados  3 \r\n"
            "Total de registros insertados  3 \r\n"
            "Cantidad total de registros:  6 \r\n");
  EXPECT_EQ(Rows(), (std::vector<Row>{{"011", "Cultivo de caña de azúcar", 3.5},
                                      {"012", "O'Higgins \"hnos\"", 1},
                                      {"013", "'); DROP TABLE nomencla; --", 0.05}}));
}

TEST_F(Programa, AMalformedLineEndsWithExitStatus3) {
  MakeDatabase();
  WriteFile(folder_ / "Actividades.txt",
            "1\xAC"
            "Uno\xAC"
            "100\xAC\r\n2\xAC"
            "Dos\xAC"
            "200\xAC\r\n3\xAC"
            "Tres\xAC"
            "300\r\n");
  Outcome o = Run();
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, std::string("Error: Estructura del archivo incorrecta\n") + kFin);
  EXPECT_EQ(ReadFile(folder_ / "Act.log"), "Registros erroneos :\r\n");
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 1}, {"2", "Dos", 2}}));
}

TEST_F(Programa, FailuresEndWithTheNoticeAndLeaveTheTableAsItWas) {
  MakeDatabase();
  // No activity file.
  Outcome o = Run();
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.rfind("Error 53: ", 0), 0u) << o.err;
  EXPECT_EQ(Rows(), previous_);

  // A report file that cannot be created.
  WriteFile(folder_ / "Actividades.txt",
            "1\xAC"
            "Uno\xAC"
            "100\xAC\r\n");
  std::filesystem::create_directory(folder_ / "Act.log");
  o = Run();
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.rfind("Error 75: ", 0), 0u) << o.err;
  EXPECT_EQ(Rows(), previous_);
}

TEST_F(Programa, TheRateFollowsTheUsersDecimalSeparator) {
  MakeDatabase();
  const std::string locales = folder_ / "locales";
  std::filesystem::create_directory(locales);
  // localedef exits 1 for mere warnings; the compiled locale is what counts.
  Shell("localedef -i es_AR -f UTF-8 " + locales + "/es_AR.UTF-8 >/dev/null 2>&1");
  ASSERT_TRUE(Exists(locales + "/es_AR.UTF-8/LC_NUMERIC"));
  WriteFile(folder_ / "Actividades.txt",
            "1\xAC"
            "Uno\xAC"
            "3,5\xAC\r\n");

  ASSERT_EQ(Run("", "LOCPATH=" + locales + " LC_ALL=es_AR.UTF-8").status, 0);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"1", "Uno", 0.035}}));

  for (const char* locale : {"LC_ALL=C", "LC_ALL=xx_YY.UTF-8", "LC_ALL= LANG= LC_NUMERIC="}) {
    ASSERT_EQ(Run("", locale).status, 0) << locale;
    EXPECT_TRUE(Rows().empty()) << locale;
  }
}

TEST_F(Programa, ArgumentsNeverStartAnImport) {
  MakeDatabase();
  WriteFile(folder_ / "Actividades.txt",
            "1\xAC"
            "Uno\xAC"
            "100\xAC\r\n");
  Outcome help = Run(" --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Uso: quelvar"), std::string::npos);
  Outcome version = Run(" --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quelvar ", 0), 0u);
  Outcome wrong = Run(" Actividades.txt");
  EXPECT_EQ(wrong.status, 64);
  EXPECT_EQ(wrong.out, "");
  EXPECT_NE(wrong.err.find("Uso: quelvar"), std::string::npos);
  EXPECT_EQ(Rows(), previous_);
  EXPECT_FALSE(Exists(folder_ / "Act.log"));
}

TEST_F(Programa, TheDatabaseToolNeverOverwrites) {
  MakeDatabase();
  std::string tool = std::string(QUELVAR_SOURCE_DIR) + "/tools/crear-base ";
  EXPECT_EQ(Shell(tool + folder_.path() + " 2>/dev/null"), 1);
  EXPECT_EQ(Rows(), previous_);
  EXPECT_EQ(Shell(tool + (folder_ / "no-existe") + " 2>/dev/null"), 1);
}

}  // namespace
}  // namespace quelvar
