// The database engine: SQLCipher, built into the program. The office's files
// are in the SQLCipher 3 format; files made by newer SQLCipher tools with
// their defaults are in the SQLCipher 4 format. Each file is read and
// written in the format it has.
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/commit_watch.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/file_system.h"
#include "platform/sqlcipher_provider.h"

namespace quelvar {

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

// Bounds every statement by the query time-out: the progress handler
// interrupts a statement that runs on past it, and no wait for a lock lasts
// beyond it. The clock is read only once a statement calls a handler, not
// for every statement: the import runs two statements a line, nearly all of
// them too short to call.
class Deadline {
 public:
  void SetSeconds(int seconds) { seconds_ = seconds; }
  int seconds() const { return seconds_; }
  void Arm() { armed_ = false; }
  Clock::time_point At() {
    if (!armed_) {
      at_ = Clock::now() + std::chrono::seconds(seconds_);
      armed_ = true;
    }
    return at_;
  }

  static int OnProgress(void* self) {
    auto* d = static_cast<Deadline*>(self);
    return d->seconds_ > 0 && Clock::now() >= d->At() ? 1 : 0;
  }

 private:
  int seconds_ = 0;
  bool armed_ = false;
  Clock::time_point at_{};
};

// How long another user's lock is waited for, and who is told.
struct LockWait {
  std::chrono::milliseconds bound{5000};
  LockWaitListener* listener = nullptr;
};

// What a connection's statements share.
struct Connection {
  sqlite3* db = nullptr;
  Deadline deadline;
  LockWait lock_wait;
  bool in_transaction = false;  // between BeginTrans and its end
  bool committing = false;      // in CommitTrans
  bool committed = false;       // the last COMMIT took effect
  // The current statement's wait for a lock.
  bool waiting = false;
  bool told = false;  // the listener was told of it
  Clock::time_point wait_start{};

  // The failure of a statement. One that ended the transaction (a rule
  // that rolls it back) says so: nothing since BeginTrans was kept.
  Failure Failed(int rc) {
    Failure failure = EngineFailure(rc, db);
    if (!in_transaction || !sqlite3_get_autocommit(db)) return failure;
    in_transaction = false;
    return Failure(
        failure.kind(), failure.number(),
        failure.description() + "; la transacción se anuló y la tabla queda como estaba");
  }
  [[noreturn]] void Fail(int rc) { throw Failed(rc); }

  void StatementStarts() {
    deadline.Arm();
    waiting = false;
  }
  void StatementEnded() {
    if (!told) return;
    told = false;
    lock_wait.listener->WaitEnded();
  }

  // Inside the transaction the write lock is already held: a lock met then,
  // before the commit, can only be readers' in the way of writing pages out
  // to make room in the cache, and SQLite keeps those pages in memory
  // instead when told not to wait. Elsewhere (the open, the transaction's
  // start, its commit) the lock is waited for, within the lock wait and the
  // query time-out.
  static int OnBusy(void* self, int attempts) {
    auto* c = static_cast<Connection*>(self);
    if (c->in_transaction && !c->committing) return 0;
    const Clock::time_point now = Clock::now();
    if (!c->waiting) {
      c->waiting = true;
      c->wait_start = now;
    }
    Clock::time_point until = c->wait_start + c->lock_wait.bound;
    if (c->deadline.seconds() > 0) until = std::min(until, c->deadline.At());
    if (now >= until) return 0;
    if (c->lock_wait.listener != nullptr) {
      c->told = true;
      c->lock_wait.listener->Waiting(
          std::chrono::duration_cast<std::chrono::milliseconds>(now - c->wait_start));
    }
    const auto nap = std::chrono::milliseconds(1 << std::min(attempts, 6));
    std::this_thread::sleep_for(std::min<Clock::duration>(until - now, nap));
    return 1;
  }
};

// One statement's run on the connection, from its start to its end.
class Running {
 public:
  explicit Running(Connection& c) : c_(c) { c_.StatementStarts(); }
  ~Running() { c_.StatementEnded(); }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  Connection& c_;
};

Refusal::Rule RuleOf(int rc) {
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      return Refusal::Rule::kUniqueKey;
    case SQLITE_CONSTRAINT_NOTNULL:
      return Refusal::Rule::kNotNull;
    case SQLITE_CONSTRAINT_CHECK:
      return Refusal::Rule::kCheck;
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      return Refusal::Rule::kForeignKey;
    case SQLITE_CONSTRAINT_TRIGGER:
      return Refusal::Rule::kTrigger;
    default:
      return Refusal::Rule::kOther;
  }
}

