// Faults from outside the program: each must end with a clear message and a
// failure status, and leave the table exactly as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "import/actividades.h"
#include "startup/programa.h"

namespace quelvar {
namespace {

using Clock = std::chrono::steady_clock;

class Fallas : public ::testing::Test {
 protected:
  void SetUp() override { p_.MakeDatabase(); }

  // The failure notice on standard error, and nothing else anywhere.
  void ExpectNotice(const Outcome& o, const std::string& start) {
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind(start, 0), 0u) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
  }
  void ExpectTableAsBefore() {
    EXPECT_EQ(IntegrityCheck(p_ / "Impuest.mdb"), "ok");
    EXPECT_EQ(p_.Rows(), Programa::RowsBefore());
  }
  // The program must take a refused write as a failure, not die of SIGXFSZ.
  static std::function<void()> FileSizeLimit(rlim_t bytes) {
    return [bytes] {
      struct rlimit limit {
        bytes, bytes
      };
      ::setrlimit(RLIMIT_FSIZE, &limit);
    };
  }
  // Under AddressSanitizer, what is freed is held a while before it is
  // reused: memory is compared without that.
  const std::vector<std::string> kSinCuarentena = {"ASAN_OPTIONS=quarantine_size_mb=0"};

  void Generate(int lines) {
    ASSERT_EQ(Shell(std::string(QUELVAR_GENERATOR) + " " + std::to_string(lines) + " " +
                    (p_ / "Actividades.txt") + " /dev/null"),
              0);
  }

  Programa p_;
};

TEST_F(Fallas, AnActivityFileThatCannotBeRead) {
  ExpectNotice(p_.Run(), "Error 53: No se encontró el archivo: ");
  ExpectTableAsBefore();
  EXPECT_FALSE(Exists(p_ / "Act.log"));

  std::filesystem::create_directory(p_ / "Actividades.txt");
  ExpectNotice(p_.Run(), "Error 75: ");
  ExpectTableAsBefore();
}

TEST_F(Fallas, AReportFileThatCannotBeCreated) {
  Generate(100);
  std::filesystem::create_directory(p_ / "Act.log");
  ExpectNotice(p_.Run(), "Error 75: ");
  ExpectTableAsBefore();
}

TEST_F(Fallas, TheDiskFillsWhileTheDatabaseIsWritten) {
  // Good lines only, so the small report never reaches the limit.
  std::string lines;
  for (int i = 0; i < 20000; ++i) {
    lines += std::to_string(i) + Actividades("|Actividad n\xFAmero ") + std::to_string(i) +
             Actividades("|150|/");
  }
  WriteFile(p_ / "Actividades.txt", lines);
  const auto size = std::filesystem::file_size(p_ / "Impuest.mdb");
  // SQLite reports a write past the size limit as an I/O error; a full
  // disk proper would read "Disco lleno".
  ExpectNotice(p_.Run("", {}, FileSizeLimit(size + 16 * 1024)),
               "Error 3010: Error de E/S en la base de datos");
  ExpectTableAsBefore();
  EXPECT_EQ(std::filesystem::file_size(p_ / "Impuest.mdb"), size);
}

// Whether the listed lines fill the report's buffer or not, they are written
// out before the commit: a full disk rolls the run back.
TEST_F(Fallas, TheDiskFillsWhileTheReportIsWritten) {
  for (int count : {1000, 20000}) {
    SCOPED_TRACE(count);
    std::string lines;
    for (int i = 0; i < count; ++i) lines += std::to_string(i) + Actividades("|sin tasa|?|/");
    WriteFile(p_ / "Actividades.txt", lines);
    ExpectNotice(p_.Run("", {}, FileSizeLimit(8192)), "Error 61: Disco lleno: ");
    ExpectTableAsBefore();
  }
}

// Memory does not follow the longest line. A line past the scan's limit is
// held only that far; one that is listed is copied whole into the report.
TEST_F(Fallas, LinesFarPastTheScansLimitTakeNoMemory) {
  const std::size_t kJunk = 60 << 20;
  const std::string listed_start = Actividades("1|Uno|abc|");
  // What a check and a run of a short file hold, for comparison.
  WriteFile(p_ / "Actividades.txt", listed_start + "\r\n");
  const long short_check = p_.Run("--comprobar", kSinCuarentena).peak_kib;
  const long short_peak = p_.Run("", kSinCuarentena).peak_kib;
  {
    // Written a piece at a time: a forked child counts what its parent holds.
    std::ofstream file(p_ / "Actividades.txt", std::ios::binary);
    const std::string piece(1 << 20, 'x');
    auto junk = [&] {
      for (std::size_t i = 0; i < kJunk / piece.size(); ++i) file << piece;
    };
    file << listed_start;
    junk();
    file << Actividades("/2|Dos|200|");
    junk();
    file << "\r\n";
    junk();
  }
  const Outcome run = p_.Run("", kSinCuarentena);
  // The check lists the long line twice, in Act.log's lines and its own, a
  // piece at a time. It runs before this process reads the long report,
  // whose memory its fork would count.
  const Outcome o = p_.Run("--comprobar", kSinCuarentena);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_LT(run.peak_kib, short_peak + 8 * 1024) << "a short file takes " << short_peak << " KiB";
  EXPECT_EQ(ReadFile(p_ / "Act.log"),
            "Registros erroneos :\r\n" + listed_start + std::string(kJunk, 'x') + "\r\n");
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"2", "Dos", 2}}));
  EXPECT_EQ(o.status, 3) << o.err;
  EXPECT_LT(o.peak_kib, short_check + 8 * 1024) << "a short file takes " << short_check << " KiB";
  EXPECT_NE(
      o.out.find("  línea 1: la alícuota no es un número (separador decimal: \".\"): 1¬Uno¬abc¬" +
                 std::string(1 << 20, 'x')),
      std::string::npos);
  EXPECT_GT(o.out.size(), 3 * kJunk);
}

