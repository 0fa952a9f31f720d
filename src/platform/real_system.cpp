// What the real platforms share, written once.
#include "platform/system_env.h"

namespace quelvar {

std::string ExecutableFolder() {
  // Whatever length the path has: the buffer grows until it fits.
  std::optional<std::string> path;
  for (std::size_t capacity = 4096; !(path = ExecutablePath(capacity)); capacity *= 2) {
  }
  return path->substr(0, path->find_last_of(kPathSeparators));
}

std::string SystemEnv::AppPath() { return ExecutableFolder(); }

std::unique_ptr<LineReader> SystemEnv::OpenForInput(const std::string& path,
                                                    std::size_t held_characters) {
  return OpenFileForInput(path, held_characters);
}

std::unique_ptr<LineWriter> SystemEnv::OpenForOutput(const std::string& path,
                                                     const TextFormat& format,
                                                     const std::string& like) {
  return OpenFileForOutput(path, format, like);
}

const NumberFormat& SystemEnv::RegionalSettings() {
  if (!number_format_) number_format_ = UserNumberFormat();
  return *number_format_;
}

DBEngine& SystemEnv::Engine() {
  if (!engine_) engine_ = NewSqlCipherEngine();
  return *engine_;
}

}  // namespace quelvar