class SqlStatement final : public Statement {
 public:
  SqlStatement(Connection& c, sqlite3_stmt* stmt) : c_(c), stmt_(stmt) {}
  ~SqlStatement() override { sqlite3_finalize(stmt_); }

  void BindText(int index, std::string_view utf8) override {
    Check(
        sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC));
  }
  void BindDouble(int index, double value) override {
    Check(sqlite3_bind_double(stmt_, index, value));
  }
  void BindInteger(int index, std::int64_t value) override {
    Check(sqlite3_bind_int64(stmt_, index, value));
  }
  StepResult Step() override {
    Running running(c_);
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return StepResult::kRow;
    if (rc == SQLITE_DONE) return StepResult::kDone;
    // The error stays on the connection until the statement is reset.
    const bool transaction_lost = c_.in_transaction && sqlite3_get_autocommit(c_.db);
    if ((rc & 0xff) == SQLITE_CONSTRAINT && !transaction_lost) {
      refusal_ = {RuleOf(rc), sqlite3_errmsg(c_.db)};
      sqlite3_reset(stmt_);
      return StepResult::kRefused;
    }
    Failure failure = c_.Failed(rc);
    sqlite3_reset(stmt_);
    throw failure;
  }
  std::optional<std::string_view> ColumnText(int index) override {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
    if (text == nullptr) {
      if (sqlite3_errcode(c_.db) == SQLITE_NOMEM) throw OutOfMemoryFailure();
      return std::nullopt;
    }
    return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)));
  }
  std::optional<double> ColumnDouble(int index) override {
    if (sqlite3_column_type(stmt_, index) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(stmt_, index);
  }
  std::optional<std::int64_t> ColumnInteger(int index) override {
    if (sqlite3_column_type(stmt_, index) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(stmt_, index);
  }
  const Refusal& LastRefusal() const override { return refusal_; }
  std::int64_t RowsChanged() override { return sqlite3_changes64(c_.db); }
  void Reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) c_.Fail(rc);
  }

  Connection& c_;
  sqlite3_stmt* stmt_;
  Refusal refusal_;
};

// The affinity SQLite gives a column of this declared type.
std::string AffinityOf(std::string type) {
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
  if (has("INT")) return "INTEGER";
  if (has("CHAR") || has("CLOB") || has("TEXT")) return "TEXT";
  if (type.empty() || has("BLOB")) return "BLOB";
  if (has("REAL") || has("FLOA") || has("DOUB")) return "REAL";
  return "NUMERIC";
}

