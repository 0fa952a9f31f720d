// Text files on Windows: the bytes through the system's file handles, the
// names given in UTF-8 and opened as wide strings, so that any folder name
// works.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "platform/windows_text.h"

namespace quelvar {
namespace {

void WriteAll(HANDLE file, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::WriteFile(file, data, want, &put, nullptr)) throw LastErrorFailure(path);
    data += put;
    size -= put;
  }
}

class HandleSource final : public ByteSource {
 public:
  HandleSource(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
  ~HandleSource() override { Close(); }

  std::size_t Read(char* out, std::size_t capacity) override {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
    if (!::ReadFile(file_, out, want, &got, nullptr)) {
      // The writer of a pipe closed its end: the end of the input.
      if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
      throw LastErrorFailure(path_);
    }
    return got;
  }
  void Rewind() override {
    if (!::SetFilePointerEx(file_, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
      throw LastErrorFailure(path_);
    }
  }
  std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) override {
    // A read at an offset moves the file pointer too: it is put back.
    LARGE_INTEGER here{};
    if (!::SetFilePointerEx(file_, LARGE_INTEGER{}, &here, FILE_CURRENT)) {
      throw LastErrorFailure(path_);
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    const bool read =
        ::ReadFile(file_, out, want, &got, &at) || ::GetLastError() == ERROR_HANDLE_EOF;
    if (!read) throw LastErrorFailure(path_);
    if (!::SetFilePointerEx(file_, here, nullptr, FILE_BEGIN)) throw LastErrorFailure(path_);
    return got;
  }
  void Close() override {
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE file_;
  std::string path_;
};

// A new file under a name of its own (`temporary`), to take the place of
// `path`; open for deleting too, so that it moves, or goes, through this
// handle and nobody else may remove it meanwhile.
class HandleSink final : public ByteSink {
 public:
  HandleSink(HANDLE file, std::string path, std::string temporary)
      : file_(file), path_(std::move(path)), temporary_(std::move(temporary)) {}
  ~HandleSink() override {
    if (file_ == INVALID_HANDLE_VALUE) return;
    Discard();
    ::CloseHandle(file_);
  }

  void Write(const char* data, std::size_t size) override { WriteAll(file_, data, size, path_); }
  // Writes the file's data and commits its pending metadata (on NTFS, its
  // creation and its entry in the folder among them), down to the disk.
  void Sync() override {
    if (!::FlushFileBuffers(file_)) throw LastErrorFailure(path_);
  }
  // A rename of the open file, not ReplaceFileW, which would give it the old
  // one's permissions and follow a link: it replaces the entry itself (a
  // link or any reparse point named so included), and the file keeps what it
  // inherited from its folder. NTFS logs the rename; the flush after it
  // writes that log out.
  void PutInPlace() override {
    if (placed_) return;
    const std::wstring target = NtPath(path_);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
    if (!::SetFileInformationByHandle(file_, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
      Failure failure = LastErrorFailure(path_);
      const DWORD attributes = ::GetFileAttributesW(WidePath(path_).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        failure = FileFailure(EISDIR, path_);
      }
      throw failure;
    }
    placed_ = true;
    Sync();
  }
  void Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return;
    Discard();
    const bool closed = ::CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!closed) throw LastErrorFailure(path_);
  }

 private:
  // The name the system's own file calls take for `path`: "\??\C:\...",
  // "\??\UNC\server\...".
  static std::wstring NtPath(const std::string& path) {
    const std::wstring prefix =
        L"\\?"
        L"?\\";
    std::wstring wide = WidePath(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0) return prefix + wide.substr(4);
    std::wstring full(32768, L'\0');
    full.resize(
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    if (full.rfind(L"\\\\", 0) == 0) return prefix + L"UNC\\" + full.substr(2);
    return prefix + full;
  }
  // A file never put in place goes as its handle closes.
  void Discard() {
    if (placed_) return;
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(file_, FileDispositionInfo, &gone, sizeof gone);
  }

  HANDLE file_;
  std::string path_;
  std::string temporary_;
  bool placed_ = false;
};

// Where a scratch file is written: nothing of it is kept through a power cut.
class ScratchSink final : public ByteSink {
 public:
  ScratchSink(HANDLE file, const std::string& folder) : file_(file), folder_(folder) {}
  void Write(const char* data, std::size_t size) override { WriteAll(file_, data, size, folder_); }
  void Sync() override {}
  void Close() override {}

 private:
  HANDLE file_;
  const std::string& folder_;
};

class HandleScratch final : public Scratch {
 public:
  HandleScratch(HANDLE file, std::string folder) : file_(file), folder_(std::move(folder)) {}
  ~HandleScratch() override { ::CloseHandle(file_); }
  std::unique_ptr<ByteSink> Writer() override {
    return std::make_unique<ScratchSink>(file_, folder_);
  }
  std::unique_ptr<ByteSource> Reader() override {
    // A copy of the handle shares its file pointer: reading starts once
    // writing is done, from the start.
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), file_, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS) ||
        !::SetFilePointerEx(copy, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
      throw LastErrorFailure(folder_);
    }
    return std::make_unique<HandleSource>(copy, folder_);
  }

 private:
  HANDLE file_;
  std::string folder_;
};

}  // namespace

