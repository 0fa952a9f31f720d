#include "platform/page_overlay.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace quelvar {

int PageOverlay::Open(sqlite3_vfs* system, sqlite3_file* base, PageOverlay** out) {
  *out = nullptr;
  sqlite3_int64 size = 0;
  int rc = base->pMethods->xFileSize(base, &size);
  if (rc != SQLITE_OK) return rc;
  std::vector<char> scratch(static_cast<std::size_t>(system->szOsFile));
  auto* file = reinterpret_cast<sqlite3_file*>(scratch.data());
  file->pMethods = nullptr;
  rc = system->xOpen(system, nullptr, file,
                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE |
                         SQLITE_OPEN_DELETEONCLOSE | SQLITE_OPEN_TEMP_JOURNAL,
                     nullptr);
  if (rc != SQLITE_OK) {
    if (file->pMethods != nullptr) file->pMethods->xClose(file);
    return rc;
  }
  // The vector's buffer, where the file lives, moves with it.
  *out = new (std::nothrow) PageOverlay(base, size, std::move(scratch));
  if (*out == nullptr) {
    file->pMethods->xClose(file);
    return SQLITE_NOMEM;
  }
  return SQLITE_OK;
}

PageOverlay::~PageOverlay() { Scratch()->pMethods->xClose(Scratch()); }

int PageOverlay::ReadFrom(sqlite3_file* file, char* out, sqlite3_int64 n, sqlite3_int64 at) {
  const int rc = file->pMethods->xRead(file, out, static_cast<int>(n), at);
  // The system's VFS fills what lies past the end with zeros.
  return rc == SQLITE_IOERR_SHORT_READ ? SQLITE_OK : rc;
}

int PageOverlay::Read(void* out, int n, sqlite3_int64 at) {
  char* const into = static_cast<char*>(out);
  const sqlite3_int64 end = at + n;
  const sqlite3_int64 held = std::clamp(size_, at, end);
  std::memset(into + (held - at), 0, static_cast<std::size_t>(end - held));
  // Runs of sectors from the same file, each read at once; what was cut off
  // the base and never written since reads as zeros.
  for (sqlite3_int64 from = at; from < held;) {
    const bool aside = Written(from / kSector);
    sqlite3_int64 to = (from / kSector + 1) * kSector;
    while (to < held && Written(to / kSector) == aside) to += kSector;
    to = std::min(to, held);
    if (!aside && from < base_end_) to = std::min(to, base_end_);
    int rc = SQLITE_OK;
    if (aside) {
      rc = ReadFrom(Scratch(), into + (from - at), to - from, from);
    } else if (from < base_end_) {
      rc = ReadFrom(base_, into + (from - at), to - from, from);
    } else {
      std::memset(into + (from - at), 0, static_cast<std::size_t>(to - from));
    }
    if (rc != SQLITE_OK) return rc;
    from = to;
  }
  return held < end ? SQLITE_IOERR_SHORT_READ : SQLITE_OK;
}

int PageOverlay::Write(const void* in, int n, sqlite3_int64 at) {
  const sqlite3_int64 end = at + n;
  const sqlite3_int64 first = at / kSector;
  const sqlite3_int64 last = (end - 1) / kSector;
  if (written_.size() < static_cast<std::size_t>(last + 1)) written_.resize(last + 1);
  // A sector written only in part takes the rest of its bytes as they read now.
  for (const sqlite3_int64 sector : {first, last}) {
    if (written_[sector] || (sector * kSector >= at && (sector + 1) * kSector <= end)) continue;
    char whole[kSector];
    int rc = Read(whole, kSector, sector * kSector);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
    rc = Scratch()->pMethods->xWrite(Scratch(), whole, kSector, sector * kSector);
    if (rc != SQLITE_OK) return rc;
    written_[sector] = true;
  }
  const int rc = Scratch()->pMethods->xWrite(Scratch(), in, n, at);
  if (rc != SQLITE_OK) return rc;
  std::fill(written_.begin() + first, written_.begin() + last + 1, true);
  size_ = std::max(size_, end);
  return SQLITE_OK;
}

int PageOverlay::Truncate(sqlite3_int64 size) {
  size_ = size;
  base_end_ = std::min(base_end_, size);
  written_.resize(std::min<std::size_t>(written_.size(), (size + kSector - 1) / kSector));
  return SQLITE_OK;
}

}  // namespace quelvar
