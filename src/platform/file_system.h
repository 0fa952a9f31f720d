// Whole files: whether one is there, a new name for one, putting one in
// place without replacing another, removing one.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace quelvar {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";  // either ends a folder's name
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif

// A file name joined to a folder with the platform's path separator.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path.push_back(kPathSeparator);
  path.append(name);
  return path;
}

// The folder that holds `path`; "." when it names none.
inline std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of(kPathSeparators);
  if (separator == std::string::npos) return ".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

// A name for a new file beside `path` until it takes its place:
// ".<name>.XXXXXX", the six letters and digits chosen anew each time, so
// that nobody can plant it beforehand. One a crash left is known by that form
// (IsTemporaryNameOf).
inline std::string TemporaryName(const std::string& path) {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 random{std::random_device{}()};
  const std::size_t name = path.find_last_of(kPathSeparators) + 1;  // 0 when there is none
  std::string temporary = path.substr(0, name) + "." + path.substr(name) + ".";
  for (int i = 0; i < 6; ++i) temporary.push_back(kLetters[random() % kLetters.size()]);
  return temporary;
}
inline bool IsTemporaryNameOf(std::string_view entry, std::string_view name) {
  return entry.size() == name.size() + 8 && entry[0] == '.' &&
         entry.substr(1, name.size()) == name && entry[name.size() + 1] == '.' &&
         entry.substr(name.size() + 2)
                 .find_first_not_of(
                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") ==
             std::string_view::npos;
}

bool FileExists(const std::string& path);
// Up to the first `n` bytes of the file at `path`, and its size; nothing
// when it cannot be read.
std::optional<std::string> FileStart(const std::string& path, std::size_t n, std::uint64_t& size);

// True when the folder that holds `path` lets this process create files in it.
bool FolderTakesNewFiles(const std::string& path);

// Makes a new folder beside `beside`, under a new name, that only its maker
// may enter: what is built in it cannot be swapped for another file by
// anyone else. Returns its path.
std::string CreatePrivateFolder(const std::string& beside);
// Removes an empty folder; never fails.
void RemoveFolder(const std::string& path) noexcept;

// Creates the empty file `path`, which must not exist, for its maker alone
// or, `shared`, for the group of the folder `shared` names too, as for a
// folder the clerks of a group share: on Linux its group becomes that
// folder's and its mode 660, both set through the new file itself; on
// Windows it keeps the permissions it inherits from its folder. Fails where
// the user is not of that group.
void CreateEmptyFile(const std::string& path, const std::optional<std::string>& shared);

// Fails, as a new file moved over `path` would fail, where one could not
// take its place: `path` a folder, or a file the system keeps from being
// replaced (on Linux immutable, append-only, or another user's in a folder
// with the sticky bit; on Windows read-only, or held open by a program that
// keeps it). Looks, and changes nothing.
void CheckReplaceable(const std::string& path);

// Gives the file `from` the name `to`, unless a file has that name already:
// then returns false and leaves both as they are.
bool MoveWithoutReplacing(const std::string& from, const std::string& to);

#ifndef _WIN32
// Puts on the disk the entries of the folder that holds `path`: files made,
// renamed or removed there stay so through a power cut. (Windows has no such
// call: there a file's own flush commits its entry, and moves are written
// through.)
void SyncFolderOf(const std::string& path);

// Gives the file open as `fd`, just made beside `like`, the permission bits
// of `like` (whatever the umask) and its group where the maker belongs to
// it; where not, the file keeps the group it was given and has no group
// bits, so it never opens itself to a group that has no business with
// `like`. Nothing is changed when `like` cannot be looked at.
void TakeModeAndGroupOf(int fd, const std::string& like);
#endif

// Makes the empty file `path`, if no file has that name, as a file made
// beside `like` (TakeModeAndGroupOf); on Windows, where a new file takes
// what its folder passes on, does nothing.
void CreateLike(const std::string& path, const std::string& like);

// Removes a file, if it is there; never fails.
void RemoveFile(const std::string& path) noexcept;

// `path` as the database engine must be given it to reach the file whatever
// the length of its name (on Windows, the long form of a long one).
std::string EnginePath(const std::string& path);

}  // namespace quelvar