class SqlDatabase final : public Database {
 public:
  SqlDatabase(sqlite3* db, const LockWait& lock_wait) {
    c_.db = db;
    c_.lock_wait = lock_wait;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &Connection::OnBusy, &c_);
  }
  ~SqlDatabase() override {
    prepared_.clear();
    sqlite3_close_v2(c_.db);
  }

  void LeaveAsFound() override {
    // Written into the base and rolled back, pages would come back the same
    // but encrypted anew, and the file would not keep its bytes; kept in
    // memory, they would take as much as the run changes.
    const int rc = KeepPagesAside(c_.db);
    if (rc != SQLITE_OK) c_.Fail(rc);
  }

  void Execute(std::string_view sql) override {
    const int rc = TryExecute(sql);
    if (rc != SQLITE_OK) c_.Fail(rc);
  }
  // The engine's result code, for a caller that decides what a failure means.
  int TryExecute(std::string_view sql) {
    std::string text(sql);
    Running running(c_);
    return sqlite3_exec(c_.db, text.c_str(), nullptr, nullptr, nullptr);
  }

  Statement& Prepared(std::string_view sql) override {
    for (auto& [text, statement] : prepared_) {
      if (text == sql) return *statement;
    }
    sqlite3_stmt* stmt = nullptr;
    int rc;
    {
      Running running(c_);  // reading the schema may meet a lock
      rc = sqlite3_prepare_v2(c_.db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    }
    if (rc != SQLITE_OK) c_.Fail(rc);
    prepared_.emplace_back(std::string(sql), std::make_unique<SqlStatement>(c_, stmt));
    return *prepared_.back().second;
  }

  std::int64_t TotalChanges() override { return sqlite3_total_changes64(c_.db); }

  void SetQueryTimeout(std::int16_t seconds) override {
    c_.deadline.SetSeconds(seconds);
    sqlite3_progress_handler(c_.db, seconds > 0 ? 10000 : 0, &Deadline::OnProgress, &c_.deadline);
  }

  void BeginTrans() override {
    Execute("BEGIN IMMEDIATE");
    c_.in_transaction = true;
  }
  void CommitTrans() override {
    int rc;
    {
      CommitWatch watch(c_.db);
      c_.committing = true;
      rc = TryExecute("COMMIT");
      c_.committing = false;
      c_.committed = rc == SQLITE_OK || watch.took_effect();
    }
    if (!c_.committed) c_.Fail(rc);  // rolled back, or still open (another user's lock)
    c_.in_transaction = false;
    if (rc != SQLITE_OK) throw EngineFailure(rc, c_.db);
  }
  bool Committed() const override { return c_.committed; }
  void Rollback() override {
    c_.in_transaction = false;
    if (!sqlite3_get_autocommit(c_.db)) Execute("ROLLBACK");
  }

  bool IndexServes(std::string_view query) override {
    // The plan's lines read "SEARCH <table> USING INDEX ..." for a seek, and
    // "SCAN <table>" (perhaps "USING COVERING INDEX") for reading it all.
    Running running(c_);
    sqlite3_stmt* plan = nullptr;
    const std::string text = "EXPLAIN QUERY PLAN " + std::string(query);
    int rc = sqlite3_prepare_v2(c_.db, text.c_str(), -1, &plan, nullptr);
    if (rc != SQLITE_OK) c_.Fail(rc);
    bool search = false;
    while ((rc = sqlite3_step(plan)) == SQLITE_ROW) {
      const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(plan, 3));
      if (detail != nullptr && std::string_view(detail).rfind("SEARCH ", 0) == 0) search = true;
    }
    sqlite3_finalize(plan);
    if (rc != SQLITE_DONE) c_.Fail(rc);
    return search;
  }

  ColumnComparison DescribeColumn(std::string_view table, std::string_view column) override {
    Running running(c_);
    const char* type = nullptr;
    const char* collation = nullptr;
    int rc = sqlite3_table_column_metadata(c_.db, "main", std::string(table).c_str(),
                                           std::string(column).c_str(), &type, &collation, nullptr,
                                           nullptr, nullptr);
    if (rc != SQLITE_OK) c_.Fail(rc);
    return {AffinityOf(type != nullptr ? type : ""), collation != nullptr ? collation : "BINARY"};
  }

  bool ReadOnly() const { return sqlite3_db_readonly(c_.db, "main") == 1; }
  std::int64_t PageCount() {
    Running running(c_);
    sqlite3_stmt* count = nullptr;
    int rc = sqlite3_prepare_v2(c_.db, "PRAGMA page_count", -1, &count, nullptr);
    if (rc != SQLITE_OK) c_.Fail(rc);
    rc = sqlite3_step(count);
    const std::int64_t pages = rc == SQLITE_ROW ? sqlite3_column_int64(count, 0) : 0;
    sqlite3_finalize(count);
    if (rc != SQLITE_ROW) c_.Fail(rc);
    return pages;
  }
  [[noreturn]] void Fail(int rc) { c_.Fail(rc); }

 private:
  Connection c_;
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

// The two formats a file may have: SQLCipher 3 (the office's, and what the
// database tool makes) and SQLCipher 4 with that version's defaults.
enum class Formato { kSqlCipher3, kSqlCipher4 };

// A connection to `name` keyed with the password of `connect` for `formato`;
// nothing is read yet. Without SQLITE_OPEN_CREATE a missing file fails
// instead of being made. One thread uses the connection: SQLite's own
// locking would only cost.
std::unique_ptr<SqlDatabase> Connect(const std::string& name, int flags, std::string_view connect,
                                     Formato formato, const LockWait& lock_wait) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(EnginePath(name).c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX,
                           WatchingVfsName());
  auto db = std::make_unique<SqlDatabase>(raw, lock_wait);
  if (rc != SQLITE_OK) throw EngineFailure(rc, raw);
  std::string password = PasswordOf(connect);
  if (!password.empty()) {
    rc = sqlite3_key(raw, password.data(), static_cast<int>(password.size()));
    if (rc != SQLITE_OK) throw EngineFailure(rc, raw);
    // Only after the key: before it, the setting is silently ignored.
    if (formato == Formato::kSqlCipher3) db->Execute("PRAGMA cipher_compatibility = 3");
  }
  return db;
}

