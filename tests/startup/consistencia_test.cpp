// Kills the program at moments spread across a large import: whatever the
// moment, the database must be sound and hold either the table as it was or
// the whole new table, never a mix.
//   QUELVAR_CRASH_LINES (default 20000) and QUELVAR_CRASH_KILLS (default 50)
//   scale it; about 200000 lines make a thorough manual run.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "startup/programa.h"

namespace quelvar {
namespace {

using Clock = std::chrono::steady_clock;

int Setting(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : fallback;
}

TEST(Consistencia, AKilledImportLeavesTheOldTableOrTheNewOneNeverAMix) {
  const int lines = Setting("QUELVAR_CRASH_LINES", 20000);
  const int kills = Setting("QUELVAR_CRASH_KILLS", 50);

  Programa p;
  p.MakeDatabase();
  ASSERT_EQ(Shell(std::string(QUELVAR_GENERATOR) + " " + std::to_string(lines) + " " +
                  (p / "Actividades.txt") + " /dev/null"),
            0);
  const std::string before = p / "antes.mdb";
  std::filesystem::copy_file(p / "Impuest.mdb", before);
  const std::vector<Row> old_rows = p.Rows();

  // Complete runs give the new table and the time a run takes: the shortest
  // of three, as the first run of a fresh file tends to be the slowest.
  auto restore = [&] {
    std::filesystem::remove(p / "Impuest.mdb-journal");
    std::filesystem::copy_file(before, p / "Impuest.mdb",
                               std::filesystem::copy_options::overwrite_existing);
  };
  Clock::duration duration = Clock::duration::max();
  for (int i = 0; i < 3; ++i) {
    restore();
    auto start = Clock::now();
    ASSERT_EQ(p.Run().status, 0);
    duration = std::min(duration, Clock::now() - start);
  }
  const std::vector<Row> new_rows = p.Rows();
  ASSERT_GT(new_rows.size(), old_rows.size());

  int old_seen = 0;
  int new_seen = 0;
  int finished = 0;
  for (int k = 1; k <= kills; ++k) {
    restore();
    pid_t pid = p.Start();
    // Half the kills spread over the whole run, half over its last sixth,
    // where the new table is written out and committed.
    const int half = kills / 2;
    std::this_thread::sleep_for(k <= half ? duration * k / (half + 1)
                                          : duration * 5 / 6 +
                                                duration * (k - half) / (6 * (kills - half + 1)));
    ::kill(pid, SIGKILL);
    Outcome o = p.Wait(pid);
    if (o.status == 0) ++finished;

    ASSERT_EQ(IntegrityCheck(p / "Impuest.mdb"), "ok") << "kill " << k;
    const std::vector<Row> rows = p.Rows();
    if (rows == old_rows) {
      ++old_seen;
    } else if (rows == new_rows) {
      ++new_seen;
    } else {
      FAIL() << "kill " << k << " left " << rows.size() << " rows: neither table";
    }
  }
  std::printf("%d lines, %d kills: old table %d, new table %d (of which %d finished first)\n",
              lines, kills, old_seen, new_seen, finished);
  EXPECT_GT(old_seen, 0) << "no kill landed inside the import";
}

}  // namespace
}  // namespace quelvar
