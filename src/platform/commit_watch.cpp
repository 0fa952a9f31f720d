// A thin file layer over the system's own that hands every call down,
// watches a COMMIT, and makes a new journal as a file beside the base.
#include "platform/commit_watch.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/page_overlay.h"

namespace quelvar {
namespace {

struct WatchedFile {
  sqlite3_file base;  // first: SQLite sees this
  sqlite3_file* real;
  bool journal;
  CommitWatch* watch;  // set for the span of a COMMIT
  // A base left as found: its writes kept aside, its locks past RESERVED
  // held here alone (`lock`, the level the engine thinks it has), its journal
  // a file of the system's own (`aside_journal`, that journal's name).
  PageOverlay* aside;
  int lock;
  char* aside_journal;
  bool scratch_journal;  // the journal of such a base: never synced
};

// The journals of bases left as found, by the names the engine opens them by.
std::set<std::string>& AsideJournals() {
  static std::set<std::string> names;
  return names;
}

WatchedFile* Watched(sqlite3_file* f) { return reinterpret_cast<WatchedFile*>(f); }
sqlite3_file* Real(sqlite3_file* f) { return Watched(f)->real; }

int Noted(sqlite3_file* f, int rc) {
  if (rc != SQLITE_OK && Watched(f)->watch != nullptr) Watched(f)->watch->NoteFailure();
  return rc;
}

const sqlite3_io_methods kWatchedMethods = {
    3,
    [](sqlite3_file* f) {
      WatchedFile* w = Watched(f);
      delete w->aside;
      if (w->aside_journal != nullptr) AsideJournals().erase(w->aside_journal);
      std::free(w->aside_journal);
      w->aside = nullptr;
      w->aside_journal = nullptr;
      const int rc = Real(f)->pMethods->xClose(Real(f));
      w->watch = nullptr;
      return rc;
    },
    [](sqlite3_file* f, void* out, int n, sqlite3_int64 at) {
      if (Watched(f)->aside != nullptr) return Watched(f)->aside->Read(out, n, at);
      return Real(f)->pMethods->xRead(Real(f), out, n, at);
    },
    [](sqlite3_file* f, const void* in, int n, sqlite3_int64 at) {
      if (Watched(f)->aside != nullptr) return Watched(f)->aside->Write(in, n, at);
      return Noted(f, Real(f)->pMethods->xWrite(Real(f), in, n, at));
    },
    [](sqlite3_file* f, sqlite3_int64 size) {
      if (Watched(f)->aside != nullptr) return Watched(f)->aside->Truncate(size);
      const int rc = Noted(f, Real(f)->pMethods->xTruncate(Real(f), size));
      CommitWatch* w = Watched(f)->watch;
      if (rc == SQLITE_OK && w != nullptr && Watched(f)->journal && size == 0) w->NoteJournalCut();
      return rc;
    },
    [](sqlite3_file* f, int flags) {
      // Nothing kept aside needs to last.
      if (Watched(f)->aside != nullptr || Watched(f)->scratch_journal) return SQLITE_OK;
      return Noted(f, Real(f)->pMethods->xSync(Real(f), flags));
    },
    [](sqlite3_file* f, sqlite3_int64* size) {
      if (Watched(f)->aside != nullptr) {
        *size = Watched(f)->aside->Size();
        return SQLITE_OK;
      }
      return Real(f)->pMethods->xFileSize(Real(f), size);
    },
    [](sqlite3_file* f, int lock) {
      // Nothing reaches the base: others may go on reading it while the
      // engine writes, so a lock past RESERVED is the engine's alone.
      WatchedFile* w = Watched(f);
      if (w->aside != nullptr && lock > SQLITE_LOCK_RESERVED) {
        if (w->lock < SQLITE_LOCK_RESERVED) {
          const int rc = Real(f)->pMethods->xLock(Real(f), SQLITE_LOCK_RESERVED);
          if (rc != SQLITE_OK) return rc;
        }
        w->lock = lock;
        return SQLITE_OK;
      }
      const int rc = Real(f)->pMethods->xLock(Real(f), lock);
      if (rc == SQLITE_OK) w->lock = lock;
      return rc;
    },
    [](sqlite3_file* f, int lock) {
      WatchedFile* w = Watched(f);
      w->lock = lock;
      if (w->aside != nullptr && lock >= SQLITE_LOCK_RESERVED) return SQLITE_OK;
      return Real(f)->pMethods->xUnlock(Real(f), lock);
    },
    [](sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); },
    [](sqlite3_file* f, int op, void* arg) {
      // The base's size stays as found.
      if (Watched(f)->aside != nullptr && op == SQLITE_FCNTL_SIZE_HINT) return SQLITE_OK;
      return Real(f)->pMethods->xFileControl(Real(f), op, arg);
    },
    [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); },
    [](sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); },
    // Shared memory: a database another tool left in WAL mode is read
    // through it, before the open turns it back into a rollback-journal file.
    [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      return m->iVersion >= 2 ? m->xShmMap(Real(f), page, size, extend, out) : SQLITE_IOERR;
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      return m->iVersion >= 2 ? m->xShmLock(Real(f), offset, n, flags) : SQLITE_IOERR;
    },
    [](sqlite3_file* f) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      if (m->iVersion >= 2) m->xShmBarrier(Real(f));
    },
    [](sqlite3_file* f, int remove) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      return m->iVersion >= 2 ? m->xShmUnmap(Real(f), remove) : SQLITE_OK;
    },
    // Memory mapping is off; handed down all the same where the system has
    // it, except for a base left as found, whose bytes are not the file's.
    [](sqlite3_file* f, sqlite3_int64 at, int n, void** out) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      if (m->iVersion >= 3 && Watched(f)->aside == nullptr) return m->xFetch(Real(f), at, n, out);
      *out = nullptr;
      return SQLITE_OK;
    },
    [](sqlite3_file* f, sqlite3_int64 at, void* p) {
      const sqlite3_io_methods* m = Real(f)->pMethods;
      return m->iVersion >= 3 ? m->xUnfetch(Real(f), at, p) : SQLITE_OK;
    },
};

