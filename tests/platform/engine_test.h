// Opening databases through the engine, for its tests on every platform.
#pragma once

#include <gtest/gtest.h>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/test_database.h"

namespace quelvar {

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

}  // namespace quelvar
