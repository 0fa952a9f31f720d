// The database engine: SQLite3 Multiple Ciphers, built into the program and
// set up for the SQLCipher version 3 file format, the file encrypted under
// the database password.
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace quelvar {

Transaction::~Transaction() {
  if (!open_) return;
  try {
    db_.Rollback();
  } catch (...) {
    // The connection goes away with the program; SQLite undoes the rest then.
  }
}

namespace {

using Clock = std::chrono::steady_clock;

Failure EngineFailure(int rc, sqlite3* db) {
  const int primary = rc & 0xff;
  if (primary == SQLITE_NOMEM) return OutOfMemoryFailure();
  const char* text;
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      text = "La base de datos está bloqueada por otro usuario";
      break;
    case SQLITE_INTERRUPT:
      text = "Se agotó el tiempo de espera de la consulta";
      break;
    case SQLITE_FULL:
      text = "Disco lleno";
      break;
    case SQLITE_IOERR:
      text = "Error de E/S en la base de datos";
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      text = "El archivo no es una base de datos, está dañado o la contraseña no es válida";
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      text = "La base de datos es de solo lectura";
      break;
    case SQLITE_CANTOPEN:
      text = "No se puede abrir la base de datos";
      break;
    case SQLITE_CONSTRAINT:
      text = "La fila no cumple una regla de la tabla";
      break;
    case SQLITE_ERROR:
      text = "Error en la instrucción SQL";
      break;
    default:
      text = "Error del motor de base de datos";
      break;
  }
  std::string description = text;
  if (db != nullptr) description += std::string(" (") + sqlite3_errmsg(db) + ")";
  return Failure(FailureKind::kOther, 3000 + primary, description);
}

// Bounds every statement by the query time-out: the busy handler stops
// waiting for other users' locks, and the progress handler interrupts a
// statement that runs on, both at the same deadline. The clock is read only
// once a statement calls either handler, not for every statement: the
// import runs two statements a line, nearly all of them too short to call.
class Deadline {
 public:
  void SetSeconds(int seconds) { seconds_ = seconds; }
  int seconds() const { return seconds_; }
  void Arm() { armed_ = false; }

  static int OnBusy(void* self, int attempts) {
    auto* d = static_cast<Deadline*>(self);
    if (d->seconds_ <= 0) return 1;
    auto left = d->At() - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto nap = std::chrono::milliseconds(1 << std::min(attempts, 6));
    std::this_thread::sleep_for(std::min<Clock::duration>(left, nap));
    return 1;
  }
  static int OnProgress(void* self) {
    auto* d = static_cast<Deadline*>(self);
    return d->seconds_ > 0 && Clock::now() >= d->At() ? 1 : 0;
  }

 private:
  Clock::time_point At() {
    if (!armed_) {
      at_ = Clock::now() + std::chrono::seconds(seconds_);
      armed_ = true;
    }
    return at_;
  }

  int seconds_ = 0;
  bool armed_ = false;
  Clock::time_point at_{};
};

class SqlStatement final : public Statement {
 public:
  SqlStatement(sqlite3* db, sqlite3_stmt* stmt, Deadline& deadline)
      : db_(db), stmt_(stmt), deadline_(deadline) {}
  ~SqlStatement() override { sqlite3_finalize(stmt_); }

  void BindText(int index, std::string_view utf8) override {
    Check(
        sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC));
  }
  void BindDouble(int index, double value) override {
    Check(sqlite3_bind_double(stmt_, index, value));
  }
  StepResult Step() override {
    deadline_.Arm();
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return StepResult::kRow;
    if (rc == SQLITE_DONE) return StepResult::kDone;
    // The error stays on the statement until reset; take its text first.
    Failure failure = EngineFailure(rc, db_);
    sqlite3_reset(stmt_);
    if ((rc & 0xff) == SQLITE_CONSTRAINT) return StepResult::kRefused;
    throw failure;
  }
  void Reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string ColumnText(int column) override {
    const auto* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  double ColumnDouble(int column) override { return sqlite3_column_double(stmt_, column); }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) throw EngineFailure(rc, db_);
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  Deadline& deadline_;
};

class SqlDatabase final : public Database {
 public:
  explicit SqlDatabase(sqlite3* db) : db_(db) { sqlite3_extended_result_codes(db_, 1); }
  ~SqlDatabase() override {
    prepared_.clear();
    sqlite3_close_v2(db_);
  }

  void Execute(std::string_view sql) override {
    std::string text(sql);
    deadline_.Arm();
    int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw EngineFailure(rc, db_);
  }

