// Whole files: whether one is there, a new name for one, putting one in
// place without replacing another, removing one.
#pragma once

#include <cstdint>
#include <optional>
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

// The name a new file has beside `path` until it is moved over it: always
// the same, so that one a crash left behind is known as the program's own.
inline std::string NewFileName(const std::string& path) {
  const std::size_t name = path.find_last_of(kPathSeparators) + 1;  // 0 when there is none
  return path.substr(0, name) + "." + path.substr(name) + ".nuevo";
}

bool FileExists(const std::string& path);
// Up to the first `n` bytes of the file at `path`, and its size; nothing
// when it cannot be read.
std::optional<std::string> FileStart(const std::string& path, std::size_t n, std::uint64_t& size);
// True when `path` is a file that holds nothing.
bool FileIsEmpty(const std::string& path);

// True when the folder that holds `path` lets this process create files in it.
bool FolderTakesNewFiles(const std::string& path);

// Creates an empty file under a new name in the folder of `beside`, and
// returns that name.
std::string CreateTemporaryFile(const std::string& beside);

// Lets the group of the folder that holds `path` read and write it, as for a
// folder the clerks of a group share: on Linux the file's group becomes the
// folder's, its mode 660; on Windows it keeps the permissions it inherited
// from the folder. Fails where the user is not of that group.
void ShareWithFolder(const std::string& path);

// Gives the file `from` the name `to`, unless a file has that name already:
// then returns false and leaves both as they are.
bool MoveWithoutReplacing(const std::string& from, const std::string& to);

#ifndef _WIN32
// Puts on the disk the entries of the folder that holds `path`: files made,
// renamed or removed there stay so through a power cut. (Windows has no such
// call: there a file's own flush commits its entry, and moves are written
// through.)
void SyncFolderOf(const std::string& path);
#endif

// Removes a file, if it is there; never fails.
void RemoveFile(const std::string& path) noexcept;

// `path` as the database engine must be given it to reach the file whatever
// the length of its name (on Windows, the long form of a long one).
std::string EnginePath(const std::string& path);

}  // namespace quelvar
