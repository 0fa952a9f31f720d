// The engine's files, watched at each commit, so that a commit that reports
// a failure can still be told to have taken effect; and kept aside for a run
// that must leave its base as found.
//
// The one rule both sides rely on: the journal mode is TRUNCATE. A
// transaction takes effect when its journal is cut to nothing; a failure
// before that leaves the journal to roll the transaction back, and SQLite
// may do so at once, cutting the journal as well: so it is the order of
// events that tells, not the journal's final state.
#pragma once

#include <sqlite3.h>

namespace quelvar {

// The name to open databases under: the system's own files (unix or win32),
// every call handed down; nullptr when it could not be registered.
const char* WatchingVfsName();

// From now on, `db`'s main database is left as found: what the engine writes
// to it goes to a temporary file of its own (PageOverlay), its journal is
// one too, and its locks past RESERVED are not taken on the file, which
// others go on reading unchanged. An SQLite result code.
int KeepPagesAside(sqlite3* db);

// Watches the files of `db`'s main database, the file and its journal, for
// as long as it lives: one COMMIT's span.
class CommitWatch {
 public:
  explicit CommitWatch(sqlite3* db);
  ~CommitWatch();
  CommitWatch(const CommitWatch&) = delete;
  CommitWatch& operator=(const CommitWatch&) = delete;

  // The journal was cut to nothing before any failure.
  bool took_effect() const { return took_effect_; }

  // Told by the files.
  void NoteFailure() { failed_ = true; }
  void NoteJournalCut() { took_effect_ = took_effect_ || !failed_; }

 private:
  void Point(CommitWatch* watch);

  sqlite3* db_;
  bool failed_ = false;
  bool took_effect_ = false;
};

}  // namespace quelvar
