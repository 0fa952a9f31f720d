// What the system provides: the application folder, files, the user's
// regional settings, the database engine; behind one interface, so that a
// run can be driven without a real disk.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/database.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace quelvar {

// The parts of the user's regional settings that number parsing needs.
// Grouping separators are never accepted in a number, so only the decimal
// separator matters.
struct NumberFormat {
  std::string decimal_separator = ".";  // UTF-8
};

// Who runs the program, and on which machine; `domain` only on Windows.
struct Who {
  std::string user;
  std::string domain;
  std::string machine;
};

// A moment, in UTC ("2026-12-11T15:04:05Z") and as the user's clock reads it,
// with its offset ("2026-12-11 12:04:05 -03:00").
struct Moment {
  std::string utc;
  std::string local;
};

class System {
 public:
  virtual ~System() = default;

  // The folder that holds the running executable, without a trailing separator.
  virtual std::string AppPath() = 0;

  // A text file to read, its lines held up to `held_characters` characters.
  virtual std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                                   std::size_t held_characters) = 0;
  // A new text file to write in `format`, to take the place of whatever
  // `path` names, which is never opened (OpenFileForOutput); its permission
  // bits, where the system has them, are those of the file `like`.
  virtual std::unique_ptr<LineWriter> OpenForOutput(const std::string& path,
                                                    const TextFormat& format,
                                                    const std::string& like) = 0;
  // A file of the program's own for what is too large to hold in memory (Scratch).
  virtual std::unique_ptr<Scratch> NewScratch() = 0;

  // Consulted for every number parsed, as the user's settings may be.
  virtual const NumberFormat& RegionalSettings() = 0;

  // The database engine, created on first use.
  virtual DBEngine& Engine() = 0;

  virtual Who WhoRuns() = 0;
  virtual Moment Now() = 0;
};

// Hands every call to another system: a wrapper overrides only what it
// changes.
class SystemWrapper : public System {
 public:
  explicit SystemWrapper(System& target) : target_(target) {}

  std::string AppPath() override { return target_.AppPath(); }
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override {
    return target_.OpenForInput(path, held_characters);
  }
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path, const TextFormat& format,
                                            const std::string& like) override {
    return target_.OpenForOutput(path, format, like);
  }
  std::unique_ptr<Scratch> NewScratch() override { return target_.NewScratch(); }
  const NumberFormat& RegionalSettings() override { return target_.RegionalSettings(); }
  DBEngine& Engine() override { return target_.Engine(); }
  Who WhoRuns() override { return target_.WhoRuns(); }
  Moment Now() override { return target_.Now(); }

 private:
  System& target_;
};

}  // namespace quelvar
