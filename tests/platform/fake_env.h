// A recording stand-in for the platform: files live in memory, message boxes
// and pointer changes are written down as events, and the database is a real
// encrypted file in a temporary folder.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/user_interface.h"

namespace quelvar {

// Files in memory, read through a buffer as small as a test wants; a reader
// holds lines up to `held_characters`.
std::unique_ptr<LineReader> NewStringReader(std::string content, std::size_t buffer_size,
                                            std::size_t held_characters = 32767);
std::unique_ptr<LineWriter> NewStringWriter(std::string* out, bool* closed,
                                            const TextFormat& format = {});

// The real engine, except that a database stays open once opened: opening it
// again hands out the same connection (with the lock wait it was first opened
// under), so the key derivation is paid once, and the query time-out last
// set on it is kept for tests to read.
class SharedEngine final : public DBEngine {
 public:
  void SetLockWait(std::chrono::milliseconds bound, LockWaitListener* listener) override {
    engine_->SetLockWait(bound, listener);
  }
  std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive, bool read_only,
                                         std::string_view connect) override;
  void CreateDatabase(const std::string& name, std::string_view connect, std::string_view schema,
                      bool shared) override {
    engine_->CreateDatabase(name, connect, schema, shared);
  }
  std::int16_t query_timeout = -1;

 private:
  std::unique_ptr<DBEngine> engine_ = NewSqlCipherEngine();
  std::map<std::string, std::unique_ptr<Database>> open_;
};

// Both what the user is shown and what the system provides, for a Form1
// given it as each.
class FakeEnv final : public UserInterface, public System {
 public:
  explicit FakeEnv(std::string app_path);

  // Events, in order: "caja <i|x|-> <title>: <text>", "puntero reloj",
  // "puntero normal", "aviso <number>: <description>", "espera: <text>" (the
  // first of a wait's calls), "fin de espera".
  std::vector<std::string> events;
  // Files by full path; a path missing from the map does not exist.
  std::map<std::string, std::string> files;
  std::map<std::string, bool> closed;
  NumberFormat format;
  // Runs before every regional-settings look-up; a test may throw from it.
  std::function<void()> before_regional_settings;
  // Runs while a message box is shown, as the user reads it.
  std::function<void()> while_message_shown;
  // Input buffer size, small to cross buffer boundaries.
  std::size_t reader_buffer = 7;
  // Makes AppPath fail, as when the executable's folder cannot be found.
  bool app_path_fails = false;

  std::string File(const std::string& name) const;  // by name in the app folder

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  void ShowFailureNotice(const Failure& failure) override;
  void SetMousePointer(MousePointer pointer) override;
  void ReportProgress(std::int32_t, std::int32_t) override {}
  void ShowWaitNotice(std::string_view text) override;
  void HideWaitNotice() override;
  std::string AppPath() override;
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override;
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path, const TextFormat& format,
                                            const std::string& like) override;
  std::unique_ptr<Scratch> NewScratch() override { return quelvar::NewScratch(); }
  const NumberFormat& RegionalSettings() override;
  DBEngine& Engine() override { return engine; }
  SharedEngine engine;
  Who WhoRuns() override { return who; }
  Moment Now() override { return now; }
  Who who{"ana", "", "oficina"};
  Moment now{"2026-12-11T15:04:05Z", "2026-12-11 12:04:05 -03:00"};

 private:
  std::string app_path_;
  bool waiting_ = false;
};

}  // namespace quelvar
