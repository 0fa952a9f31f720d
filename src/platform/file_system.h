// Whole files: whether one is there, a new name for one, putting one in
// place without replacing another, removing one.
#pragma once

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

bool FileExists(const std::string& path);
// True when `path` is a file that holds nothing.
bool FileIsEmpty(const std::string& path);

// True when the folder that holds `path` lets this process create files in it.
bool FolderTakesNewFiles(const std::string& path);

// Creates an empty file under a new name in the folder of `beside`, and
// returns that name.
std::string CreateTemporaryFile(const std::string& beside);

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
