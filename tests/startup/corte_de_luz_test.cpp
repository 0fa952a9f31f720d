// Power cuts and failing disks. The program runs with registro_es loaded,
// which writes down every call that changes the folder's files and every
// message line. From that record each cut point is rebuilt as a journaling
// file system may leave it (writes not synced lost or torn at 512-byte
// sectors, file lengths not synced lost, folder entries not synced lost from
// some point on), and Debian's sqlcipher shell, the first to open the file,
// judges it: integrity ok and the old table or the new one; once the user
// has been told anything, the new one, and the whole Act.log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "import/actividades.h"
#include "startup/programa.h"

namespace quelvar {
namespace {

constexpr int kSector = 512;

struct Op {
  char kind = 0;  // as registro_es writes it
  unsigned long ino = 0;
  std::string name;
  std::string to;  // a rename's new name
  long long offset = 0;
  long long size = 0;
  std::string data;
};

struct Registro {
  std::vector<Op> ops;
  long changing = 0;  // calls that change files, failing ones included
};

Registro Leer(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Registro r;
  for (std::string header; std::getline(in, header);) {
    std::istringstream words(header);
    Op op;
    words >> op.kind;
    long long length = 0;
    int fd = 0;
    switch (op.kind) {
      case 'A':
      case 'N':
      case 'L':
        words >> op.ino >> op.name;
        break;
      case 'O':
        words >> op.ino;
        break;
      case 'T':
        words >> op.ino >> op.size;
        break;
      case 'W':
        words >> op.ino >> op.offset >> length;
        break;
      case 'S':
        words >> op.ino;
        break;
      case 'U':
        words >> op.name;
        break;
      case 'R':
        words >> op.name >> op.to;
        break;
      case 'M':
        words >> fd >> length;
        break;
      case 'F':
        words >> r.changing;
        continue;
    }
    op.data.resize(static_cast<std::size_t>(length));
    in.read(op.data.data(), length);
    r.ops.push_back(std::move(op));
  }
  return r;
}

// A file as the disk holds it and as the system's cache does.
struct Archivo {
  std::string durable;
  std::string actual;
  std::vector<Op> pending;  // writes and truncations since the last sync
};

// How much of what is not synced a cut keeps.
enum class Suerte { kNada, kTodo, kAzar };

class Disco {
 public:
  // The files of `folder` that the run may change, as they are before it:
  // all on the disk. With `ntfs`, a file's sync also keeps every change to
  // the folder before it: NTFS logs those in one sequential log, which a
  // flush writes out up to the file's own last change.
  Disco(const std::string& folder, bool ntfs) : ntfs_(ntfs) {
    for (const char* name : {"Impuest.mdb", "Impuest.mdb-journal", "Act.log"}) {
      const std::string path = folder + "/" + name;
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;
      const std::string content = ReadFile(path);
      names_durable_[name] = st.st_ino;
      archivos_[st.st_ino] = {content, content, {}};
    }
    names_ = names_durable_;
  }

  void Apply(const Op& op) {
    switch (op.kind) {
      case 'N':
        archivos_[op.ino] = {};
        names_[op.name] = op.ino;
        folder_pending_.push_back(op);
        break;
      case 'O':
        archivos_[op.ino] = {};
        break;
      case 'L':
        names_[op.name] = op.ino;
        folder_pending_.push_back(op);
        break;
      case 'T':
        archivos_[op.ino].actual.resize(static_cast<std::size_t>(op.size));
        archivos_[op.ino].pending.push_back(op);
        break;
      case 'W': {
        std::string& a = archivos_[op.ino].actual;
        const std::size_t end = static_cast<std::size_t>(op.offset) + op.data.size();
        if (a.size() < end) a.resize(end);
        a.replace(static_cast<std::size_t>(op.offset), op.data.size(), op.data);
        archivos_[op.ino].pending.push_back(op);
        break;
      }
      case 'S':
        archivos_[op.ino].durable = archivos_[op.ino].actual;
        archivos_[op.ino].pending.clear();
        if (ntfs_) KeepFolder();
        break;
      case 'D':
        KeepFolder();
        break;
      case 'U':
        names_.erase(op.name);
        folder_pending_.push_back(op);
        break;
      case 'R':
        names_[op.to] = names_[op.name];
        names_.erase(op.name);
        folder_pending_.push_back(op);
        break;
    }
  }

