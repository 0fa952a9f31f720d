// The built program, run as a user runs it: from its own folder, beside a
// database made by the project's tool.
#include "startup/programa.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "import/actividades.h"
#include "platform/file_system.h"

namespace quelvar {
namespace {

constexpr char kFin[] = "Quelvar: Ha terminado el proceso de importación.\n";
constexpr char kGenerado[] =
    "Quelvar: Se generó un archivo Act.log en le directorio del archivo de importación \n";
const std::string kUnaLinea = Actividades("1|Uno|100|/");

class ProgramaTest : public ::testing::Test {
 protected:
  Programa p_;
};

TEST_F(ProgramaTest, WithoutADatabaseItSaysSoAndCreatesNothing) {
  WriteFile(p_ / "Actividades.txt", kUnaLinea);
  Outcome o = p_.Run();
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "Quelvar: No es posible conectarse a la base.\n");
  EXPECT_FALSE(Exists(p_ / "Impuest.mdb"));
  EXPECT_FALSE(Exists(p_ / "Act.log"));

  // Under another password, in either format: the same message, and not a
  // word from the engine's failed decryptions.
  for (int formato : {3, 4}) {
    std::filesystem::remove(p_ / "Impuest.mdb");
    CreateDatabase(p_ / "Impuest.mdb", "otra", kSchema, formato);
    o = p_.Run();
    EXPECT_EQ(o.status, 2) << formato;
    EXPECT_EQ(o.out, "Quelvar: No es posible conectarse a la base.\n");
    EXPECT_EQ(o.err, "");
  }
}

TEST_F(ProgramaTest, ImportsAndReports) {
  p_.MakeDatabase();
  const std::string cultivo = Actividades(
      "011|Cultivo de ca\xF1"
      "a de az\xFA"
      "car|");
  WriteFile(p_ / "Actividades.txt",
            cultivo +
                Actividades("350|/012|O'Higgins \"hnos\"|100|/013|'); DROP TABLE nomencla; "
                            "--|5|/014|Con punto|3.5|/015|Letras|abc|/") +
                cultivo + Actividades("1|/"));
  Outcome o = p_.Run();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, std::string(kGenerado) + kFin);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(ReadFile(p_ / "Act.log"),
            Actividades("Registros erroneos :/015|Letras|abc|/") + cultivo +
                Actividades("1|//Total de registros que no insertados  3 /Total de registros "
                            "insertados  3 /Cantidad total de registros:  6 /"));
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"011", "Cultivo de caña de azúcar", 3.5},
                                         {"012", "O'Higgins \"hnos\"", 1},
                                         {"013", "'); DROP TABLE nomencla; --", 0.05}}));
}

TEST_F(ProgramaTest, AMalformedLineEndsWithExitStatus3) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea + Actividades("2|Dos|200|/3|Tres|300/"));
  Outcome o = p_.Run();
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, std::string("Error: Estructura del archivo incorrecta\n") + kFin);
  EXPECT_EQ(ReadFile(p_ / "Act.log"), "Registros erroneos :\r\n");
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"1", "Uno", 1}, {"2", "Dos", 2}}));
}

TEST_F(ProgramaTest, TheRateFollowsTheUsersDecimalSeparator) {
  p_.MakeDatabase();
  const std::string locales = p_ / "locales";
  std::filesystem::create_directory(locales);
  // localedef exits 1 for mere warnings; the compiled locale is what counts.
  Shell("localedef -i es_AR -f UTF-8 " + locales + "/es_AR.UTF-8 >/dev/null 2>&1");
  ASSERT_TRUE(Exists(locales + "/es_AR.UTF-8/LC_NUMERIC"));
  WriteFile(p_ / "Actividades.txt", Actividades("1|Uno|3,5|/"));

  ASSERT_EQ(p_.Run("", {"LOCPATH=" + locales, "LC_ALL=es_AR.UTF-8"}).status, 0);
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"1", "Uno", 0.035}}));

  const std::vector<std::vector<std::string>> others = {
      {"LC_ALL=C"}, {"LC_ALL=xx_YY.UTF-8"}, {"LC_ALL=", "LANG=", "LC_NUMERIC="}};
  for (const auto& locale : others) {
    ASSERT_EQ(p_.Run("", locale).status, 0) << locale[0];
    EXPECT_TRUE(p_.Rows().empty()) << locale[0];
  }
}

