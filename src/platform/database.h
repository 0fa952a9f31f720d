// The database engine, under the names the program's users know it by:
// an engine opens a database; a database runs statements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quelvar {

enum class StepResult {
  kRow,      // a query stands on a row
  kDone,     // the statement ran to its end
  kRefused,  // the engine refused the row under a key or validation rule
};

// A statement prepared once and run many times with new values.
class Statement {
 public:
  virtual ~Statement() = default;
  // Parameters count from 1. Text is UTF-8, bound exactly as it stands and
  // without a copy: it must outlive the statement's next Step().
  virtual void BindText(int index, std::string_view utf8) = 0;
  virtual void BindDouble(int index, double value) = 0;
  virtual StepResult Step() = 0;
  // Ready to run again, with every parameter unbound.
  virtual void Reset() = 0;
  // Columns of the current row, counted from 0.
  virtual std::string ColumnText(int column) = 0;
  virtual double ColumnDouble(int column) = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  // Runs statements that return no rows.
  virtual void Execute(std::string_view sql) = 0;
  // The statement for `sql`, prepared on first use and kept for the
  // connection's life, so a statement run per line is compiled once.
  virtual Statement& Prepared(std::string_view sql) = 0;
  // Seconds that one statement may take, waiting for other users' locks
  // included, before it fails; 0 means no limit.
  virtual void SetQueryTimeout(std::int16_t seconds) = 0;
  virtual std::int16_t QueryTimeout() const = 0;

  virtual void BeginTrans() = 0;  // takes the write lock at once
  virtual void CommitTrans() = 0;
  virtual void Rollback() = 0;
};

class DBEngine {
 public:
  virtual ~DBEngine() = default;
  // Opens an existing database file; never creates one. `connect` may carry
  // the password as ";pwd=...". The open fails at once when the password is
  // wrong, the file is no database, another user holds it exclusively, or it
  // cannot be opened as `read_only` asks.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive,
                                                 bool read_only, std::string_view connect) = 0;
  // Creates a new database file, encrypted under the password of `connect`,
  // and runs `schema` in it. Never replaces a file: the database is built
  // under a temporary name beside `name` and given that name only if no file
  // has it; otherwise it fails with "file already exists" (58).
  virtual void CreateDatabase(const std::string& name, std::string_view connect,
                              std::string_view schema) = 0;
};

std::unique_ptr<DBEngine> NewSqlCipherEngine();

// The engine's name and version, and SQLite's, for a user reporting a problem.
std::string EngineVersion();

// A transaction that rolls back unless committed, so a failure that unwinds
// past it leaves the database as it was.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) { db_.BeginTrans(); }
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    db_.CommitTrans();
    open_ = false;
  }

 private:
  Database& db_;
  bool open_ = true;
};

}  // namespace quelvar
