#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/test_database.h"

namespace quelvar {
namespace {

constexpr char kConnect[] = ";pwd=Rt6081M73";

class Engine : public ::testing::Test {
 protected:
  std::unique_ptr<Database> Open(const std::string& path, std::string_view connect = kConnect) {
    return engine_->OpenDatabase(path, false, false, connect);
  }
  // The failure an open throws; fails the test if it opened.
  Failure OpenFailure(const std::string& path, std::string_view connect = kConnect) {
    try {
      Open(path, connect);
    } catch (const Failure& f) {
      return f;
    }
    ADD_FAILURE() << path << " opened";
    return Failure(FailureKind::kOther, 0, "");
  }

  TempFolder folder_;
  std::string base_ = folder_ / "Impuest.mdb";
  std::unique_ptr<DBEngine> engine_ = NewSqlCipherEngine();
};

TEST_F(Engine, OpensOnlyAnExistingDatabaseWithItsPassword) {
  OpenFailure(base_);
  EXPECT_FALSE(Exists(base_)) << "opening created the file";

  CreateDatabase(base_);
  EXPECT_NE(Open(base_), nullptr);
  OpenFailure(base_, ";pwd=otra");
  OpenFailure(base_, "");
}

TEST_F(Engine, RefusesFilesThatAreNoEncryptedDatabase) {
  CreateDatabase(base_, "");  // plain SQLite
  EXPECT_EQ(OpenFailure(base_).kind(), FailureKind::kOther);

  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  WriteFile(folder_ / "ruido.mdb", noise);
  OpenFailure(folder_ / "ruido.mdb");
}

TEST_F(Engine, ADatabaseHeldExclusivelyElsewhereFailsWithoutWaiting) {
  CreateDatabase(base_);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(base_.c_str(), &other), SQLITE_OK);
  sqlite3_key(other, kPassword, static_cast<int>(sizeof kPassword - 1));
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  OpenFailure(base_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  sqlite3_close(other);
  EXPECT_NE(Open(base_), nullptr);
}

TEST_F(Engine, AFileTheUserMayOnlyReadIsRefused) {
  CreateDatabase(base_);
  ::chmod(base_.c_str(), 0444);
  // Permissions do not bind root: the check runs as an unprivileged user.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      Open(base_);
    } catch (const Failure& f) {
      ::_exit(f.number() == 3000 + SQLITE_READONLY ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened; 2: wrong failure; 3: could not drop root";
}

TEST_F(Engine, QueryTimeoutBoundsTheWaitForAnotherUsersLock) {
  CreateDatabase(base_);
  auto db = Open(base_);
  db->SetQueryTimeout(1);
  EXPECT_EQ(db->QueryTimeout(), 1);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(base_.c_str(), &other), SQLITE_OK);
  sqlite3_key(other, kPassword, static_cast<int>(sizeof kPassword - 1));
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(db->BeginTrans(), Failure);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // Once the other user lets go, the same connection writes.
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  db->BeginTrans();
  db->CommitTrans();
}

TEST_F(Engine, TransactionsRollBackUnlessCommitted) {
  CreateDatabase(base_);
  RunSql(base_, "INSERT INTO nomencla VALUES ('1', 'previa', 1)");
  auto db = Open(base_);
  {
    Transaction t(*db);
    db->Execute("DELETE FROM nomencla");
  }
  EXPECT_EQ(ReadRows(base_).size(), 1u);
  {
    Transaction t(*db);
    db->Execute("DELETE FROM nomencla");
    t.Commit();
  }
  EXPECT_TRUE(ReadRows(base_).empty());
}

TEST_F(Engine, PreparedStatementsAreReusedAndReportRefusedRows) {
  CreateDatabase(base_, kPassword,
                 "CREATE TABLE nomencla (codigo TEXT UNIQUE, actividad TEXT, alicuota REAL)");
  auto db = Open(base_);
  const char* sql = "INSERT INTO nomencla VALUES (?, ?, ?)";
  Statement& insert = db->Prepared(sql);
  EXPECT_EQ(&db->Prepared(sql), &insert);

  insert.BindText(1, "1");
  insert.BindText(2, "uno");
  insert.BindDouble(3, 0.5);
  EXPECT_EQ(insert.Step(), StepResult::kDone);
  insert.Reset();
  insert.BindText(1, "1");
  insert.BindText(2, "otro");
  EXPECT_EQ(insert.Step(), StepResult::kRefused);
  insert.Reset();

  Statement& query = db->Prepared("SELECT actividad, alicuota FROM nomencla");
  ASSERT_EQ(query.Step(), StepResult::kRow);
  EXPECT_EQ(query.ColumnText(0), "uno");
  EXPECT_EQ(query.ColumnDouble(1), 0.5);
  EXPECT_EQ(query.Step(), StepResult::kDone);
  query.Reset();

  EXPECT_THROW(db->Prepared("SELECT * FROM no_existe"), Failure);
  EXPECT_THROW(db->Execute("DELETE FROM no_existe"), Failure);
}

}  // namespace
}  // namespace quelvar