std::unique_ptr<Scratch> NewScratch() {
  std::wstring folder(MAX_PATH + 1, L'\0');
  folder.resize(::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
  if (folder.empty()) throw LastErrorFailure("GetTempPathW");
  static unsigned next = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::wstring name = folder + L"quelvar-" + std::to_wstring(next++) + L".tmp";
    // The system deletes it once its last handle closes, however the
    // program ends.
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) return std::make_unique<HandleScratch>(file, Utf8(folder));
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  throw LastErrorFailure(Utf8(folder));
}

std::unique_ptr<LineReader> OpenFileForInput(const std::string& path, std::size_t held_characters) {
  // Others may read and write it meanwhile, as with the system's default
  // sharing for a file opened to be read.
  const std::wstring name = WidePath(path);
  HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A folder of that name reads as on Linux, not as a permission denied.
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw FileFailure(EISDIR, path);
    }
    throw LastErrorFailure(path);
  }
  const bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
  std::unique_ptr<ByteSource> source = std::make_unique<HandleSource>(file, path);
  if (!regular) source = ReadToScratch(*source);
  return std::make_unique<LineReader>(std::move(source), held_characters);
}

namespace {

// The new files beside `path` that crashes left (TemporaryName's, or
// ".<name>.nuevo" of earlier versions): each removed unless it is in use
// (a living run keeps its own so) or no plain file.
void RemoveLeftovers(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string name = path.substr(path.find_last_of("\\/") + 1);
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(WidePath(JoinPath(folder, "." + name + ".*")).c_str(),
                                     FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string entry = Utf8(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!IsTemporaryNameOf(entry, name) && entry != "." + name + ".nuevo")) {
      continue;
    }
    // Opened with no sharing: only a file nobody holds opens so.
    HANDLE leftover = ::CreateFileW(WidePath(JoinPath(folder, entry)).c_str(), DELETE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (leftover == INVALID_HANDLE_VALUE) continue;
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(leftover, FileDispositionInfo, &gone, sizeof gone);
    ::CloseHandle(leftover);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

}  // namespace

std::unique_ptr<LineWriter> OpenFileForOutput(const std::string& path, const TextFormat& format,
                                              const std::string&) {
  RemoveLeftovers(path);
  for (;;) {
    std::string temporary = TemporaryName(path);
    // Others may read it; nobody else may write or remove it meanwhile.
    HANDLE file =
        ::CreateFileW(WidePath(temporary).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      throw LastErrorFailure(path);
    }
    auto sink = std::make_unique<HandleSink>(file, path, std::move(temporary));
    CheckReplaceable(path);
    return std::make_unique<LineWriter>(std::move(sink), format);
  }
}

}  // namespace quelvar
