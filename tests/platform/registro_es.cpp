// Loaded into a program with LD_PRELOAD: writes down, in order, every system
// call that changes the files of one folder (creations, writes, truncations,
// syncs of files and of the folder itself, removals, renames) and every
// moment the program shows a message on standard output or error (a write to
// them, or a flush of stdio's), so that a test can rebuild
// what a power cut at any point would leave. It can also make one of those
// calls fail, as a failing disk would. Every process that loads it writes to
// the same log: under Wine, the program and Wine's server, which opens the
// files and hands their descriptors over.
//   QUELVAR_REGISTRO          the log to write (nothing is done without it)
//   QUELVAR_REGISTRO_CARPETA  the folder whose files are watched, absolute
//   QUELVAR_REGISTRO_OMITIR   a file's name, or "." for the folder: its syncs
//                             do nothing and are not written down
//   QUELVAR_REGISTRO_MENSAJE  the text that marks a message on standard
//                             error (Wine's trace of a message box): other
//                             writes there (Wine's own notices) are none
//   QUELVAR_FALLA             "N:una" the Nth changing call fails (EIO);
//                             "N:siempre" it and every later one fail;
//                             "N:lleno" every write from the Nth on finds the
//                             disk full; "N:corta" the Nth, if a write, writes
//                             half (otherwise it fails)
// Log records, one header line each, a write's or a message's bytes after it:
//   A ino name | N ino name | O ino (a new file without a name) |
//   L ino name (a new name for it) | T ino size | W ino offset length |
//   S ino | D | U name | R from to | M fd length | F count (changing calls,
//   at exit)
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using TruncFn = int (*)(int, off_t);
using SyncFn = int (*)(int);
using UnlinkFn = int (*)(const char*);
using UnlinkatFn = int (*)(int, const char*, int);
using RenameFn = int (*)(const char*, const char*);
using RenameatFn = int (*)(int, const char*, int, const char*);
using Renameat2Fn = int (*)(int, const char*, int, const char*, unsigned);
using CloseFn = int (*)(int);

struct Watched {
  bool checked = false;  // its path was looked up (a descriptor the process did not open)
  bool on = false;
  bool folder = false;
  ino_t ino = 0;
  char name[256] = {};
};

constexpr int kFds = 4096;
Watched fds[kFds];
int log_fd = -2;  // -2: not set up yet; -1: nothing to do
char folder[4096];
size_t folder_len = 0;
const char* omit = nullptr;
const char* message_mark = nullptr;
long fail_at = 0;
char fail_mode[16] = {};
long calls = 0;           // changing calls so far
struct stat std_stat[3];  // standard output's and error's files, as first seen
                          // (their sizes as of the last flush)
bool std_known[3];

WriteFn real_write;
CloseFn real_close;