TEST_F(ProgramaTest, OnATerminalAProgressLineStandsWhileItImportsAndIsErased) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea + Actividades("2|Dos|x|/"));
  // `script` gives the program a terminal for standard output and error; in
  // a terminal 20 columns wide the line must not wrap.
  for (int columns : {80, 20}) {
    ASSERT_EQ(
        Shell("cd / && env -u DISPLAY -u WAYLAND_DISPLAY LC_ALL=C script -qec 'stty cols " +
              std::to_string(columns) + "; " + (p_ / "quelvar") + "' /dev/null >" + (p_ / "tty")),
        0);
    const std::string tty = ReadFile(p_ / "tty");
    const std::string progress = "\r\033[KImportando";
    const std::size_t drawn = tty.find(progress);
    ASSERT_NE(drawn, std::string::npos) << tty;
    const std::size_t erased = tty.find("\r\033[K", drawn + progress.size());
    EXPECT_LT(erased, tty.find("Quelvar: Se gener")) << tty;
    // Characters, not bytes: the line holds an "í".
    const std::string line = tty.substr(drawn + 4, erased - drawn - 4);
    const auto width = std::count_if(line.begin(), line.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    EXPECT_LT(width, columns) << line;
    if (columns == 80) {
      EXPECT_NE(line.find("rechazadas"), std::string::npos) << line;
    }
  }
}

TEST_F(ProgramaTest, ThroughALinkTheFilesAreThoseBesideTheProgramItself) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea);
  TempFolder elsewhere;
  std::filesystem::create_symlink(p_ / "quelvar", elsewhere / "quelvar");
  ASSERT_EQ(Shell("cd " + elsewhere.path() + " && env -u DISPLAY ./quelvar >/dev/null"), 0);
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
  EXPECT_TRUE(Exists(p_ / "Act.log"));
  EXPECT_FALSE(Exists(elsewhere / "Act.log"));
}

// A folder shared as an office sets one up: a group's, setgid and writable
// by the group, the base made for it; two clerks of the group, each with
// the usual umask, import in turn, and each may replace the report the
// other left. Nothing planted in the folder is followed or blocks a run: a
// link out of it or a pipe as the report, a leftover new file, one planted
// under the old fixed name as a folder or immutable; a folder as the report
// fails the run and the check alike. Without setgid the report takes the
// base's group, or none at all; in a sticky folder another's report cannot
// be replaced, and the run and the check say so.
constexpr gid_t kOficina = 4242;
constexpr gid_t kUsuarios = 4245;  // a clerk's own group, not the office's

