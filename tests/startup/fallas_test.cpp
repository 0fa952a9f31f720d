// Faults from outside the program: each must end with a clear message and a
// failure status, and leave the table exactly as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>

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
    lines += std::to_string(i) +
             "\xAC"
             "Actividad n\xFAmero " +
             std::to_string(i) +
             "\xAC"
             "150\xAC\r\n";
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
    for (int i = 0; i < count; ++i)
      lines += std::to_string(i) +
               "\xAC"
               "sin tasa\xAC"
               "?\xAC\r\n";
    WriteFile(p_ / "Actividades.txt", lines);
    ExpectNotice(p_.Run("", {}, FileSizeLimit(8192)), "Error 61: Disco lleno: ");
    ExpectTableAsBefore();
  }
}

// Memory does not follow the longest line. A line past the scan's limit is
// held only that far; one that is listed is copied whole into the report.
TEST_F(Fallas, LinesFarPastTheScansLimitTakeNoMemory) {
  const std::size_t kJunk = 60 << 20;
  const std::string listed_start =
      "1\xAC"
      "Uno\xAC"
      "abc\xAC";
  // What a run of a short file holds, for comparison.
  WriteFile(p_ / "Actividades.txt", listed_start + "\r\n");
  const long short_peak = p_.Run().peak_kib;
  {
    // Written a piece at a time: a forked child counts what its parent holds.
    std::ofstream file(p_ / "Actividades.txt", std::ios::binary);
    const std::string piece(1 << 20, 'x');
    auto junk = [&] {
      for (std::size_t i = 0; i < kJunk / piece.size(); ++i) file << piece;
    };
    file << listed_start;
    junk();
    file << "\r\n2\xAC"
            "Dos\xAC"
            "200\xAC";
    junk();
    file << "\r\n";
    junk();
  }
  Outcome o = p_.Run();
  EXPECT_EQ(o.status, 3) << o.err;
  EXPECT_LT(o.peak_kib, short_peak + 8 * 1024) << "a short file takes " << short_peak << " KiB";
  EXPECT_EQ(ReadFile(p_ / "Act.log"),
            "Registros erroneos :\r\n" + listed_start + std::string(kJunk, 'x') + "\r\n");
  EXPECT_EQ(p_.Rows(), (std::vector<Row>{{"2", "Dos", 2}}));
}

TEST_F(Fallas, AnotherUsersWriteLockIsWaitedForOnlyUntilTheTimeOut) {
  Generate(100);
  Programa short_wait(QUELVAR_BINARY_ESPERA_CORTA);
  std::filesystem::copy_file(p_ / "Impuest.mdb", short_wait / "Impuest.mdb");
  std::filesystem::copy_file(p_ / "Actividades.txt", short_wait / "Actividades.txt");
  OtherUser other(short_wait / "Impuest.mdb");
  other.Run("BEGIN IMMEDIATE; INSERT INTO nomencla VALUES ('otro', 'usuario', 2)");

  auto start = Clock::now();
  Outcome o = short_wait.Run();
  auto waited = Clock::now() - start;
  ExpectNotice(o, "Error 3005: La base de datos está bloqueada por otro usuario");
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::seconds(8));

  // The other user's work is untouched and goes through.
  other.Run("COMMIT");
  EXPECT_EQ(short_wait.Rows(),
            (std::vector<Row>{Programa::RowsBefore()[0], {"otro", "usuario", 2}}));
  EXPECT_FALSE(Exists(short_wait / "Act.log"));
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
