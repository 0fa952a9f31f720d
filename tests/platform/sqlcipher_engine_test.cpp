#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

// Another program that commits holds the file for a moment: the open waits
// for it. A file held for good fails the open within a few seconds.
TEST_F(Engine, AnotherUsersLockIsWaitedForOnlyBriefly) {
  CreateDatabase(base_);
  const std::string mark = folder_ / "bloqueada";
  Background otro({TestProgram("otro_usuario"), base_, mark, "1000"});
  for (int i = 0; i < 2000 && !Exists(mark); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(Exists(mark)) << "the other user never took the lock";
  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(Open(base_), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

  auto other = std::make_unique<OtherUser>(base_);
  other->Run("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;");
  start = std::chrono::steady_clock::now();
  OpenFailure(base_);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(4));
  EXPECT_LT(waited, std::chrono::seconds(8));
  other.reset();
  EXPECT_NE(Open(base_), nullptr);
  EXPECT_EQ(otro.Wait(), 0);
}

TEST_F(Engine, QueryTimeoutBoundsTheWaitForAnotherUsersLock) {
  CreateDatabase(base_);
  auto db = Open(base_);
  db->SetQueryTimeout(1);

  auto other = std::make_unique<OtherUser>(base_);
  other->Run("BEGIN IMMEDIATE");

  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(db->BeginTrans(), Failure);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // Once the other user lets go, the same connection writes.
  other->Run("COMMIT");
  other.reset();
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
