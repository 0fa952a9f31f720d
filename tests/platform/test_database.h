// Real files for tests: temporary folders, encrypted databases made and read
// back directly through SQLCipher, whole files read and written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct sqlite3;

namespace quelvar {

inline constexpr char kPassword[] = "Rt6081M73";
inline constexpr char kSchema[] =
    "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);"
    "CREATE INDEX nomencla_codigo_actividad ON nomencla (codigo, actividad);";

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }  // UTF-8
  // A file in the folder, joined with the platform's separator.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

struct Row {
  std::string codigo;
  std::string actividad;
  double alicuota;
  bool operator==(const Row&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Row& row);

// Databases are made and read directly through SQLCipher, in the SQLCipher
// `formato` given: 3, the office's, or 4 with that version's defaults.
// `password` empty makes a plain, unencrypted SQLite file.
void CreateDatabase(const std::string& path, const std::string& password = kPassword,
                    const std::string& schema = kSchema, int formato = 3);
void RunSql(const std::string& path, const std::string& sql,
            const std::string& password = kPassword);
std::vector<Row> ReadRows(const std::string& path, const std::string& password = kPassword,
                          int formato = 3);

// What PRAGMA integrity_check answers: "ok" for a sound database.
std::string IntegrityCheck(const std::string& path, const std::string& password = kPassword,
                           int formato = 3);

// The tests' own reader of a database, on a connection of its own.
class Reader {
 public:
  explicit Reader(const std::string& path, const std::string& password = kPassword,
                  int formato = 3);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  std::vector<Row> Rows();

 private:
  ::sqlite3* db_;
};

// A UTF-8 path as the standard library takes it, on every platform.
std::filesystem::path Path(const std::string& utf8);

// Whole files, by UTF-8 paths.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);

// A helper program of the tests, built beside the running test program.
std::string TestProgram(const std::string& name);

// A program started in the background with these words as its command line;
// waited for at the latest when this goes away.
class Background {
 public:
  explicit Background(const std::vector<std::string>& words);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  int Wait();  // its exit status

 private:
  std::intptr_t process_ = 0;
  bool waited_ = false;
};

// Another user holding a database, in a process of its own (otro_usuario):
// the write lock with a row written ("exclusiva"), a write not yet committed
// ("escritura") or a read ("lectura"), held `milliseconds` or, without, until
// Release(); then it commits. Made once the lock is held.
class OtroUsuario {
 public:
  OtroUsuario(const std::string& base, const std::string& modo,
              std::optional<int> milliseconds = std::nullopt);
  ~OtroUsuario() { Release(); }
  OtroUsuario(const OtroUsuario&) = delete;
  OtroUsuario& operator=(const OtroUsuario&) = delete;
  int Release();  // once it has committed: its exit status

 private:
  std::string mark_;
  std::unique_ptr<Background> process_;
};

}  // namespace quelvar