// A pipe as the activity file, that nobody writes to yet, keeps this run
// waiting without the base's write lock: another user writes meanwhile. The
// run goes on once the pipe is written, and a check reads a pipe too.
TEST_F(Fallas, APipeNobodyWritesToKeepsOnlyThisRunWaiting) {
  const std::string fifo = p_ / "Actividades.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& args : {std::string(), "--comprobar " + fifo}) {
    SCOPED_TRACE(args);
    const pid_t run = p_.Start(args);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The shell waits for no lock: it fails at once where one is held.
    EXPECT_NO_THROW(ShellSql(p_ / "Impuest.mdb",
                             "BEGIN IMMEDIATE; UPDATE nomencla SET alicuota = alicuota; COMMIT;"));
    std::ofstream(fifo, std::ios::binary) << Actividades("2|Dos|200|/");
    const Outcome o = p_.Wait(run);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
  }
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"2", "Dos", 2}}));
}

// Another user in the sqlcipher shell holding the base, each way it can: a
// write not yet committed, and a read. The wait for either is bounded.
constexpr auto kEspera = std::chrono::seconds(20);
const std::string kLineaDeEspera =
    "Quelvar: Otro usuario está usando la base. Se espera hasta 20 segundos a que la libere.\n";
const std::string kEscritura = "escritura";  // a write not yet committed: a row added
const std::string kLectura = "lectura";

// Nor does a check's memory follow the file much more than the run's: the
// rows it would load and the lines it lists are kept aside on the disk, the
// new table's pages too, and of each line only 16 bytes stay in memory;
// another user reading meanwhile neither waits for it nor keeps its pages
// in memory.
TEST_F(Fallas, ACheckTakesAboutTheMemoryOfTheRun) {
  Generate(200000);
  long check_peak[2];
  for (int reading = 0; reading < 2; ++reading) {
    std::unique_ptr<OtroUsuario> other;
    if (reading) other = std::make_unique<OtroUsuario>(p_ / "Impuest.mdb", kLectura);
    const Outcome check = p_.Run("--comprobar", kSinCuarentena);
    EXPECT_EQ(check.status, 0) << check.err;
    check_peak[reading] = check.peak_kib;
  }
  const Outcome run = p_.Run("", kSinCuarentena);
  for (long peak : check_peak) {
    EXPECT_LT(peak, run.peak_kib + 8 * 1024) << "the run takes " << run.peak_kib << " KiB";
  }
}