sqlite3_vfs* System(sqlite3_vfs* v) { return static_cast<sqlite3_vfs*>(v->pAppData); }
sqlite3_vfs* SystemVfs();

// The system's VFS under another name, its files watched.
sqlite3_vfs MakeWatchingVfs() {
  sqlite3_vfs* system = sqlite3_vfs_find(nullptr);
  sqlite3_vfs v{};
  v.iVersion = 2;
  v.szOsFile = static_cast<int>(sizeof(WatchedFile)) + system->szOsFile;
  v.mxPathname = system->mxPathname;
  v.zName = "quelvar";
  v.pAppData = system;
  v.xOpen = [](sqlite3_vfs* self, const char* name, sqlite3_file* f, int flags, int* out) {
    // A new journal is made as a file beside the base: its mode and group.
    constexpr std::string_view kJournal = "-journal";
    const std::string_view named = name != nullptr ? name : "";
    if ((flags & SQLITE_OPEN_MAIN_JOURNAL) && (flags & SQLITE_OPEN_CREATE) &&
        named.ends_with(kJournal) && AsideJournals().count(std::string(named)) == 0) {
      CreateLike(std::string(named), std::string(named.substr(0, named.size() - kJournal.size())));
    }
    WatchedFile* w = Watched(f);
    w->real = reinterpret_cast<sqlite3_file*>(w + 1);
    w->journal = (flags & SQLITE_OPEN_MAIN_JOURNAL) != 0;
    w->watch = nullptr;
    w->aside = nullptr;
    w->lock = SQLITE_LOCK_NONE;
    w->aside_journal = nullptr;
    w->scratch_journal = w->journal && AsideJournals().count(std::string(named)) > 0;
    w->real->pMethods = nullptr;
    // The journal of a base left as found: a file of the system's own,
    // unnamed, never one beside the base.
    const int rc = w->scratch_journal
                       ? System(self)->xOpen(System(self), nullptr, w->real,
                                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                                 SQLITE_OPEN_EXCLUSIVE | SQLITE_OPEN_DELETEONCLOSE |
                                                 SQLITE_OPEN_TEMP_JOURNAL,
                                             out)
                       : System(self)->xOpen(System(self), name, w->real, flags, out);
    if (rc != SQLITE_OK && w->real->pMethods != nullptr) w->real->pMethods->xClose(w->real);
    w->base.pMethods = rc == SQLITE_OK ? &kWatchedMethods : nullptr;
    return rc;
  };
  v.xDelete = [](sqlite3_vfs* self, const char* name, int sync) {
    return System(self)->xDelete(System(self), name, sync);
  };
  v.xAccess = [](sqlite3_vfs* self, const char* name, int flags, int* out) {
    return System(self)->xAccess(System(self), name, flags, out);
  };
  v.xFullPathname = [](sqlite3_vfs* self, const char* name, int n, char* out) {
    return System(self)->xFullPathname(System(self), name, n, out);
  };
  v.xRandomness = [](sqlite3_vfs* self, int n, char* out) {
    return System(self)->xRandomness(System(self), n, out);
  };
  v.xSleep = [](sqlite3_vfs* self, int microseconds) {
    return System(self)->xSleep(System(self), microseconds);
  };
  v.xCurrentTime = [](sqlite3_vfs* self, double* out) {
    return System(self)->xCurrentTime(System(self), out);
  };
  v.xGetLastError = [](sqlite3_vfs* self, int n, char* out) {
    return System(self)->xGetLastError(System(self), n, out);
  };
  v.xCurrentTimeInt64 = [](sqlite3_vfs* self, sqlite3_int64* out) {
    return System(self)->xCurrentTimeInt64(System(self), out);
  };
  return v;
}