  // What a power cut now could leave: file name to content.
  std::map<std::string, std::string> Cut(Suerte suerte, std::mt19937& azar) const {
    auto keep = [&] { return suerte == Suerte::kTodo || (suerte == Suerte::kAzar && azar() % 2); };
    // The folder's entries reach the disk in order, up to some point.
    std::size_t kept = suerte == Suerte::kTodo   ? folder_pending_.size()
                       : suerte == Suerte::kNada ? 0
                                                 : azar() % (folder_pending_.size() + 1);
    std::map<std::string, unsigned long> names = names_durable_;
    for (std::size_t i = 0; i < kept; ++i) {
      const Op& op = folder_pending_[i];
      if (op.kind == 'N' || op.kind == 'L') names[op.name] = op.ino;
      if (op.kind == 'U') names.erase(op.name);
      if (op.kind == 'R') {
        names[op.to] = names[op.name];
        names.erase(op.name);
      }
    }
    std::map<std::string, std::string> files;
    for (const auto& [name, ino] : names) {
      const Archivo& a = archivos_.at(ino);
      std::string content = a.durable;
      for (const Op& op : a.pending) {
        if (op.kind == 'T') {
          if (keep()) content.resize(static_cast<std::size_t>(op.size));
          continue;
        }
        // Each sector of a write reaches the disk, or does not.
        for (long long at = op.offset; at < op.offset + static_cast<long long>(op.data.size());) {
          const long long end =
              std::min<long long>((at / kSector + 1) * kSector, op.offset + op.data.size());
          if (keep()) {
            if (content.size() < static_cast<std::size_t>(end)) content.resize(end);
            content.replace(at, end - at, op.data, at - op.offset, end - at);
          }
          at = end;
        }
      }
      // The length is the one synced, or the one the cache has.
      content.resize(keep() ? a.actual.size() : a.durable.size());
      files[name] = content;
    }
    return files;
  }

 private:
  void KeepFolder() {
    names_durable_ = names_;
    folder_pending_.clear();
  }

