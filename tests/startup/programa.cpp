#include "startup/programa.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace quelvar {

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Programa::Programa(const std::string& binary) {
  std::filesystem::copy_file(binary, folder_ / "quelvar");
}

std::string ShellCommand(const std::string& path) {
  return "sqlcipher -init '" QUELVAR_CLAVE_SHELL "' '" + path + "'";
}

std::string ShellSql(const std::string& path, const std::string& sql) {
  const std::string script = path + ".sql";
  const std::string out = path + ".out";
  WriteFile(script, sql + "\n");
  const std::string command = ShellCommand(path) + " -bail <'" + script + "' >'" + out + "' 2>&1";
  const int status = std::system(command.c_str());
  std::string printed = ReadFile(out);
  std::filesystem::remove(script);
  std::filesystem::remove(out);
  if (status != 0) throw std::runtime_error("sqlcipher: " + printed);
  return printed;
}

std::string SinHora(const std::string& text) {
  // "2026-12-11 10:37:18 -03:00": 9 for a digit, '+' for a sign.
  static constexpr std::string_view kForma = "9999-99-99 99:99:99 +99:99";
  auto es_hora = [&](std::size_t i) {
    for (std::size_t k = 0; k < kForma.size(); ++k) {
      const char c = text[i + k];
      const bool cabe = kForma[k] == '9'   ? c >= '0' && c <= '9'
                        : kForma[k] == '+' ? c == '+' || c == '-'
                                           : c == kForma[k];
      if (!cabe) return false;
    }
    return true;
  };
  std::string sin;
  for (std::size_t i = 0; i < text.size();) {
    if (i + kForma.size() <= text.size() && es_hora(i)) {
      sin += "<hora>";
      i += kForma.size();
    } else {
      sin += text[i++];
    }
  }
  return sin;
}

const std::vector<Row>& Programa::RowsBefore() {
  static const std::vector<Row> rows = {{"viejo", "fila anterior", 1}};
  return rows;
}

void Programa::MakeDatabase() {
  CreateDatabase(
      folder_ / "Impuest.mdb", kPassword,
      std::string(kSchema) + "INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1);");
}

pid_t Programa::Start(const std::string& args, const std::vector<std::string>& environment,
                      const std::function<void()>& in_child) const {
  std::vector<std::string> words = {folder_ / "quelvar"};
  std::istringstream split(args);
  for (std::string word; split >> word;) words.push_back(word);
  const std::string out = folder_ / "out";
  const std::string err = folder_ / "err";
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Started from elsewhere: the files must be found beside the program.
  if (::chdir("/") != 0 || !std::freopen(out.c_str(), "w", stdout) ||
      !std::freopen(err.c_str(), "w", stderr) || !std::freopen("/dev/null", "r", stdin)) {
    ::_exit(127);
  }
  ::setenv("LC_ALL", "C", 1);
  // Terminal mode: no dialog may wait for a click that never comes.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
  if (in_child) in_child();
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

Outcome Programa::Wait(pid_t pid) const {
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return {code, ReadFile(folder_ / "out"), ReadFile(folder_ / "err"), usage.ru_maxrss};
}

}  // namespace quelvar
