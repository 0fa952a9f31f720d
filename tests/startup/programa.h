// The built program in an application folder of its own, as a user lays it
// out: the program, a database, the activity file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/test_database.h"

namespace quelvar {

struct Outcome {
  int status;  // the exit status, or minus the signal that ended the program
  std::string out;
  std::string err;
  long peak_kib;  // the most memory the program held at once
};

class Programa {
 public:
  explicit Programa(const std::string& binary = QUELVAR_BINARY);

  const TempFolder& folder() const { return folder_; }
  std::string operator/(const std::string& name) const { return folder_ / name; }

  // A new database holding one row, the table's contents before a run.
  void MakeDatabase();
  static const std::vector<Row>& RowsBefore();
  std::vector<Row> Rows() const { return ReadRows(folder_ / "Impuest.mdb"); }

  // Starts the program from another folder, with `environment` added and
  // `in_child` run just before it starts; standard output and error go to
  // files in the folder.
  pid_t Start(const std::string& args = "", const std::vector<std::string>& environment = {},
              const std::function<void()>& in_child = {}) const;
  Outcome Wait(pid_t pid) const;
  Outcome Run(const std::string& args = "", const std::vector<std::string>& environment = {},
              const std::function<void()>& in_child = {}) const {
    return Wait(Start(args, environment, in_child));
  }

 private:
  TempFolder folder_;
};

// Runs a shell command; its exit status.
int Shell(const std::string& command);

// Debian's sqlcipher shell (3.4.1 or 4.x) on the database at `path`, keyed
// with the program's password and reading SQLCipher 3 files.
std::string ShellCommand(const std::string& path);

// Runs `sql` in that shell on the database at `path` (created, in SQLCipher 3,
// if missing); what the shell printed.
std::string ShellSql(const std::string& path, const std::string& sql);

// `text` with each moment the program writes ("2026-12-11 14:25:11 -03:00")
// as "<hora>", for comparing what it told at different times.
std::string SinHora(const std::string& text);

}  // namespace quelvar