TEST_F(ProgramaTest, ClerksTakeTurnsInASharedFolderAndNothingPlantedThereIsFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the program as two other users";
  const std::string folder = p_.folder().path();
  ASSERT_EQ(::chown(folder.c_str(), 0, kOficina), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 02775), 0);
  // A sanitized build reads its leak suppressions where a clerk may not
  // (under the tester's home, on a new machine): the clerks' runs read a copy.
  TempFolder supresiones;
  std::vector<std::string> entorno;
  const std::string_view lsan = std::getenv("LSAN_OPTIONS") ? std::getenv("LSAN_OPTIONS") : "";
  if (lsan.starts_with("suppressions=")) {
    ASSERT_EQ(::chmod(supresiones.path().c_str(), 0755), 0);
    std::filesystem::copy_file(std::string(lsan.substr(13)), supresiones / "lsan.supp");
    entorno.push_back("LSAN_OPTIONS=suppressions=" + (supresiones / "lsan.supp"));
  }
  ASSERT_EQ(Shell(std::string(QUELVAR_CREAR_BASE) + " --compartida " + folder + " >/dev/null"), 0);
  struct stat st {};
  ASSERT_EQ(::stat((p_ / "Impuest.mdb").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_EQ(st.st_gid, kOficina);
  WriteFile(p_ / "Actividades.txt", kUnaLinea + Actividades("2|Dos|x|/"));
  const std::string report = std::string(Actividades("Registros erroneos :/2|")) +
                             Actividades(
                                 "Dos|x|//Total de registros que no insertados  1 /Total de "
                                 "registros insertados  1 /Cantidad total de registros:  2 /");
  auto clerk = [](uid_t uid, bool of_the_office = true) {
    return [uid, of_the_office] {
      const gid_t groups[] = {kOficina};
      if (::setgroups(of_the_office ? 1 : 0, groups) != 0 ||
          ::setresgid(kUsuarios, kUsuarios, kUsuarios) != 0 || ::setresuid(uid, uid, uid) != 0) {
        ::_exit(125);
      }
      ::umask(022);
      ::alarm(20);  // a run that blocks ends killed, not never
    };
  };
  // The new files the folder holds besides those planted.
  auto leftovers = [&](const std::vector<std::string>& planted) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".Act.log.", 0) == 0 &&
          std::find(planted.begin(), planted.end(), name) == planted.end()) {
        found.push_back(name);
      }
    }
    return found;
  };
  auto imports = [&](uid_t uid, mode_t mode = 0660, gid_t group = kOficina,
                     const std::vector<std::string>& planted = {}) {
    const Outcome o = p_.Run("", entorno, clerk(uid, group == kOficina));
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(ReadFile(p_ / "Act.log"), report);
    ASSERT_EQ(::lstat((p_ / "Act.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, mode) << "as the base: the group may replace it";
    EXPECT_EQ(st.st_gid, group);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(leftovers(planted), std::vector<std::string>{}) << "a new file was left";
  };
  // The check and the run meet the same: the run's failure notice.
  auto both_fail = [&](uid_t uid, const std::string& notice) {
    const Outcome check = p_.Run("--comprobar", entorno, clerk(uid));
    EXPECT_EQ(check.status, 1) << check.out;
    EXPECT_NE(check.out.find("  " + notice + "\n"), std::string::npos) << check.out;
    const Outcome o = p_.Run("", entorno, clerk(uid));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, notice + "\n");
    EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
    EXPECT_EQ(leftovers({}), std::vector<std::string>{});
  };
  for (uid_t uid : {4243, 4244, 4243}) imports(uid);

  TempFolder elsewhere;
  const std::string target = elsewhere / "perfil";
  WriteFile(target, "lo de ella\n");
  ASSERT_EQ(::chown(target.c_str(), 4244, 4244), 0);
  std::filesystem::remove(p_ / "Act.log");
  std::filesystem::create_symlink(target, p_ / "Act.log");
  imports(4244);
  EXPECT_EQ(ReadFile(target), "lo de ella\n");

  std::filesystem::remove(p_ / "Act.log");
  ASSERT_EQ(::mkfifo((p_ / "Act.log").c_str(), 0666), 0);
  imports(4243);
  WriteFile(p_ / ".Act.log.nuevo", "de un corte de luz");
  WriteFile(p_ / ".Act.log.k3Zq9w", "de otro corte de luz");
  imports(4244);
  std::filesystem::create_directory(p_ / ".Act.log.nuevo");
  imports(4243, 0660, kOficina, {".Act.log.nuevo"});
  std::filesystem::remove(p_ / ".Act.log.nuevo");
  WriteFile(p_ / ".Act.log.nuevo", "");
  if (Shell("chattr +i '" + (p_ / ".Act.log.nuevo") + "' 2>/dev/null") == 0) {
    imports(4244, 0660, kOficina, {".Act.log.nuevo"});
    Shell("chattr -i '" + (p_ / ".Act.log.nuevo") + "'");
  }
  std::filesystem::remove(p_ / ".Act.log.nuevo");

  // A folder that is not setgid: the report and a new journal take the
  // base's group from a clerk of the office, and no group bits from one who
  // is not.
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  std::filesystem::remove(p_ / "Impuest.mdb-journal");
  imports(4243);
  ASSERT_EQ(::stat((p_ / "Impuest.mdb-journal").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(st.st_gid, kOficina);
  for (const char* base : {"Impuest.mdb", "Impuest.mdb-journal"}) {
    ASSERT_EQ(::chmod((p_ / base).c_str(), 0666), 0);
  }
  imports(4244, 0606, kUsuarios);

  // Another clerk's report in a sticky folder.
  ASSERT_EQ(::chmod(folder.c_str(), 01777), 0);
  both_fail(4243, "Error 70: Permiso denegado: " + (p_ / "Act.log"));
  EXPECT_EQ(ReadFile(p_ / "Act.log"), report);
  ASSERT_EQ(::chmod(folder.c_str(), 02775), 0);
  // A report the system keeps from being replaced.
  if (Shell("chattr +i '" + (p_ / "Act.log") + "' 2>/dev/null") == 0) {
    both_fail(4243, "Error 70: Permiso denegado: " + (p_ / "Act.log"));
    Shell("chattr -i '" + (p_ / "Act.log") + "'");
  }

  std::filesystem::remove(p_ / "Act.log");
  std::filesystem::create_directory(p_ / "Act.log");
  both_fail(4243, "Error 75: Error de acceso a la ruta o el archivo: " + (p_ / "Act.log"));
}

TEST_F(ProgramaTest, ADisplayThatCannotBeOpenedLeavesTheTerminalLines) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea);
  const std::string module =
      std::filesystem::path(QUELVAR_BINARY).parent_path() / "quelvar-dialogos.so";
  if (Exists(module)) std::filesystem::copy_file(module, p_ / "quelvar-dialogos.so");
  Outcome o = p_.Run("", {"DISPLAY=:9999"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, std::string(kGenerado) + kFin);
}

// However it is started, a message line that cannot be written is no reason
// to stop: standard output and error closed, or a pipe nobody reads.
TEST_F(ProgramaTest, MessageLinesThatCannotBeWrittenDoNotStopTheRun) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea);
  const std::function<void()> starts[] = {
      [] {
        ::close(1);
        ::close(2);
      },
      [] {
        int ends[2];
        if (::pipe(ends) != 0) ::_exit(126);
        ::close(ends[0]);
        ::dup2(ends[1], 1);
        ::dup2(ends[1], 2);
      },
  };
  for (const auto& start : starts) {
    std::filesystem::remove(p_ / "Act.log");
    Outcome o = p_.Run("", {}, start);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"1", "Uno", 1}}));
    EXPECT_NE(ReadFile(p_ / "Act.log").find("Cantidad total de registros:  1 "), std::string::npos);
  }
}