// Opens `name` in whichever format it has and proves the key by reading the
// schema: a wrong password, a plain file or one that is no database fails.
// A read that fails spends the connection, so the second format gets a new
// one. Another user who is committing holds the file for milliseconds: that
// is waited for, within the lock wait; a file held longer fails the open.
std::unique_ptr<SqlDatabase> OpenInItsFormat(const std::string& name, int flags,
                                             std::string_view connect, const LockWait& lock_wait) {
  // SQLCipher 4's key (256,000 iterations of PBKDF2-HMAC-SHA512 over the
  // file's first 16 bytes, its salt) takes ten times SQLCipher 3's: where
  // the file may be one (whole pages of 4096 bytes), it is derived from the
  // start on the other core, and the SQLCipher 3 attempt adds nothing to it.
  std::optional<KeyInAdvance> v4;
  std::uint64_t size = 0;
  const std::optional<std::string> salt = FileStart(name, 16, size);
  if (salt && salt->size() == 16 && size % 4096 == 0) {
    v4.emplace(kSha512, PasswordOf(connect), *salt, 256000, 32);
  }
  auto db = Connect(name, flags, connect, Formato::kSqlCipher3, lock_wait);
  const int rc = db->TryExecute("SELECT count(*) FROM sqlite_master");
  if (rc == SQLITE_OK) return db;
  if ((rc & 0xff) != SQLITE_NOTADB) db->Fail(rc);
  db = Connect(name, flags, connect, Formato::kSqlCipher4, lock_wait);
  db->Execute("SELECT count(*) FROM sqlite_master");
  return db;
}

class SqlCipherEngine final : public DBEngine {
 public:
  void SetLockWait(std::chrono::milliseconds bound, LockWaitListener* listener) override {
    lock_wait_ = {bound, listener};
  }

  // Shared, read-write or read-only.
  std::unique_ptr<Database> OpenDatabase(const std::string& name, bool, bool read_only,
                                         std::string_view connect) override {
    auto db = OpenInItsFormat(name, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE,
                              connect, lock_wait_);
    if (read_only) return db;
    // SQLite quietly falls back to read-only when the file is not writable;
    // a run that must write is better refused here than at its first write.
    // Likewise a folder that takes no new file, where the journal that
    // every write needs cannot be made.
    if (db->ReadOnly() || !FolderTakesNewFiles(name)) db->Fail(SQLITE_READONLY);
    // SQLite takes an empty file for an empty database; nobody made it one.
    if (db->PageCount() == 0) db->Fail(SQLITE_NOTADB);
    // A commit that stays through a power cut, on Linux and Windows alike:
    // with TRUNCATE, a transaction takes effect when its journal is cut to
    // nothing and that length is synced (FULL), where the default DELETE
    // leaves the deletion in the folder's unsynced entries, from which a
    // power cut can bring the journal back, hot, and roll the commit back.
    // Every SQLite tool takes the empty journal left beside the file for no
    // journal at all.
    db->Execute("PRAGMA journal_mode = TRUNCATE; PRAGMA synchronous = FULL");
    // A run touches index pages all over the file; 16 MiB of cache, for this
    // connection only, keeps most of them from being decrypted again and
    // again, while the program stays small.
    db->Execute("PRAGMA cache_size = -16384");
    return db;
  }

  void CreateDatabase(const std::string& name, std::string_view connect, std::string_view schema,
                      bool shared) override {
    if (FileExists(name)) throw FileFailure(EEXIST, name);
    // Built where nobody else may reach it, its owner and mode set through
    // the new file itself, and only then moved beside the others.
    const std::string aside = CreatePrivateFolder(name);
    const std::string temporary =
        JoinPath(aside, name.substr(name.find_last_of(kPathSeparators) + 1));
    try {
      CreateEmptyFile(temporary, shared ? std::optional(FolderOf(name)) : std::nullopt);
      // SQLite takes the empty file for a new database, in the office's format.
      Connect(temporary, SQLITE_OPEN_READWRITE, connect, Formato::kSqlCipher3, lock_wait_)
          ->Execute(schema);
      if (!MoveWithoutReplacing(temporary, name)) throw FileFailure(EEXIST, name);
    } catch (...) {
      RemoveFile(temporary);
      RemoveFile(temporary + "-journal");
      RemoveFolder(aside);
      throw;
    }
    RemoveFolder(aside);
  }

 private:
  LockWait lock_wait_;
};

}  // namespace

std::unique_ptr<DBEngine> NewSqlCipherEngine() { return std::make_unique<SqlCipherEngine>(); }

std::string EngineVersion() {
  // SQLCipher tells its version through a pragma, on any connection.
  std::string version = "?";
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "PRAGMA cipher_version", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    version = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return "SQLCipher " + version + " (SQLite " + sqlite3_libversion() + ")";
}

}  // namespace quelvar