void SetUp() {
  if (log_fd != -2) return;
  log_fd = -1;
  real_write = Next<WriteFn>("write");
  real_close = Next<CloseFn>("close");
  const char* log = getenv("QUELVAR_REGISTRO");
  const char* where = getenv("QUELVAR_REGISTRO_CARPETA");
  if (log == nullptr || where == nullptr) return;
  // As the system names open files: Wine opens them in its server, by
  // other paths, and hands their descriptors over.
  if (realpath(where, folder) == nullptr) snprintf(folder, sizeof folder, "%s", where);
  folder_len = strlen(folder);
  omit = getenv("QUELVAR_REGISTRO_OMITIR");
  message_mark = getenv("QUELVAR_REGISTRO_MENSAJE");
  if (const char* f = getenv("QUELVAR_FALLA")) {
    sscanf(f, "%ld:%15s", &fail_at, fail_mode);
  }
  for (int shown = 1; shown <= 2; ++shown) std_known[shown] = fstat(shown, &std_stat[shown]) == 0;
  log_fd = Next<OpenFn>("open")(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void Log(const char* header, const void* data = nullptr, size_t size = 0) {
  real_write(log_fd, header, strlen(header));
  for (size_t done = 0; done < size;) {
    const ssize_t n = real_write(log_fd, static_cast<const char*>(data) + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

// The name inside the watched folder ("." for the folder itself), or null.
const char* NameIn(const char* path) {
  if (log_fd < 0 || path == nullptr || strncmp(path, folder, folder_len) != 0) return nullptr;
  if (path[folder_len] == '\0') return ".";
  if (path[folder_len] != '/' || strchr(path + folder_len + 1, '/') != nullptr) return nullptr;
  return path + folder_len + 1;
}

// The path the system gives an open descriptor, in `path`.
bool PathOf(int fd, char (&path)[4096]) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return true;
}

int Opened(const char* path, int flags, int fd, bool existed);

// The watched file behind `fd`, or null. A descriptor the process did not
// open itself (Wine's server hands them over) is looked up once.
Watched* Of(int fd) {
  if (fd < 0 || fd >= kFds || log_fd < 0) return nullptr;
  if (!fds[fd].on && !fds[fd].checked) {
    fds[fd].checked = true;
    char path[4096];
    if (PathOf(fd, path)) Opened(path, 0, fd, true);
  }
  return fds[fd].on ? &fds[fd] : nullptr;
}

// Counts a changing call; true when it must fail, with errno set.
bool Fails(bool is_write) {
  ++calls;
  if (fail_at == 0) return false;
  const bool here = calls == fail_at;
  const bool later = calls > fail_at;
  if (strcmp(fail_mode, "una") == 0 || strcmp(fail_mode, "corta") == 0) {
    if (here && !(is_write && fail_mode[0] == 'c')) {
      errno = EIO;
      return true;
    }
  } else if (strcmp(fail_mode, "siempre") == 0 && (here || later)) {
    errno = EIO;
    return true;
  } else if (strcmp(fail_mode, "lleno") == 0 && is_write && (here || later)) {
    errno = ENOSPC;
    return true;
  }
  return false;
}

bool Short() { return fail_mode[0] == 'c' && calls == fail_at; }

int Opened(const char* path, int flags, int fd, bool existed) {
  const char* name = NameIn(path);
  if (fd < 0 || fd >= kFds || name == nullptr) return fd;
  struct stat st {};
  fstat(fd, &st);
  Watched& w = fds[fd];
  w.on = true;
  w.folder = strcmp(name, ".") == 0;
  w.ino = st.st_ino;
  snprintf(w.name, sizeof w.name, "%s", name);
  if (w.folder) return fd;
  char header[512];
  snprintf(header, sizeof header, "%c %lu %s\n", existed ? 'A' : 'N',
           static_cast<unsigned long>(st.st_ino), name);
  Log(header);
  if (existed && (flags & O_TRUNC) != 0) {
    snprintf(header, sizeof header, "T %lu 0\n", static_cast<unsigned long>(st.st_ino));
    Log(header);
  }
  return fd;
}

// A file made in the folder without a name (O_TMPFILE), until it is given one.
int Unnamed(int fd) {
  if (fd < 0 || fd >= kFds) return fd;
  struct stat st {};
  fstat(fd, &st);
  fds[fd] = Watched{true, true, false, st.st_ino, {}};
  char header[64];
  snprintf(header, sizeof header, "O %lu\n", static_cast<unsigned long>(st.st_ino));
  Log(header);
  return fd;
}

int DoOpen(int dirfd, const char* path, int flags, mode_t mode) {
  SetUp();
  static auto real = Next<OpenatFn>("openat");
  const char* name = NameIn(path);
  const bool changes = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
  if (name == nullptr) {
    // By another path (Wine's server opens relative to a folder of its
    // own): known by the name the system gives it once open.
    struct stat st {};
    const bool existed = log_fd < 0 || fstatat(dirfd, path, &st, 0) == 0;
    const int fd = real(dirfd, path, flags, mode);
    char real_path[4096];
    if (fd >= 0 && log_fd >= 0 && PathOf(fd, real_path))
      return Opened(real_path, flags, fd, existed);
    return fd;
  }
  if (strcmp(name, ".") == 0 && (flags & O_TMPFILE) == O_TMPFILE) {
    if (Fails(false)) return -1;
    return Unnamed(real(dirfd, path, flags, mode));
  }
  if (strcmp(name, ".") == 0) return Opened(path, flags, real(dirfd, path, flags, mode), true);
  struct stat st {};
  const bool existed = stat(path, &st) == 0;
  if (changes && Fails(false)) return -1;
  return Opened(path, flags, real(dirfd, path, flags, mode), existed);
}

mode_t ModeOf(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

off_t SizeOf(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_size : 0;
}

// 1 or 2 when `fd` writes where the process's standard output or error
// goes (Wine writes them through descriptors of its own), else 0.
int ShownOn(int fd) {
  if (log_fd < 0) return 0;
  if (fd == 1 || fd == 2) return fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return 0;
  for (int shown = 1; shown <= 2; ++shown) {
    if (std_known[shown] && st.st_dev == std_stat[shown].st_dev &&
        st.st_ino == std_stat[shown].st_ino) {
      return shown;
    }
  }
  return 0;
}

// Whether a write to standard error is one of the program's messages: all
// are, unless QUELVAR_REGISTRO_MENSAJE names the text that marks them.
bool Speaks(const void* data, size_t size) {
  return message_mark == nullptr ||
         memmem(data, size, message_mark, strlen(message_mark)) != nullptr;
}

ssize_t DoWrite(int fd, const void* data, size_t size, off_t at, bool positioned) {
  SetUp();
  static auto real_pwrite = Next<PwriteFn>("pwrite64");
  Watched* w = Of(fd);
  if (const int shown = ShownOn(fd); shown != 0 && (shown == 1 || Speaks(data, size))) {
    const ssize_t n = positioned ? real_pwrite(fd, data, size, at) : real_write(fd, data, size);
    char header[64];
    snprintf(header, sizeof header, "M %d %zu\n", shown, n > 0 ? static_cast<size_t>(n) : 0);
    Log(header, data, n > 0 ? static_cast<size_t>(n) : 0);
    return n;
  }
  if (w == nullptr || w->folder) {
    return positioned ? real_pwrite(fd, data, size, at) : real_write(fd, data, size);
  }
  if (!positioned) at = lseek(fd, 0, SEEK_CUR);
  if (Fails(true)) return -1;
  if (Short() && size > 1) size /= 2;
  const ssize_t n = positioned ? real_pwrite(fd, data, size, at) : real_write(fd, data, size);
  if (n > 0) {
    char header[96];
    snprintf(header, sizeof header, "W %lu %lld %zd\n", static_cast<unsigned long>(w->ino),
             static_cast<long long>(at), n);
    Log(header, data, static_cast<size_t>(n));
  }
  return n;
}

int DoSync(int fd, const char* which) {
  SetUp();
  auto real = Next<SyncFn>(which);
  Watched* w = Of(fd);
  if (w == nullptr) return real(fd);
  // By the name it has now: Wine's server renames the files it opened. (A
  // file opened without a name keeps showing none; linkat named it.)
  char path[4096];
  const char* now = PathOf(fd, path) ? NameIn(path) : nullptr;
  if (now != nullptr && !w->folder && strstr(now, " (deleted)") == nullptr) {
    snprintf(w->name, sizeof w->name, "%s", now);
  }
  if (omit != nullptr && strcmp(omit, w->name) == 0) return 0;
  if (Fails(false)) return -1;
  const int rc = real(fd);
  if (rc == 0) {
    char header[64];
    if (w->folder) {
      snprintf(header, sizeof header, "D\n");
    } else {
      snprintf(header, sizeof header, "S %lu\n", static_cast<unsigned long>(w->ino));
    }
    Log(header);
  }
  return rc;
}

int DoTruncate(int fd, off_t size, const char* which) {
  SetUp();
  auto real = Next<TruncFn>(which);
  Watched* w = Of(fd);
  if (w == nullptr || w->folder) return real(fd, size);
  if (Fails(false)) return -1;
  const int rc = real(fd, size);
  if (rc == 0) {
    char header[64];
    snprintf(header, sizeof header, "T %lu %lld\n", static_cast<unsigned long>(w->ino),
             static_cast<long long>(size));
    Log(header);
  }
  return rc;
}

// Removals and renames name paths relative to the working folder or
// absolute; the program and the engine give absolute ones.
int DoUnlink(const char* path, int rc_if_real) {
  char header[512];
  snprintf(header, sizeof header, "U %s\n", NameIn(path));
  if (rc_if_real == 0) Log(header);
  return rc_if_real;
}

// `path` with its folder as the system names it: Wine's server renames by
// paths of its own, through folders of links.
struct Canonical {
  char path[4096];
  explicit Canonical(const char* given) {
    snprintf(path, sizeof path, "%s", given);
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", given);
    char* slash = strrchr(folder, '/');
    if (log_fd < 0 || slash == nullptr) return;
    *slash = '\0';
    char resolved[4096];
    if (realpath(folder[0] == '\0' ? "/" : folder, resolved) != nullptr &&
        snprintf(path, sizeof path, "%s/%s", resolved, slash + 1) >=
            static_cast<int>(sizeof path)) {
      snprintf(path, sizeof path, "%s", given);  // too long for the folder: not one of its files
    }
  }
};

// A rename moves an open file's name too, for the syncs QUELVAR_REGISTRO_OMITIR names.
int DoRename(const Canonical& from, const Canonical& to, int rc) {
  const char* old_name = NameIn(from.path);
  const char* new_name = NameIn(to.path);
  if (rc == 0 && old_name != nullptr && new_name != nullptr) {
    char header[600];
    snprintf(header, sizeof header, "R %s %s\n", old_name, new_name);
    Log(header);
    for (Watched& w : fds) {
      if (w.on && !w.folder && strcmp(w.name, old_name) == 0) {
        snprintf(w.name, sizeof w.name, "%s", new_name);
      }
    }
  }
  return rc;
}

bool RenameFails(const Canonical& from, const Canonical& to) {
  return (NameIn(from.path) != nullptr || NameIn(to.path) != nullptr) && Fails(false);
}

__attribute__((destructor)) void AtExit() {
  if (log_fd < 0) return;
  char header[64];
  snprintf(header, sizeof header, "F %ld\n", calls);
  Log(header);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return DoOpen(AT_FDCWD, path, flags, mode);
}
// The same calls under their large-file names.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));
int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return DoOpen(dirfd, path, flags, mode);
}
int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));
ssize_t write(int fd, const void* data, size_t size) { return DoWrite(fd, data, size, 0, false); }
ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
  return DoWrite(fd, data, size, at, true);
}
ssize_t pwrite64(int fd, const void* data, size_t size, off_t at) {
  return DoWrite(fd, data, size, at, true);
}
int ftruncate(int fd, off_t size) { return DoTruncate(fd, size, "ftruncate"); }
int ftruncate64(int fd, off_t size) { return DoTruncate(fd, size, "ftruncate64"); }
int fsync(int fd) { return DoSync(fd, "fsync"); }
int fdatasync(int fd) { return DoSync(fd, "fdatasync"); }
int unlink(const char* path) {
  SetUp();
  static auto real = Next<UnlinkFn>("unlink");
  if (NameIn(path) == nullptr) return real(path);
  if (Fails(false)) return -1;
  return DoUnlink(path, real(path));
}
int unlinkat(int dirfd, const char* path, int flags) {
  SetUp();
  static auto real = Next<UnlinkatFn>("unlinkat");
  if (NameIn(path) == nullptr || flags != 0) return real(dirfd, path, flags);
  if (Fails(false)) return -1;
  return DoUnlink(path, real(dirfd, path, flags));
}
int rename(const char* from, const char* to) {
  SetUp();
  static auto real = Next<RenameFn>("rename");
  const Canonical old_path(from), new_path(to);
  if (RenameFails(old_path, new_path)) return -1;
  return DoRename(old_path, new_path, real(from, to));
}
int renameat(int fromfd, const char* from, int tofd, const char* to) {
  SetUp();
  static auto real = Next<RenameatFn>("renameat");
  const Canonical old_path(from), new_path(to);
  if (RenameFails(old_path, new_path)) return -1;
  return DoRename(old_path, new_path, real(fromfd, from, tofd, to));
}
int renameat2(int fromfd, const char* from, int tofd, const char* to, unsigned flags) {
  SetUp();
  static auto real = Next<Renameat2Fn>("renameat2");
  const Canonical old_path(from), new_path(to);
  if (RenameFails(old_path, new_path)) return -1;
  return DoRename(old_path, new_path, real(fromfd, from, tofd, to, flags));
}
// A name given to a file open without one, through /proc/self/fd/N.
int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
  SetUp();
  static auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  int fd = -1;
  const Canonical new_path(to);
  const char* name = NameIn(new_path.path);
  if (name == nullptr || sscanf(from, "/proc/self/fd/%d", &fd) != 1 || Of(fd) == nullptr) {
    return real(fromfd, from, tofd, to, flags);
  }
  if (Fails(false)) return -1;
  const int rc = real(fromfd, from, tofd, to, flags);
  if (rc == 0) {
    char header[600];
    snprintf(header, sizeof header, "L %lu %s\n", static_cast<unsigned long>(fds[fd].ino), name);
    Log(header);
    snprintf(fds[fd].name, sizeof fds[fd].name, "%s", name);
  }
  return rc;
}
// The program shows each message with a flush of standard output or error,
// whose write stdio makes inside itself: the moment is marked on entry,
// before the text can be seen. A flush shows something when it has text to
// write, or when stdio wrote it already (standard error has no buffer): the
// file grew since last seen. An empty one (Wine 10 makes some as it starts)
// shows nothing.
int fflush(FILE* stream) {
  SetUp();
  static auto real = Next<int (*)(FILE*)>("fflush");
  if (log_fd < 0 || (stream != stdout && stream != stderr) ||
      (stream == stderr && message_mark != nullptr)) {
    return real(stream);
  }
  const int fd = stream == stdout ? 1 : 2;
  if (__fpending(stream) > 0 || SizeOf(fd) > std_stat[fd].st_size) {
    Log(fd == 1 ? "M 1 0\n" : "M 2 0\n");
  }
  const int rc = real(stream);
  std_stat[fd].st_size = SizeOf(fd);
  return rc;
}
int close(int fd) {
  SetUp();
  if (fd >= 0 && fd < kFds) fds[fd] = Watched{};
  return real_close(fd);
}

}  // extern "C"
