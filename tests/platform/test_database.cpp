#include "platform/test_database.h"

#include <sqlite3.h>

#ifdef _WIN32
#include <process.h>

#include "platform/windows_text.h"
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/file_system.h"

namespace quelvar {
namespace {

sqlite3* Open(const std::string& path, const std::string& password, int formato) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    throw std::runtime_error("open " + path);
  }
  if (!password.empty()) {
    sqlite3_key(db, password.data(), static_cast<int>(password.size()));
    if (formato == 3)
      sqlite3_exec(db, "PRAGMA cipher_compatibility = 3", nullptr, nullptr, nullptr);
  }
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

std::filesystem::path Path(const std::string& utf8) {
#ifdef _WIN32
  return std::filesystem::path(Wide(utf8));
#else
  return std::filesystem::path(utf8);
#endif
}

namespace {

std::string Utf8Path(const std::filesystem::path& path) {
#ifdef _WIN32
  return Utf8(path.wstring());
#else
  return path.string();
#endif
}

}  // namespace

TempFolder::TempFolder() {
  std::mt19937_64 random(std::random_device{}());
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto candidate = base / ("quelvar-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(candidate)) {
      path_ = Utf8Path(candidate);
      break;
    }
  }
  // Readable by everyone, for tests that drop privileges.
  using std::filesystem::perms;
  std::filesystem::permissions(Path(path_), perms::owner_all | perms::group_read |
                                                perms::group_exec | perms::others_read |
                                                perms::others_exec);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(Path(path_), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(Path(path_), ignored);
}

std::string TempFolder::operator/(const std::string& name) const { return JoinPath(path_, name); }

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << row.codigo << " | " << row.actividad << " | " << row.alicuota << "}";
}

void CreateDatabase(const std::string& path, const std::string& password, const std::string& schema,
                    int formato) {
  sqlite3* db = Open(path, password, formato);
  Exec(db, schema);
  sqlite3_close(db);
}

void RunSql(const std::string& path, const std::string& sql, const std::string& password) {
  sqlite3* db = Open(path, password, 3);
  Exec(db, sql);
  sqlite3_close(db);
}

std::vector<Row> ReadRows(const std::string& path, const std::string& password, int formato) {
  return Reader(path, password, formato).Rows();
}

std::string IntegrityCheck(const std::string& path, const std::string& password, int formato) {
  sqlite3* db = Open(path, password, formato);
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

Reader::Reader(const std::string& path, const std::string& password, int formato)
    : db_(Open(path, password, formato)) {}

Reader::~Reader() { sqlite3_close(db_); }

std::vector<Row> Reader::Rows() {
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

std::string ReadFile(const std::string& path) {
  std::ifstream in(Path(path), std::ios::binary);
  if (!in) throw std::runtime_error("read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(Path(path), std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("write " + path);
}

bool Exists(const std::string& path) { return std::filesystem::exists(Path(path)); }

std::string TestProgram(const std::string& name) {
#ifdef _WIN32
  std::wstring self(MAX_PATH, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  return Utf8Path(std::filesystem::path(self).parent_path() / (name + ".exe"));
#else
  return Utf8Path(std::filesystem::read_symlink("/proc/self/exe").parent_path() / name);
#endif
}

Background::Background(const std::vector<std::string>& words) {
#ifdef _WIN32
  // The command line the child sees: words with blanks in quotes.
  std::vector<std::string> quoted;
  for (const std::string& word : words) {
    quoted.push_back(word.find(' ') == std::string::npos ? word : "\"" + word + "\"");
  }
  std::vector<const char*> argv;
  for (const std::string& word : quoted) argv.push_back(word.c_str());
  argv.push_back(nullptr);
  process_ = ::_spawnv(_P_NOWAIT, words[0].c_str(), argv.data());
  if (process_ == -1) throw std::runtime_error("start " + words[0]);
#else
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("start " + words[0]);
  }
  process_ = pid;
#endif
}

Background::~Background() {
  if (!waited_) Wait();
}

int Background::Wait() {
  waited_ = true;
  int status = 0;
#ifdef _WIN32
  ::_cwait(&status, process_, _WAIT_CHILD);
  return status;
#else
  ::waitpid(static_cast<pid_t>(process_), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

OtroUsuario::OtroUsuario(const std::string& base, const std::string& modo,
                         std::optional<int> milliseconds)
    : mark_(base + ".retenida") {
  // An earlier holder's marks would say this one holds, or lets go, at once.
  std::filesystem::remove(Path(mark_));
  std::filesystem::remove(Path(mark_ + ".soltar"));
  process_ = std::make_unique<Background>(
      std::vector<std::string>{TestProgram("otro_usuario"), base, mark_,
                               milliseconds ? std::to_string(*milliseconds) : "soltar", modo});
  for (int i = 0; i < 1000 && !Exists(mark_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Exists(mark_)) throw std::runtime_error("the other user never took the lock: " + modo);
}

int OtroUsuario::Release() {
  if (!process_) return 0;
  WriteFile(mark_ + ".soltar", "");
  const int status = process_->Wait();
  process_.reset();
  return status;
}

}  // namespace quelvar
