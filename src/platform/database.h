// The database engine, under the names the program's users know it by:
// an engine opens a database; a database runs statements.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quelvar {

enum class StepResult {
  kRow,      // a query stands on a row
  kDone,     // the statement ran to its end
  kRefused,  // the engine refused the row under a key or validation rule
};

// Why the engine refused a row: the kind of rule, and the engine's own
// words (a trigger's RAISE message as it stands).
struct Refusal {
  enum class Rule { kUniqueKey, kNotNull, kCheck, kForeignKey, kTrigger, kOther };
  Rule rule = Rule::kOther;
  std::string message;
};

// A statement prepared once and run many times with new values.
class Statement {
 public:
  virtual ~Statement() = default;
  // Parameters count from 1. Text is UTF-8, bound exactly as it stands and
  // without a copy: it must outlive the statement's next Step().
  virtual void BindText(int index, std::string_view utf8) = 0;
  virtual void BindDouble(int index, double value) = 0;
  virtual void BindInteger(int index, std::int64_t value) = 0;
  // A failure that ends the database's transaction (a rule that rolls it
  // back) is thrown, also when it comes as a refused row: what follows would
  // no longer be part of the transaction.
  virtual StepResult Step() = 0;
  // Once Step() returned kRefused: why.
  virtual const Refusal& LastRefusal() const = 0;
  // On a row: the value of a column (counted from 0) as the engine renders
  // it as text, UTF-8; nothing for NULL. Valid until the next Step() or Reset().
  virtual std::optional<std::string_view> ColumnText(int index) = 0;
  // On a row: the value of a column as a number, as the engine converts it;
  // nothing for NULL.
  virtual std::optional<double> ColumnDouble(int index) = 0;
  virtual std::optional<std::int64_t> ColumnInteger(int index) = 0;
  // The rows the statement's last run inserted, changed or deleted itself;
  // those of triggers do not count.
  virtual std::int64_t RowsChanged() = 0;
  // Ready to run again, with every parameter unbound.
  virtual void Reset() = 0;
};

// Leaves a statement ready to run again, whatever happens to this run of it.
class ResetOnExit {
 public:
  explicit ResetOnExit(Statement& s) : s_(s) {}
  ~ResetOnExit() { s_.Reset(); }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  Statement& s_;
};

// How a column compares values: its type affinity (TEXT, NUMERIC, INTEGER,
// REAL or BLOB) and its collation.
struct ColumnComparison {
  std::string affinity;
  std::string collation;
};

class Database {
 public:
  virtual ~Database() = default;
  // Runs statements that return no rows.
  virtual void Execute(std::string_view sql) = 0;
  // The statement for `sql`, prepared on first use and kept for the
  // connection's life, so a statement run per line is compiled once.
  virtual Statement& Prepared(std::string_view sql) = 0;
  // Rows inserted, changed or deleted on this connection since it opened,
  // by every statement and trigger.
  virtual std::int64_t TotalChanges() = 0;
  // Seconds that one statement may take, waiting for other users' locks
  // included, before it fails; 0 means no limit.
  virtual void SetQueryTimeout(std::int16_t seconds) = 0;

  // Takes the write lock at once; another user's write is waited for at
  // most the engine's lock wait, then fails.
  virtual void BeginTrans() = 0;
  // Ends the transaction keeping its changes, and returns once they are on
  // disk; other users still reading are waited for at most the engine's lock
  // wait. A failure is thrown; Committed() then tells whether the changes
  // took effect all the same (only making them durable failed). One that did
  // not take effect leaves the transaction open, to be rolled back.
  virtual void CommitTrans() = 0;
  // Whether the last CommitTrans took effect.
  virtual bool Committed() const = 0;
  virtual void Rollback() = 0;

  // For a run that must leave the base as it found it, before its
  // transaction: the pages it changes, and its journal, go to temporary
  // files of the engine's own, encrypted as in the base; the base's file and
  // folder are never written, and others go on reading the base meanwhile.
  virtual void LeaveAsFound() = 0;

  // True when the engine answers `query` by searching an index, not by
  // reading the whole table.
  virtual bool IndexServes(std::string_view query) = 0;
  virtual ColumnComparison DescribeColumn(std::string_view table, std::string_view column) = 0;
};

// Told of a wait for another user's lock, to show the user that it waits.
// Called from inside the engine: neither method may throw.
class LockWaitListener {
 public:
  virtual ~LockWaitListener() = default;
  // Called every few tens of milliseconds while one statement waits, with
  // how long it has waited.
  virtual void Waiting(std::chrono::milliseconds waited) = 0;
  // The wait Waiting was told of is over, the lock taken or not.
  virtual void WaitEnded() = 0;
};

class DBEngine {
 public:
  virtual ~DBEngine() = default;
  // How long another user's lock is waited for wherever a database opened
  // after this meets one (the open, BeginTrans, CommitTrans), each time, and
  // who is told while it lasts. Until set, 5 s, told to nobody. A query
  // time-out that comes sooner ends the wait sooner.
  virtual void SetLockWait(std::chrono::milliseconds bound, LockWaitListener* listener) = 0;
  // Opens an existing database file; never creates one. `connect` may carry
  // the password as ";pwd=...". `exclusive` and `read_only` are the open mode
  // as the engine's users know it; the program's own is shared and
  // read-write (false, false), and shared and read-only (false, true) for
  // what only reads it. The open fails when the password is wrong, the file
  // is no database (an empty one included), or, to write, it cannot be
  // written or its folder takes no new files (the engine's journal).
  // Another user's lock (as while that user commits) is waited for up to
  // the lock wait; one held longer fails the open.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive,
                                                 bool read_only, std::string_view connect) = 0;
  // Creates a new database file, encrypted under the password of `connect`,
  // and runs `schema` in it. Never replaces a file: the database is built in
  // a new folder beside `name` that nobody else may enter, and moved to
  // `name` only if no file has that name; otherwise it fails with "file
  // already exists" (58). It is its maker's alone, or, `shared`, its
  // folder's group's too (CreateEmptyFile).
  virtual void CreateDatabase(const std::string& name, std::string_view connect,
                              std::string_view schema, bool shared) = 0;
};

std::unique_ptr<DBEngine> NewSqlCipherEngine();

// The engine's name and version, and SQLite's, for a user reporting a problem.
std::string EngineVersion();

// A transaction that rolls back unless committed, so a failure that unwinds
// past it leaves the database as it was.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) { db_.BeginTrans(); }
  ~Transaction() {
    if (!open_) return;
    try {
      db_.Rollback();
    } catch (...) {
      // The connection goes away with the program; the engine undoes the
      // rest when the database is next opened.
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    db_.CommitTrans();
    open_ = false;
  }
  void Rollback() {
    open_ = false;
    db_.Rollback();
  }

 private:
  Database& db_;
  bool open_ = true;
};

}  // namespace quelvar
