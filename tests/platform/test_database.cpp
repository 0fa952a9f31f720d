#include "platform/test_database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quelvar {
namespace {

sqlite3* Open(const std::string& path, const std::string& password) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    throw std::runtime_error("open " + path);
  }
  if (!password.empty()) sqlite3_key(db, password.data(), static_cast<int>(password.size()));
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "?";
    sqlite3_free(error);
    sqlite3_close(db);
    throw std::runtime_error(sql + ": " + text);
  }
}

}  // namespace

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  // Readable by everyone, for tests that drop privileges.
  ::chmod(pattern.c_str(), 0755);
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << row.codigo << " | " << row.actividad << " | " << row.alicuota << "}";
}

void CreateDatabase(const std::string& path, const std::string& password,
                    const std::string& schema) {
  sqlite3* db = Open(path, password);
  Exec(db, schema);
  sqlite3_close(db);
}

void RunSql(const std::string& path, const std::string& sql, const std::string& password) {
  sqlite3* db = Open(path, password);
  Exec(db, sql);
  sqlite3_close(db);
}

std::vector<Row> ReadRows(const std::string& path, const std::string& password) {
  return OtherUser(path, password).Rows();
}

std::string IntegrityCheck(const std::string& path, const std::string& password) {
  sqlite3* db = Open(path, password);
  sqlite3_stmt* stmt = nullptr;
  std::string answer;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK) {
    answer = sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      if (!answer.empty()) answer += "; ";
      answer += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    if (answer.empty()) answer = sqlite3_errmsg(db);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return answer;
}

OtherUser::OtherUser(const std::string& path, const std::string& password)
    : db_(Open(path, password)) {}

OtherUser::~OtherUser() { sqlite3_close(db_); }

void OtherUser::Run(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + text);
  }
}

std::vector<Row> OtherUser::Rows() {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT codigo, actividad, alicuota FROM nomencla ORDER BY rowid", -1,
                         &stmt, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("read rows: ") + sqlite3_errmsg(db_));
  }
  std::vector<Row> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    auto text = [&](int column) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return std::string(t ? t : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
    };
    rows.push_back({text(0), text(1), sqlite3_column_double(stmt, 2)});
  }
  sqlite3_finalize(stmt);
  return rows;
}

std::string ShellSql(const std::string& path, const std::string& sql) {
  const std::string script = path + ".sql";
  const std::string out = path + ".out";
  WriteFile(script, "PRAGMA key = '" + std::string(kPassword) + "';\n" + sql + "\n");
  const std::string command =
      "sqlcipher -bail '" + path + "' <'" + script + "' >'" + out + "' 2>&1";
  const int status = std::system(command.c_str());
  std::string printed = ReadFile(out);
  std::filesystem::remove(script);
  std::filesystem::remove(out);
  if (status != 0) throw std::runtime_error("sqlcipher: " + printed);
  return printed;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("write " + path);
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace quelvar