std::string TableSeenByTheShell(const Programa& p) {
  return ShellSql(p / "Impuest.mdb", "PRAGMA integrity_check; SELECT * FROM nomencla;");
}

// Held past the wait: the run gives up within the wait and a little, and
// the other user, let go after it, commits; returns what the run said.
Outcome RunWhileHeldPastTheWait(const Programa& p, const std::string& modo) {
  OtroUsuario other(p / "Impuest.mdb", modo);
  const auto start = Clock::now();
  Outcome o = p.Run();
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, kEspera);
  EXPECT_LT(waited, kEspera + std::chrono::seconds(4));
  EXPECT_EQ(other.Release(), 0);
  return o;
}

// A write is found before anything is touched: a failed connection, no
// report, and the other user's work goes through onto the table as it was.
TEST_F(Fallas, AWriteHeldPastTheWaitIsAFailedConnection) {
  Generate(100);
  Outcome o = RunWhileHeldPastTheWait(p_, kEscritura);
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_EQ(o.out, kLineaDeEspera + "Quelvar: No es posible conectarse a la base.\n");
  EXPECT_FALSE(Exists(p_ / "Act.log"));
  EXPECT_EQ(TableSeenByTheShell(p_), "ok\nviejo|fila anterior|1.0\notro|usuario|2.0\n");
}

// A read does not stop the import, only its commit: the failure notice.
TEST_F(Fallas, AReadHeldPastTheWaitFailsTheCommit) {
  Generate(100);
  Outcome o = RunWhileHeldPastTheWait(p_, kLectura);
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_EQ(o.out, kLineaDeEspera);
  EXPECT_EQ(o.err.rfind("Error 3005: La base de datos está bloqueada por otro usuario", 0), 0u)
      << o.err;
  EXPECT_EQ(TableSeenByTheShell(p_), "ok\nviejo|fila anterior|1.0\n");
}

// Brief holds are waited out, and the run ends as if nobody had been there.
TEST_F(Fallas, HoldsOfTwoSecondsAreWaitedOut) {
  Generate(100);
  ASSERT_EQ(p_.Run().status, 0);
  const std::vector<Row> imported = p_.Rows();
  const std::string report = ReadFile(p_ / "Act.log");
  for (const std::string& modo : {kEscritura, kLectura}) {
    SCOPED_TRACE(modo);
    OtroUsuario other(p_ / "Impuest.mdb", modo);
    const pid_t pid = p_.Start();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_EQ(other.Release(), 0);
    Outcome o = p_.Wait(pid);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("Quelvar: Ha terminado el proceso de importación.\n"), std::string::npos)
        << o.out;
    EXPECT_EQ(p_.Rows(), imported);
    EXPECT_EQ(ReadFile(p_ / "Act.log"), report);
    // The write is waited for from the program's start, long enough to be told.
    if (modo == kEscritura) {
      EXPECT_EQ(o.out.rfind(kLineaDeEspera, 0), 0u) << o.out;
    }
  }
}

TEST_F(Fallas, ADamagedDatabaseIsRefusedAndLeftAsItWas) {
  std::string rows;
  for (int i = 0; i < 3000; ++i) {
    rows += "INSERT INTO nomencla VALUES ('" + std::to_string(i) + "', 'fila', 1);";
  }
  RunSql(p_ / "Impuest.mdb", "BEGIN;" + rows + "COMMIT;");
  std::string bytes = ReadFile(p_ / "Impuest.mdb");
  ASSERT_GT(bytes.size(), 64u * 1024);
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 200; ++i) bytes[i] ^= 0x5A;
  WriteFile(p_ / "Impuest.mdb", bytes);
  Generate(100);

  Outcome o = p_.Run();
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_EQ(o.err.rfind("Error 3011: El archivo no es una base de datos, está dañado", 0), 0u)
      << o.err;
  EXPECT_EQ(ReadFile(p_ / "Impuest.mdb"), bytes) << "the damaged file was changed";
}

}  // namespace
}  // namespace quelvar
