// The system's services, as every system gives them.
#include "platform/real_system.h"

namespace quelvar {

std::string ExecutableFolder() {
  // Whatever length the path has: the buffer grows until it fits.
  std::optional<std::string> path;
  for (std::size_t capacity = 4096; !(path = ExecutablePath(capacity)); capacity *= 2) {
  }
  return path->substr(0, path->find_last_of(kPathSeparators));
}

std::string RealSystem::AppPath() { return ExecutableFolder(); }

std::unique_ptr<LineReader> RealSystem::OpenForInput(const std::string& path,
                                                     std::size_t held_characters) {
  return OpenFileForInput(path, held_characters);
}

std::unique_ptr<LineWriter> RealSystem::OpenForOutput(const std::string& path,
                                                      const TextFormat& format,
                                                      const std::string& like) {
  return OpenFileForOutput(path, format, like);
}

std::unique_ptr<Scratch> RealSystem::NewScratch() { return quelvar::NewScratch(); }

const NumberFormat& RealSystem::RegionalSettings() {
  if (!number_format_) number_format_ = UserNumberFormat();
  return *number_format_;
}

Who RealSystem::WhoRuns() { return CurrentUser(); }

Moment RealSystem::Now() { return CurrentMoment(); }

DBEngine& RealSystem::Engine() {
  if (!engine_) engine_ = NewSqlCipherEngine();
  return *engine_;
}

}  // namespace quelvar