  bool ntfs_;
  std::map<unsigned long, Archivo> archivos_;
  std::map<std::string, unsigned long> names_durable_;
  std::map<std::string, unsigned long> names_;
  std::vector<Op> folder_pending_;
};

// What the shell sees in a database: its integrity check, its table and,
// with `registro`, the record of its changes where there is one.
std::string Visto(const std::string& base, bool registro = false) {
  try {
    return ShellSql(base, std::string("PRAGMA integrity_check; SELECT * FROM nomencla ORDER BY "
                                      "rowid;") +
                              (registro ? "\n.dump importaciones\n.dump nomencla_anterior_%" : ""));
  } catch (const std::exception& e) {
    return std::string("(el shell no la lee) ") + e.what();
  }
}

// The settings that make `p` run with registro_es writing to `log`.
std::vector<std::string> Registrando(const Programa& p, const std::string& log,
                                     const std::string& extra = "",
                                     const std::vector<std::string>& sistema = {}) {
  std::vector<std::string> env = sistema;
  env.insert(env.end(), {"LD_PRELOAD=" QUELVAR_REGISTRO_ES, "QUELVAR_REGISTRO=" + log,
                         "QUELVAR_REGISTRO_CARPETA=" + p.folder().path(),
                         // The sanitized build's runtime must otherwise come first.
                         "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
  if (!extra.empty()) env.push_back(extra);
  return env;
}

struct Veredicto {
  int cuts = 0;
  int states = 0;  // distinct database and journal pairs the shell judged
  int old_table = 0;
  int new_table = 0;
  int told = 0;  // cut points after the first message
  std::vector<std::string> bad;
};

// The system a run is judged on.
struct Sistema {
  std::vector<std::string> environment;  // for the recorded run
  bool ntfs = false;                     // as Disco takes it
};

// Runs the program in `p` once, recorded, and judges every cut point of
// the record: each just before and just after a call that is not a mere
// write, and every 16th write, with nothing unsynced kept, all of it, and
// twice at random.
Veredicto Cortar(Programa& p, const Sistema& sistema, int expected_status,
                 const std::string& omit = "", const std::string& args = "") {
  const std::string base = p / "Impuest.mdb";
  const std::string old_seen = Visto(base, true);
  Disco disco(p.folder().path(), sistema.ntfs);
  const std::string log = p / "registro";
  std::filesystem::remove(log);
  const Outcome o =
      p.Run(args, Registrando(p, log, omit.empty() ? "" : "QUELVAR_REGISTRO_OMITIR=" + omit,
                              sistema.environment));
  EXPECT_EQ(o.status, expected_status) << o.out << o.err;
  const std::string new_seen = Visto(base, true);
  const std::string report = Exists(p / "Act.log") ? ReadFile(p / "Act.log") : "";
  const bool report_promised = (o.status == 0 || o.status == 3) && args != "--deshacer";
  EXPECT_EQ(old_seen.rfind("ok\n", 0), 0u) << old_seen;
  EXPECT_EQ(new_seen.rfind("ok\n", 0), 0u) << new_seen;
  const Registro r = Leer(log);

  TempFolder estados;
  std::map<std::size_t, std::string> judged;
  std::mt19937 azar(20261210);
  Veredicto v;
  bool told = false;
  int writes = 0;
  for (std::size_t i = 0; i <= r.ops.size(); ++i) {
    if (i > 0) {
      disco.Apply(r.ops[i - 1]);
      told = told || r.ops[i - 1].kind == 'M';
    }
    // Within a run of writes, every 16th.
    writes = i > 0 && r.ops[i - 1].kind == 'W' ? writes + 1 : 0;
    if (i > 0 && i < r.ops.size() && r.ops[i - 1].kind == 'W' && r.ops[i].kind == 'W' &&
        writes % 16 != 0) {
      continue;
    }
    ++v.cuts;
    v.told += told;
    for (Suerte suerte : {Suerte::kNada, Suerte::kTodo, Suerte::kAzar, Suerte::kAzar}) {
      std::map<std::string, std::string> files = disco.Cut(suerte, azar);
      const auto journal = files.find("Impuest.mdb-journal");
      const std::string both =
          files["Impuest.mdb"] + '\0' + (journal == files.end() ? "-" : journal->second);
      const std::size_t key = std::hash<std::string>{}(both);
      auto seen = judged.find(key);
      if (seen == judged.end()) {
        std::filesystem::remove(estados / "Impuest.mdb-journal");
        WriteFile(estados / "Impuest.mdb", files["Impuest.mdb"]);
        if (journal != files.end()) WriteFile(estados / "Impuest.mdb-journal", journal->second);
        seen = judged.emplace(key, Visto(estados / "Impuest.mdb", true)).first;
        ++v.states;
        v.old_table += seen->second == old_seen;
        v.new_table += seen->second == new_seen;
      }
      std::string fault;
      if (seen->second != old_seen && seen->second != new_seen) {
        fault = "neither table: " + seen->second.substr(0, 200);
      } else if (told && seen->second != new_seen) {
        fault = "the old table after the user was told";
      } else if (told && report_promised && files["Act.log"] != report) {
        fault = "Act.log lost or cut (" + std::to_string(files["Act.log"].size()) + " of " +
                std::to_string(report.size()) + " bytes) after the user was told";
      }
      if (!fault.empty()) v.bad.push_back("op " + std::to_string(i) + ": " + fault);
    }
  }
  return v;
}

class CorteDeLuz : public ::testing::Test {
 protected:
  CorteDeLuz() = default;
  CorteDeLuz(const std::string& binary, Sistema sistema)
      : sistema_(std::move(sistema)), p_(binary) {}

  // A new database and no report nor journal, as before a first run.
  void Fresh() {
    for (const char* name : {"Impuest.mdb", "Impuest.mdb-journal", "Act.log"}) {
      std::filesystem::remove(p_ / name);
    }
    p_.MakeDatabase();
  }
  void Generate(int lines, const std::string& after = "") {
    ASSERT_EQ(Shell(std::string(QUELVAR_GENERATOR) + " " + std::to_string(lines) + " " +
                    (p_ / "Actividades.txt") + " /dev/null"),
              0);
    if (!after.empty()) WriteFile(p_ / "Actividades.txt", ReadFile(p_ / "Actividades.txt") + after);
  }
  static void Report(const char* what, const Veredicto& v) {
    std::printf(
        "%s: %d cut points, %d states judged by the shell (old table %d, new %d), "
        "%d of the cut points after a message\n",
        what, v.cuts, v.states, v.old_table, v.new_table, v.told);
    std::fflush(stdout);  // before a forked child's stdio writes it again
  }

  // A normal run, one rolled back by the table's own rule, one stopped by a
  // malformed line, a check, an undo of an import: nothing the user was told
  // is taken back by a cut, and the table is never without its record.
  void NothingTheUserWasToldIsTakenBack() {
    struct Caso {
      const char* what;
      int lines;
      std::string after;  // appended to the generated file
      const char* rule;   // run on the database first
      int status;
      const char* args = "";
      bool imported = false;  // the file imported first, unrecorded
    };
    const Caso casos[] = {
        {"import", 20000, "", "", 0},
        // Its table, before and after, is the old one.
        {"check", 5000, "", "", 0, "--comprobar"},
        {"rolled back", 500, Actividades("X|no|100|/"),
         "CREATE TRIGGER anular BEFORE INSERT ON nomencla WHEN NEW.codigo = 'X' "
         "BEGIN SELECT RAISE(ROLLBACK, 'no'); END;",
         1},
        {"malformed line", 500, Actividades("1|sin tasa/"), "", 3},
        {"undo", 2000, "", "", 0, "--deshacer", true},
    };
    for (const Caso& caso : casos) {
      SCOPED_TRACE(caso.what);
      Fresh();
      if (*caso.rule != '\0') RunSql(p_ / "Impuest.mdb", caso.rule);
      Generate(caso.lines, caso.after);
      if (caso.imported) {
        ASSERT_EQ(p_.Run().status, 0);
      }
      const Veredicto v = Cortar(p_, sistema_, caso.status, "", caso.args);
      Report(caso.what, v);
      EXPECT_TRUE(v.bad.empty()) << v.bad.size() << " bad states, the first: " << v.bad[0];
      EXPECT_GT(v.told, 0) << "no cut after a message";
      if (caso.status != 1) {
        EXPECT_GT(v.old_table, 0);
        EXPECT_GT(v.new_table, 0);
      }
    }
  }

  // The judge sees what a missing sync would cost: a run whose journal,
  // report or folder (`omit`) is never synced leaves states it must refuse.
  void ARunThatSkipsASyncIsCaught(std::initializer_list<const char*> omit) {
    for (const char* name : omit) {
      SCOPED_TRACE(name);
      Fresh();
      Generate(300);
      const Veredicto v = Cortar(p_, sistema_, 0, name);
      ASSERT_FALSE(v.bad.empty());
      std::printf("without the syncs of %s: %zu bad states, the first: %s\n", name, v.bad.size(),
                  v.bad[0].c_str());
      std::fflush(stdout);
    }
  }

  Sistema sistema_;
  Programa p_;
};

TEST_F(CorteDeLuz, NothingTheUserWasToldIsTakenBack) { NothingTheUserWasToldIsTakenBack(); }

TEST_F(CorteDeLuz, ARunThatSkipsASyncIsCaught) {
  ARunThatSkipsASyncIsCaught({"Impuest.mdb-journal", "Act.log", "."});
}

// quelvar.exe under Wine, whose file calls reach Linux's in its own process
// (writes, truncations, syncs) and in Wine's server (creations, removals):
// the recorder, loaded into both, sees them all, and Wine's trace of each
// message box marks the messages. Judged as on NTFS, which keeps a folder's
// changes only as part of a file's flush (Windows has no folder sync).
// Runs where QUELVAR_WINDOWS names the Windows build (make test-windows).
// Only the trace of a message box counts as a message on standard error, not
// Wine's own notices there.
class CorteDeLuzWindows : public CorteDeLuz {
 protected:
  CorteDeLuzWindows()
      : CorteDeLuz(QUELVAR_WINE_LAUNCHER,
                   {{"WINEDEBUG=-all,trace+dialog", "QUELVAR_REGISTRO_MENSAJE=trace:dialog",
                     "WINEPREFIX=" + Build() + "/wine"},
                    true}) {}
  void SetUp() override {
    if (Build().empty()) GTEST_SKIP() << "QUELVAR_WINDOWS names no Windows build";
    std::filesystem::copy_file(Build() + "/quelvar.exe", p_ / "quelvar.exe");
  }
  static std::string Build() {
    const char* build = std::getenv("QUELVAR_WINDOWS");
    return build == nullptr ? "" : build;
  }
};

TEST_F(CorteDeLuzWindows, NothingTheUserWasToldIsTakenBack) { NothingTheUserWasToldIsTakenBack(); }

TEST_F(CorteDeLuzWindows, ARunThatSkipsASyncIsCaught) {
  ARunThatSkipsASyncIsCaught({"Impuest.mdb-journal", "Act.log"});
}

// Each call that changes a file fails in turn: once, from then on (a disk
// that goes away), with the disk full from then on, or as a short write.
// Whatever the program says must be what the shell finds; and the next run
// must recover and import.
TEST(FallasDeDisco, EachCallFailingInTurnNeverGivesAFalseSuccessNorDamage) {
  Programa p;
  p.MakeDatabase();
  WriteFile(p / "Actividades.txt",
            Actividades("1|Uno|100|/2|Dos|x|/3|Tres|3.5|/4|Cuatro|400|/1|Uno|100|/"));
  const std::string base = p / "Impuest.mdb";
  const std::string before = p / "antes.mdb";
  std::filesystem::copy_file(base, before);
  // The report of an earlier run, which stays unless the table changes.
  const std::string earlier = "de antes\r\n";
  auto restore = [&] {
    std::filesystem::remove(base + "-journal");
    WriteFile(p / "Act.log", earlier);
    std::filesystem::copy_file(before, base, std::filesystem::copy_options::overwrite_existing);
  };
  auto leftovers = [&] {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(p.folder().path())) {
      n += entry.path().filename().string().rfind(".Act.log.", 0) == 0;
    }
    return n;
  };
  const std::string log = p / "registro";
  const std::string old_seen = Visto(base);
  ASSERT_EQ(p.Run("", Registrando(p, log)).status, 0);
  const std::string new_seen = Visto(base);
  const std::string report = ReadFile(p / "Act.log");
  const long calls = Leer(log).changing;
  ASSERT_GT(calls, 10);

  std::map<int, int> statuses;
  for (const char* mode : {"una", "siempre", "lleno", "corta"}) {
    for (long n = 1; n <= calls; ++n) {
      SCOPED_TRACE(std::string(mode) + " at call " + std::to_string(n));
      restore();
      const Outcome o =
          p.Run("", Registrando(p, log, "QUELVAR_FALLA=" + std::to_string(n) + ":" + mode));
      ++statuses[o.status];
      const std::string seen = Visto(base);
      if (o.status == 0) {
        EXPECT_EQ(seen, new_seen) << "success reported for a table not loaded";
        EXPECT_EQ(ReadFile(p / "Act.log"), report);
      } else if (o.status == 1 || o.status == 2) {
        EXPECT_EQ(seen, old_seen) << "the table was said to stay as it was: " << o.out << o.err;
        EXPECT_EQ(ReadFile(p / "Act.log"), earlier) << "the report of a table left as it was";
      } else if (o.status == 4) {
        EXPECT_EQ(seen, new_seen) << "the new table was said to be loaded: " << o.err;
      } else {
        ADD_FAILURE() << "exit status " << o.status << ": " << o.out << o.err;
      }
      const Outcome next = p.Run();
      EXPECT_EQ(next.status, 0) << next.out << next.err;
      EXPECT_EQ(Visto(base), new_seen);
      EXPECT_EQ(ReadFile(p / "Act.log"), report);
      EXPECT_EQ(leftovers(), 0) << "a new report left beside Act.log";
    }
  }
  std::printf("%ld calls, each failing in 4 ways: exit 0 %d, 1 %d, 2 %d, 4 %d\n", calls,
              statuses[0], statuses[1], statuses[2], statuses[4]);
  EXPECT_GT(statuses[4], 0) << "no fault came after the commit";
}

}  // namespace
}  // namespace quelvar