// Without the index, a check that read the whole table for every line would
// take hours here; the run stays linear and stores what the index would.
TEST_F(ProgramaTest, ADatabaseWithoutTheIndexLoadsInLinearTime) {
  CreateDatabase(p_ / "Impuest.mdb", kPassword,
                 "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL)");
  ASSERT_EQ(Shell(std::string(QUELVAR_GENERATOR) + " 200000 " + (p_ / "Actividades.txt") + " " +
                  (p_ / "filas.tsv")),
            0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(p_.Run().status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  const std::string filas = ReadFile(p_ / "filas.tsv");
  EXPECT_EQ(p_.Rows().size(),
            static_cast<std::size_t>(std::count(filas.begin(), filas.end(), '\n')));
}

TEST_F(ProgramaTest, ArgumentsNeverStartAnImport) {
  p_.MakeDatabase();
  WriteFile(p_ / "Actividades.txt", kUnaLinea);
  Outcome help = p_.Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Uso: quelvar"), std::string::npos);
  Outcome version = p_.Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quelvar ", 0), 0u);
  EXPECT_NE(version.out.find("motor: SQLCipher 4.14.0 community (SQLite 3.51.3)"),
            std::string::npos)
      << version.out;
  Outcome wrong = p_.Run("Actividades.txt");
  EXPECT_EQ(wrong.status, 64);
  EXPECT_EQ(wrong.out, "");
  EXPECT_NE(wrong.err.find("Uso: quelvar"), std::string::npos);
  EXPECT_EQ(p_.Rows(), Programa::RowsBefore());
  EXPECT_FALSE(Exists(p_ / "Act.log"));
}

TEST_F(ProgramaTest, TheDatabaseToolNeverOverwrites) {
  p_.MakeDatabase();
  std::string tool = std::string(QUELVAR_CREAR_BASE) + " ";
  EXPECT_EQ(Shell(tool + p_.folder().path() + " 2>/dev/null"), 1);
  EXPECT_EQ(p_.Rows(), Programa::RowsBefore());
  EXPECT_EQ(Shell(tool + (p_ / "no-existe") + " 2>/dev/null"), 1);
  // A sticky folder is no folder to share: each clerk could replace only
  // their own report.
  TempFolder sticky;
  std::filesystem::permissions(sticky.path(), std::filesystem::perms::sticky_bit,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(Shell(tool + "--compartida " + sticky.path() + " 2>" + (p_ / "err.txt")), 1);
  EXPECT_NE(ReadFile(p_ / "err.txt").find("bit sticky"), std::string::npos);
  EXPECT_FALSE(Exists(sticky / "Impuest.mdb"));
  for (const auto& entry : std::filesystem::directory_iterator(p_.folder().path())) {
    EXPECT_EQ(entry.path().filename().string().rfind(".Impuest", 0), std::string::npos)
        << "a temporary file was left: " << entry.path();
  }
}

// Debian's sqlcipher shell, another implementation of the file format, is
// the independent party: what it made the program imports, and what the
// program and its tool wrote it reads back.
TEST_F(ProgramaTest, TheSqlcipherShellAndTheProgramReadEachOthersDatabases) {
  const std::string base = p_ / "Impuest.mdb";
  const std::string shell_made = p_ / "shell.mdb";
  ShellSql(shell_made,
           "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);"
           "INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1);");
  ASSERT_EQ(Shell(std::string(QUELVAR_CREAR_BASE) + " " + p_.folder().path() + " >/dev/null"), 0);
  EXPECT_EQ(ShellSql(base, "SELECT type, name FROM sqlite_master ORDER BY name;"),
            "table|nomencla\nindex|nomencla_codigo_actividad\n");
  std::filesystem::rename(shell_made, base);

  WriteFile(p_ / "Actividades.txt", Actividades("1|Ca\xF1"
                                                "a|350|/"));
  ASSERT_EQ(p_.Run().status, 0);
  EXPECT_EQ(ShellSql(base, "PRAGMA integrity_check; SELECT * FROM nomencla;"), "ok\n1|Caña|3.5\n");
}

}  // namespace
}  // namespace quelvar
