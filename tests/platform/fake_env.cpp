#include "platform/fake_env.h"

#include <cerrno>
#include <cstring>

namespace quelvar {
namespace {

class StringSource final : public ByteSource {
 public:
  explicit StringSource(std::string content) : content_(std::move(content)) {}
  std::size_t Read(char* out, std::size_t capacity) override {
    std::size_t n = ReadAt(pos_, out, capacity);
    pos_ += n;
    return n;
  }
  void Rewind() override { pos_ = 0; }
  std::size_t ReadAt(std::uint64_t offset, char* out, std::size_t size) override {
    if (offset >= content_.size()) return 0;
    std::size_t n = std::min<std::size_t>(size, content_.size() - offset);
    std::memcpy(out, content_.data() + offset, n);
    return n;
  }
  void Close() override {}

 private:
  std::string content_;
  std::size_t pos_ = 0;
};

class StringSink final : public ByteSink {
 public:
  StringSink(std::string* out, bool* closed) : out_(out), closed_(closed) {}
  void Write(const char* data, std::size_t size) override { out_->append(data, size); }
  void Sync() override {}
  void Close() override {
    if (closed_ != nullptr) *closed_ = true;
  }

 private:
  std::string* out_;
  bool* closed_;
};

// A file written aside that takes the place of `path` among `files` only
// when put there.
class PlacedSink final : public ByteSink {
 public:
  PlacedSink(std::map<std::string, std::string>& files, std::string path, bool& closed)
      : files_(files), path_(std::move(path)), closed_(closed) {}
  void Write(const char* data, std::size_t size) override {
    (placed_ ? files_[path_] : aside_).append(data, size);
  }
  void Sync() override {}
  void PutInPlace() override {
    if (!placed_) files_[path_] = std::move(aside_);
    placed_ = true;
  }
  void Close() override { closed_ = true; }

 private:
  std::map<std::string, std::string>& files_;
  std::string path_;
  bool& closed_;
  std::string aside_;
  bool placed_ = false;
};

}  // namespace

std::unique_ptr<LineReader> NewStringReader(std::string content, std::size_t buffer_size,
                                            std::size_t held_characters) {
  return std::make_unique<LineReader>(std::make_unique<StringSource>(std::move(content)),
                                      held_characters, buffer_size);
}

std::unique_ptr<LineWriter> NewStringWriter(std::string* out, bool* closed,
                                            const TextFormat& format) {
  return std::make_unique<LineWriter>(std::make_unique<StringSink>(out, closed), format);
}

namespace {

// Hands every call to a connection it does not own.
class Borrowed final : public Database {
 public:
  Borrowed(Database& db, std::int16_t& query_timeout) : db_(db), query_timeout_(query_timeout) {}
  void Execute(std::string_view sql) override { db_.Execute(sql); }
  Statement& Prepared(std::string_view sql) override { return db_.Prepared(sql); }
  std::int64_t TotalChanges() override { return db_.TotalChanges(); }
  void SetQueryTimeout(std::int16_t seconds) override {
    query_timeout_ = seconds;
    db_.SetQueryTimeout(seconds);
  }
  void BeginTrans() override { db_.BeginTrans(); }
  void CommitTrans() override { db_.CommitTrans(); }
  bool Committed() const override { return db_.Committed(); }
  void Rollback() override { db_.Rollback(); }
  void LeaveAsFound() override { db_.LeaveAsFound(); }
  bool IndexServes(std::string_view query) override { return db_.IndexServes(query); }
  ColumnComparison DescribeColumn(std::string_view table, std::string_view column) override {
    return db_.DescribeColumn(table, column);
  }

 private:
  Database& db_;
  std::int16_t& query_timeout_;
};

}  // namespace

std::unique_ptr<Database> SharedEngine::OpenDatabase(const std::string& name, bool exclusive,
                                                     bool read_only, std::string_view connect) {
  const std::string key = name + "|" + std::string(connect);
  auto it = open_.find(key);
  if (it == open_.end()) {
    it = open_.emplace(key, engine_->OpenDatabase(name, exclusive, read_only, connect)).first;
  }
  return std::make_unique<Borrowed>(*it->second, query_timeout);
}

FakeEnv::FakeEnv(std::string app_path) : app_path_(std::move(app_path)) {}

std::string FakeEnv::File(const std::string& name) const {
  auto it = files.find(JoinPath(app_path_, name));
  return it == files.end() ? std::string("<ausente>") : it->second;
}

void FakeEnv::ShowMessage(std::string_view text, Icon icon, std::string_view title) {
  const char* kind = icon == Icon::kInformation ? "i" : icon == Icon::kCritical ? "x" : "-";
  events.push_back(std::string("caja ") + kind + " " + std::string(title) + ": " +
                   std::string(text));
  if (while_message_shown) while_message_shown();
}

void FakeEnv::ShowFailureNotice(const Failure& failure) {
  events.push_back("aviso " + std::to_string(failure.number()) + ": " + failure.description());
}

void FakeEnv::SetMousePointer(MousePointer pointer) {
  events.push_back(pointer == MousePointer::kHourglass ? "puntero reloj" : "puntero normal");
}

void FakeEnv::ShowWaitNotice(std::string_view text) {
  if (!waiting_) events.push_back("espera: " + std::string(text));
  waiting_ = true;
}

void FakeEnv::HideWaitNotice() {
  waiting_ = false;
  events.push_back("fin de espera");
}

std::string FakeEnv::AppPath() {
  if (app_path_fails) throw FileFailure(ENOENT, "/proc/self/exe");
  return app_path_;
}

std::unique_ptr<LineReader> FakeEnv::OpenForInput(const std::string& path,
                                                  std::size_t held_characters) {
  auto it = files.find(path);
  if (it == files.end()) throw FileFailure(ENOENT, path);
  return NewStringReader(it->second, reader_buffer, held_characters);
}

std::unique_ptr<LineWriter> FakeEnv::OpenForOutput(const std::string& path,
                                                   const TextFormat& format, const std::string&) {
  closed[path] = false;
  return std::make_unique<LineWriter>(std::make_unique<PlacedSink>(files, path, closed[path]),
                                      format);
}

const NumberFormat& FakeEnv::RegionalSettings() {
  if (before_regional_settings) before_regional_settings();
  return format;
}

}  // namespace quelvar
