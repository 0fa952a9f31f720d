// Real files for tests: temporary folders, encrypted databases made and read
// back directly through SQLCipher, whole files read and written.
#pragma once

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
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

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

// `password` empty makes a plain, unencrypted SQLite file.
void CreateDatabase(const std::string& path, const std::string& password = kPassword,
                    const std::string& schema = kSchema);
void RunSql(const std::string& path, const std::string& sql,
            const std::string& password = kPassword);
std::vector<Row> ReadRows(const std::string& path, const std::string& password = kPassword);

// What PRAGMA integrity_check answers: "ok" for a sound database.
std::string IntegrityCheck(const std::string& path, const std::string& password = kPassword);

// Another user of the same database, on a connection of its own.
class OtherUser {
 public:
  explicit OtherUser(const std::string& path, const std::string& password = kPassword);
  ~OtherUser();
  OtherUser(const OtherUser&) = delete;
  OtherUser& operator=(const OtherUser&) = delete;
  void Run(const std::string& sql);
  std::vector<Row> Rows();

 private:
  ::sqlite3* db_;
};

// Runs `sql` in Debian's sqlcipher shell on the database at `path` (created if
// missing), keyed with the program's password; what the shell printed.
std::string ShellSql(const std::string& path, const std::string& sql);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);

}  // namespace quelvar