  Statement& Prepared(std::string_view sql) override {
    for (auto& [text, statement] : prepared_) {
      if (text == sql) return *statement;
    }
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) throw EngineFailure(rc, db_);
    prepared_.emplace_back(std::string(sql), std::make_unique<SqlStatement>(db_, stmt, deadline_));
    return *prepared_.back().second;
  }

  void SetQueryTimeout(std::int16_t seconds) override {
    deadline_.SetSeconds(seconds);
    sqlite3_busy_handler(db_, &Deadline::OnBusy, &deadline_);
    sqlite3_progress_handler(db_, seconds > 0 ? 10000 : 0, &Deadline::OnProgress, &deadline_);
  }
  std::int16_t QueryTimeout() const override {
    return static_cast<std::int16_t>(deadline_.seconds());
  }

  bool ReadOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
  Failure Failed(int rc) const { return EngineFailure(rc, db_); }

  void BeginTrans() override { Execute("BEGIN IMMEDIATE"); }
  void CommitTrans() override { Execute("COMMIT"); }
  void Rollback() override {
    if (!sqlite3_get_autocommit(db_)) Execute("ROLLBACK");
  }

 private:
  sqlite3* db_;
  Deadline deadline_;
  std::vector<std::pair<std::string, std::unique_ptr<SqlStatement>>> prepared_;
};

std::string PasswordOf(std::string_view connect) {
  // ";pwd=secret;..." : the value runs to the next ';'.
  std::size_t start = 0;
  while (start <= connect.size()) {
    std::size_t end = connect.find(';', start);
    if (end == std::string_view::npos) end = connect.size();
    std::string_view part = connect.substr(start, end - start);
    if (part.size() >= 4) {
      std::string key(part.substr(0, 4));
      std::transform(key.begin(), key.end(), key.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (key == "pwd=") return std::string(part.substr(4));
    }
    start = end + 1;
  }
  return {};
}

// A connection to `name` with the password of `connect` given; nothing is
// read yet. Without SQLITE_OPEN_CREATE a missing file fails instead of being
// made. One thread uses the connection: SQLite's own locking would only cost.
std::unique_ptr<SqlDatabase> Connect(const std::string& name, int flags, std::string_view connect) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(name.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  auto db = std::make_unique<SqlDatabase>(raw);
  if (rc != SQLITE_OK) throw EngineFailure(rc, raw);
  std::string password = PasswordOf(connect);
  if (!password.empty()) {
    rc = sqlite3_key(raw, password.data(), static_cast<int>(password.size()));
    if (rc != SQLITE_OK) throw EngineFailure(rc, raw);
  }
  return db;
}

class SqlCipherEngine final : public DBEngine {
 public:
  std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive, bool read_only,
                                         std::string_view connect) override {
    auto db = Connect(name, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, connect);
    // SQLite quietly falls back to read-only when the file is not writable;
    // a run that must write is better refused here than at its first write.
    if (!read_only && db->ReadOnly()) throw db->Failed(SQLITE_READONLY);
    if (exclusive) db->Execute("PRAGMA locking_mode = EXCLUSIVE");
    // Reading the schema proves the key now: a wrong password, a plain file or
    // one that is no database fails here. No busy handler is set yet, so a
    // file held exclusively elsewhere fails at once too.
    db->Execute("SELECT count(*) FROM sqlite_master");
    // A run touches index pages all over the file; 16 MiB of cache, for this
    // connection only, keeps most of them from being decrypted again and
    // again, while the program stays small.
    db->Execute("PRAGMA cache_size = -16384");
    return db;
  }

  void CreateDatabase(const std::string& name, std::string_view connect,
                      std::string_view schema) override {
    if (FileExists(name)) throw FileFailure(EEXIST, name);
    const std::string temporary = CreateTemporaryFile(name);
    try {
      // SQLite takes the empty file for a new database.
      Connect(temporary, SQLITE_OPEN_READWRITE, connect)->Execute(schema);
      if (!MoveWithoutReplacing(temporary, name)) throw FileFailure(EEXIST, name);
    } catch (...) {
      RemoveFile(temporary);
      throw;
    }
  }
};

}  // namespace

std::unique_ptr<DBEngine> NewSqlCipherEngine() { return std::make_unique<SqlCipherEngine>(); }

std::string EngineVersion() {
  return std::string(sqlite3mc_version()) + " (SQLite " + sqlite3_libversion() + ")";
}

}  // namespace quelvar
