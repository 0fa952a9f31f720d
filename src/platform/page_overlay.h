// Where a database that must be left as found has its writes go instead:
// a temporary file of its own, holding each written sector at its own
// offset, while every other sector is still read from the base.
#pragma once

#include <sqlite3.h>

#include <utility>
#include <vector>

namespace quelvar {

class PageOverlay {
 public:
  // Over `base`, whose size is `size`; the temporary file is the system
  // VFS's own (unnamed, gone when closed), and holds only what the engine
  // wrote: encrypted pages.
  static int Open(sqlite3_vfs* system, sqlite3_file* base, PageOverlay** out);
  ~PageOverlay();
  PageOverlay(const PageOverlay&) = delete;
  PageOverlay& operator=(const PageOverlay&) = delete;

  int Read(void* out, int n, sqlite3_int64 at);
  int Write(const void* in, int n, sqlite3_int64 at);
  int Truncate(sqlite3_int64 size);
  sqlite3_int64 Size() const { return size_; }

 private:
  static constexpr sqlite3_int64 kSector = 512;

  PageOverlay(sqlite3_file* base, sqlite3_int64 size, std::vector<char> scratch)
      : base_(base), scratch_(std::move(scratch)), size_(size), base_end_(size) {}
  sqlite3_file* Scratch() { return reinterpret_cast<sqlite3_file*>(scratch_.data()); }
  bool Written(sqlite3_int64 sector) const {
    return sector < static_cast<sqlite3_int64>(written_.size()) && written_[sector];
  }
  // Reads from the scratch file or the base, a short read filled with zeros.
  static int ReadFrom(sqlite3_file* file, char* out, sqlite3_int64 n, sqlite3_int64 at);

  sqlite3_file* base_;
  std::vector<char> scratch_;  // the scratch file's sqlite3_file, as large as its VFS asks
  std::vector<bool> written_;  // by sector: held in the scratch file
  sqlite3_int64 size_;         // the file's size as the engine sees it
  sqlite3_int64 base_end_;     // the base's bytes from here on were cut off
};

}  // namespace quelvar