sqlite3_vfs& WatchingVfs() {
  static sqlite3_vfs vfs = MakeWatchingVfs();
  return vfs;
}

sqlite3_vfs* SystemVfs() { return System(&WatchingVfs()); }

}  // namespace

const char* WatchingVfsName() {
  sqlite3_vfs& vfs = WatchingVfs();
  static const int registered = sqlite3_vfs_register(&vfs, 0);
  return registered == SQLITE_OK ? vfs.zName : nullptr;
}

int KeepPagesAside(sqlite3* db) {
  sqlite3_file* f = nullptr;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f);
  const char* base = sqlite3_db_filename(db, "main");
  if (f == nullptr || f->pMethods != &kWatchedMethods || base == nullptr) return SQLITE_MISUSE;
  WatchedFile* w = Watched(f);
  if (w->aside != nullptr) return SQLITE_OK;
  const std::string journal = std::string(base) + "-journal";
  w->aside_journal = ::strdup(journal.c_str());
  if (w->aside_journal == nullptr) return SQLITE_NOMEM;
  const int rc = PageOverlay::Open(SystemVfs(), w->real, &w->aside);
  if (rc != SQLITE_OK) {
    std::free(w->aside_journal);
    w->aside_journal = nullptr;
    return rc;
  }
  AsideJournals().insert(journal);
  return SQLITE_OK;
}

CommitWatch::CommitWatch(sqlite3* db) : db_(db) { Point(this); }

CommitWatch::~CommitWatch() { Point(nullptr); }

void CommitWatch::Point(CommitWatch* watch) {
  for (int op : {SQLITE_FCNTL_FILE_POINTER, SQLITE_FCNTL_JOURNAL_POINTER}) {
    sqlite3_file* f = nullptr;
    sqlite3_file_control(db_, "main", op, &f);
    if (f != nullptr && f->pMethods == &kWatchedMethods) Watched(f)->watch = watch;
  }
}

}  // namespace quelvar
