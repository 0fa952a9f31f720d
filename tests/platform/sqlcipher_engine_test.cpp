#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine_test.h"

namespace quelvar {
namespace {

TEST_F(Engine, OpensOnlyAnExistingDatabaseWithItsPassword) {
  OpenFailure(base_);
  EXPECT_FALSE(Exists(base_)) << "opening created the file";

  CreateDatabase(base_);
  EXPECT_NE(Open(base_), nullptr);
  OpenFailure(base_, ";pwd=otra");
  OpenFailure(base_, "");
}

// Newer SQLCipher tools make SQLCipher 4 files by default: such a file is
// written in its own format, never converted, and each format refuses a
// wrong password without a byte of the file changed.
TEST_F(Engine, EachFileKeepsItsSqlCipherFormat) {
  for (int formato : {3, 4}) {
    SCOPED_TRACE(formato);
    const std::string base = folder_ / ("v" + std::to_string(formato) + ".mdb");
    CreateDatabase(base, kPassword, kSchema, formato);
    Open(base)->Execute("INSERT INTO nomencla VALUES ('1', 'uno', 0.5)");
    EXPECT_EQ(ReadRows(base, kPassword, formato), (std::vector<Row>{{"1", "uno", 0.5}}));
    EXPECT_NE(IntegrityCheck(base, kPassword, formato == 3 ? 4 : 3), "ok")
        << "the file is readable in the other format";

    const std::string bytes = ReadFile(base);
    OpenFailure(base, ";pwd=otra");
    EXPECT_EQ(ReadFile(base), bytes);
  }
}

TEST_F(Engine, RefusesFilesThatAreNoEncryptedDatabase) {
  CreateDatabase(base_, "");  // plain SQLite
  EXPECT_EQ(OpenFailure(base_).kind(), FailureKind::kOther);

  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  WriteFile(folder_ / "ruido.mdb", noise);
  OpenFailure(folder_ / "ruido.mdb");

  WriteFile(folder_ / "vacia.mdb", "");
  OpenFailure(folder_ / "vacia.mdb");
  EXPECT_EQ(ReadFile(folder_ / "vacia.mdb"), "") << "the empty file was written to";
}

// What the engine tells of waits for another user's lock.
struct Listener final : LockWaitListener {
  void Waiting(std::chrono::milliseconds waited) override {
    longest = std::max(longest, waited);
    waiting = true;
  }
  void WaitEnded() override {
    EXPECT_TRUE(waiting) << "an end of a wait never told";
    waiting = false;
    ++ended;
  }
  std::chrono::milliseconds longest{0};
  bool waiting = false;
  int ended = 0;
};

using Clock = std::chrono::steady_clock;

// Another program that commits holds the file for a moment: the open waits
// for it. A file held for good fails the open once the lock wait is over.
// Either way the listener hears of the wait while it lasts, and of its end.
TEST_F(Engine, AnotherUsersLockIsWaitedForOnlyBriefly) {
  CreateDatabase(base_);
  Listener listener;
  engine_->SetLockWait(std::chrono::seconds(2), &listener);
  OtroUsuario committing(base_, "exclusiva", 1000);
  auto start = Clock::now();
  EXPECT_NE(Open(base_), nullptr);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_GE(listener.longest, std::chrono::milliseconds(400));
  EXPECT_EQ(listener.ended, 1);

  EXPECT_EQ(committing.Release(), 0);
  OtroUsuario holding(base_, "exclusiva");
  start = Clock::now();
  OpenFailure(base_);
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(2));
  EXPECT_LT(waited, std::chrono::seconds(4));
  EXPECT_EQ(listener.ended, 2);
  EXPECT_FALSE(listener.waiting);
  EXPECT_EQ(holding.Release(), 0);
  EXPECT_NE(Open(base_), nullptr);
}

// Inside the transaction a reader is not waited for: pages the cache has no
// room for stay in memory instead of going out to the file. Only the commit
// waits for the reader, no longer than the lock wait, however long the query
// time-out; then it fails, and the rollback leaves the table as it was.
TEST_F(Engine, AReaderDelaysOnlyTheCommitAndOnlyForTheLockWait) {
  CreateDatabase(base_);
  RunSql(base_, "INSERT INTO nomencla VALUES ('1', 'previa', 1)");
  engine_->SetLockWait(std::chrono::seconds(1), nullptr);
  auto db = Open(base_);
  db->SetQueryTimeout(9000);
  db->Execute("PRAGMA cache_size = 10");  // pages go out to the file early
  OtroUsuario reader(base_, "lectura");

  db->BeginTrans();
  auto start = Clock::now();
  Statement& insert = db->Prepared("INSERT INTO nomencla VALUES (?, 'fila nueva', 2)");
  std::vector<std::string> codes;
  for (int i = 0; i < 2000; ++i) codes.push_back(std::to_string(i));
  for (const std::string& code : codes) {
    insert.BindText(1, code);
    ASSERT_EQ(insert.Step(), StepResult::kDone);
    insert.Reset();
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "the inserts waited";

  start = Clock::now();
  EXPECT_THROW(db->CommitTrans(), Failure);
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(1));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_FALSE(db->Committed());
  db->Rollback();
  EXPECT_EQ(reader.Release(), 0);
  EXPECT_EQ(ReadRows(base_), (std::vector<Row>{{"1", "previa", 1}}));
}

TEST_F(Engine, QueryTimeoutBoundsTheWaitForAnotherUsersLock) {
  CreateDatabase(base_);
  auto db = Open(base_);
  db->SetQueryTimeout(1);

  OtroUsuario other(base_, "escritura");

  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(db->BeginTrans(), Failure);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // Once the other user lets go, the same connection writes.
  EXPECT_EQ(other.Release(), 0);
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
  EXPECT_EQ(query.Step(), StepResult::kDone);
  query.Reset();
  EXPECT_EQ(ReadRows(base_), (std::vector<Row>{{"1", "uno", 0.5}}));

  EXPECT_THROW(db->Prepared("SELECT * FROM no_existe"), Failure);
  EXPECT_THROW(db->Execute("DELETE FROM no_existe"), Failure);
}

}  // namespace
}  // namespace quelvar
