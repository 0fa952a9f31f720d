// `quelvar --comprobar`: the run's own verdicts, told and not kept. Each
// check is compared with the real run on the same files that follows it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

#include "import/actividades.h"
#include "platform/text_encoding.h"
#include "platform/text_file.h"
#include "startup/programa.h"

namespace quelvar {
namespace {

// The lines of the section of `out` that starts with the line `title`, up to
// the next empty line, without their indent.
std::vector<std::string> Section(const std::string& out, const std::string& title) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (inside && line.empty()) break;
    if (inside) lines.push_back(line.rfind("  ", 0) == 0 ? line.substr(2) : line);
    inside = inside || line == title;
  }
  return lines;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A count the check printed, as "<label>: N".
long Count(const std::string& out, const std::string& label) {
  const std::size_t at = out.find("\n" + label + ": ");
  return at == std::string::npos ? -1 : std::stol(out.substr(at + label.size() + 3));
}

// What a file's text says, whatever its encoding, as the program reads it and
// the check lists it: a line end inside a line escaped.
std::vector<std::string> TextOf(const std::string& path) {
  std::vector<std::string> lines;
  auto reader = OpenFileForInput(path, 1 << 20);
  Line line;
  while (!reader->AtEnd()) {
    reader->ReadLine(line);
    std::string escaped;
    for (char c : line.text) escaped += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    lines.push_back(escaped);
  }
  return lines;
}

// Every file in the folder, with its bytes and modification time.
std::string Folder(const Programa& p) {
  std::string all;
  for (const auto& entry : std::filesystem::directory_iterator(p.folder().path())) {
    const std::string name = entry.path().filename().string();
    if (name == "out" || name == "err") continue;
    all += name + " " + std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
           std::to_string(std::hash<std::string>{}(ReadFile(entry.path().string()))) + "\n";
  }
  return all;
}

int CountRows(const Programa& p) {
  return std::stoi(ShellSql(p / "Impuest.mdb", "SELECT count(*) FROM nomencla;"));
}

struct Caso {
  const char* what;
  std::string sql;    // run on the database first
  std::string lines;  // the activity file
  bool elsewhere;     // checked where it lies, not as the folder's Actividades.txt
  int status;
  std::vector<std::string> listed = {};  // lines of the check's output, where they matter
};

TEST(Comprobacion, TellsWhatTheRunWouldDoAndChangesNothing) {
  const std::string utf16 = [] {
    std::string text = "\xFF\xFE";
    for (unsigned char c : std::string(Actividades("7¬Café¬no¬/8¬Té¬80¬/"))) {
      text.push_back(static_cast<char>(c));
      text.push_back('\0');
    }
    return text;
  }();
  const Caso casos[] = {
      {"rejections, a repeated line, a rate with a point",
       "INSERT INTO nomencla VALUES ('002', 'Sigue', 2), ('003', 'Cambia', 3);",
       Actividades("002|Sigue|200|/003|Cambia|350|/004|Nueva "
                   "\xF1|150|/005|Mala|x|/002|Sigue|200|/006|Punto|1.5|/"),
       false, 0},
      {"UTF-16, checked where it lies", "", utf16, true, 0},
      {"the table's own key refuses a row", "CREATE UNIQUE INDEX unico ON nomencla (codigo);",
       Actividades("1|Uno|100|/1|Otro|200|/"), false, 0},
      {"the table's rule rolls back",
       "CREATE TRIGGER anular BEFORE INSERT ON nomencla WHEN NEW.codigo = 'X' "
       "BEGIN SELECT RAISE(ROLLBACK, 'no'); END;",
       Actividades("1|Uno|100|/2|Dos|x|/X|Equis|100|/"), false, 1},
      {"a malformed third line", "", Actividades("1|Uno|100|/2|Dos|x|/3|Tres/4|Cuatro|4|/"), false,
       3},
      {"a byte of windows-1252 in a utf-8 file; a lf inside a line",
       "",
       Actividades("1¬Uno¬100¬/2¬Ma\xEDz¬200¬/3¬Tr\nes¬x¬/"),
       false,
       0,
       {"  línea 2: no se puede leer como UTF-8 (byte 6 de la línea): 2¬Ma\uFFFDz¬200¬\n  línea 3: "
        "la alícuota no es un número (separador decimal: \".\"): 3¬Tr\\nes¬x¬\n"}},
      {"three terminators, the third past the scan's reach",
       "",
       Actividades("1|Uno|100|/") + std::string(32765, 'x') + Actividades("|a|1|/"),
       false,
       3,
       {"  línea 2: su tercer ¬ está más allá del carácter 32766: la importación se "
        "detendría aquí: xx"}},
      {"a repeat of a row a trigger added; a rate beyond a double after a rejected line",
       "CREATE TRIGGER otra AFTER INSERT ON nomencla WHEN NEW.codigo = '1' "
       "BEGIN INSERT INTO nomencla VALUES ('9', 'Nueve', 9); END;",
       Actividades("1|Uno|100|/9|Nueve|900|/2|Dos|x|/3|Tres|1e999|/"),
       false,
       3,
       {"  línea 2: repite el código y la actividad de una fila que la tabla ya tiene: "
        "9¬Nueve¬900¬\n",
        "  línea 4: su alícuota no cabe en un número: la importación se detendría aquí: "
        "3¬Tres¬1e999¬\n",
        "\nLa importación se detendría en la línea 4: su alícuota no cabe en un número.\n"}},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.what);
    Programa p;
    p.MakeDatabase();
    if (!caso.sql.empty()) ShellSql(p / "Impuest.mdb", caso.sql);
    TempFolder elsewhere;
    std::string args = "--comprobar";
    if (caso.elsewhere) {
      WriteFile(elsewhere / "candidato.txt", caso.lines);
      args += " " + (elsewhere / "candidato.txt");
    } else {
      WriteFile(p / "Actividades.txt", caso.lines);
    }
    // A report of an earlier run, an hour old, must stay as it is.
    WriteFile(p / "Act.log", "de antes\r\n");
    std::filesystem::last_write_time(
        p / "Act.log", std::filesystem::last_write_time(p / "Act.log") - std::chrono::hours(1));
    const std::string folder = Folder(p);
    const int rows_before = CountRows(p);

    const Outcome check = p.Run(args);
    EXPECT_EQ(Folder(p), folder) << "the check changed the folder";

    if (caso.elsewhere) WriteFile(p / "Actividades.txt", caso.lines);
    const Outcome run = p.Run();
    EXPECT_EQ(check.status, caso.status) << check.out << check.err;
    EXPECT_EQ(check.status, run.status);
    std::vector<std::string> told = Lines(run.out);
    for (const std::string& line : Lines(run.err)) told.push_back(line);
    EXPECT_EQ(Section(check.out, "Mensajes que mostraría:"), told) << check.out;
    // A run that leaves the table as it was leaves the report that describes it.
    if (run.status == 1) {
      EXPECT_EQ(ReadFile(p / "Act.log"), "de antes\r\n");
      EXPECT_NE(check.out.find("\nAct.log quedaría como está: la tabla no cambiaría.\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(Section(check.out, "Act.log tendría:"), TextOf(p / "Act.log")) << check.out;
    }
    for (const std::string& line : caso.listed) {
      EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
    }
    if (run.status != 1) {
      const long nuevas = Count(check.out, "Actividades nuevas");
      const long quitadas = Count(check.out, "Actividades quitadas");
      const long cambian = Count(check.out, "Alícuotas que cambian");
      const long iguales = Count(check.out, "Filas sin cambios");
      EXPECT_EQ(nuevas - quitadas, CountRows(p) - rows_before) << check.out;
      EXPECT_EQ(iguales + cambian + quitadas, rows_before) << check.out;
    }
    // The entry it shows is the one the run recorded, but for the moment.
    const std::vector<std::string> entrada = Section(check.out, "Quedaría en el historial:");
    const std::vector<std::string> historial =
        Section(p.Run("--historial").out,
                "Historial de " + (p / "Impuest.mdb") + ", del cambio más nuevo al más viejo:");
    EXPECT_EQ(entrada.size(), run.status == 1 ? 0u : 1u) << check.out;
    EXPECT_EQ(historial.empty(), entrada.empty());
    if (!entrada.empty() && !historial.empty()) {
      EXPECT_EQ(SinHora(entrada[0]), SinHora(historial[0]));
    }
  }
}

// The change, row by row: what is added, removed or changes its rate, each
// list in order; a pair the old table repeats counts each of its rows; a
// NULL is shown as such; a line the run rejects changes nothing.
TEST(Comprobacion, TheTablesChangeIsCountedAndListedRowByRow) {
  Programa p;
  p.MakeDatabase();
  ShellSql(p / "Impuest.mdb",
           "DELETE FROM nomencla; INSERT INTO nomencla VALUES ('001', 'Vieja', 1), "
           "('002', 'Sigue', 2), ('003', 'Cambia', 3), ('003', 'Cambia', 3), "
           "(NULL, 'Sin código', 4), ('010', 'B', 1), ('010', 'A', 1);");
  WriteFile(
      p / "Actividades.txt",
      Actividades(
          "010|B|150|/003|Cambia|350|/004|Nueva \xF1|150|/002|Sigue|200|/005|Mala|x|/010|A|100|/"));
  const Outcome o = p.Run("--comprobar");
  EXPECT_EQ(o.status, 0) << o.err;
  const std::size_t desde = o.out.find("Cambios en la tabla");
  const std::string cambios = o.out.substr(desde, o.out.find("\nQuedaría") - desde);
  EXPECT_EQ(cambios,
            "Cambios en la tabla nomencla, por código y actividad:\n"
            "Actividades nuevas: 1\n"
            "+ 004 | Nueva ñ | 1.5\n"
            "Actividades quitadas: 3\n"
            "- (nulo) | Sin código | 4.0\n"
            "- 001 | Vieja | 1.0\n"
            "- 003 | Cambia | 3.0\n"
            "Alícuotas que cambian: 2\n"
            "* 003 | Cambia | 3.0 -> 3.5\n"
            "* 010 | B | 1.0 -> 1.5\n"
            "Filas sin cambios: 2\n"
            "Pares de código y actividad repetidos en la tabla actual: 1 (cada fila cuenta una "
            "vez; las que sobran se cuentan como quitadas)\n");
}

// Each line that stays out, once and in file order, with its number and why,
// the counts by reason adding up to Act.log's; whatever the file's encoding
// and line ends, and under either decimal separator. The run's own Act.log
// stays as it was.
TEST(Comprobacion, TellsEachLineThatStaysOutAndWhy) {
  Programa p;
  const std::string locales = p / "locales";
  std::filesystem::create_directory(locales);
  Shell("localedef -i es_AR -f UTF-8 " + locales + "/es_AR.UTF-8 >/dev/null 2>&1");
  const std::string lineas[] = {
      "011¬Cultivo¬350¬", "012¬Mala¬x¬",    "011¬Cultivo¬350¬", "013¬Punto¬3.5¬",   "014¬Café¬1,5¬",
      "015¬Doble¬1,5,5¬", "016¬Clave¬100¬", "016¬Otra¬100¬",    "017¬Omitida¬100¬", "018¬Sin tasa"};
  const std::string rechazo = ": la alícuota no es un número (separador decimal: \"";
  const std::vector<std::string> punto = {
      "línea 2" + rechazo + ".\"): 012¬Mala¬x¬",
      "línea 3: repite el código y la actividad de la línea 1: 011¬Cultivo¬350¬",
      "línea 4: la alícuota tiene un punto: 013¬Punto¬3.5¬",
      "línea 5" + rechazo + ".\"): 014¬Café¬1,5¬",
      "línea 6" + rechazo + ".\"): 015¬Doble¬1,5,5¬",
      "línea 8: la tabla la rechaza: repite una clave única (UNIQUE constraint failed: "
      "nomencla.codigo): 016¬Otra¬100¬",
      "línea 9: la tabla la rechaza: un disparador la omite: 017¬Omitida¬100¬",
      "línea 10: no tiene sus tres ¬: la importación se detendría aquí: 018¬Sin tasa",
      "No insertadas por motivo: 1 la alícuota tiene un punto, 3 la alícuota no es un número, 1 "
      "repite el código y la actividad, 2 la tabla la rechaza, 0 la alícuota no se pudo "
      "convertir, 0 no se puede leer como texto; en total 7."};
  // Under ",", "1,5" is a number and "1,5,5" still none.
  std::vector<std::string> coma = punto;
  coma.erase(coma.begin() + 3);
  for (std::string& linea : coma) {
    if (const std::size_t at = linea.find(rechazo + "."); at != std::string::npos) {
      linea[at + rechazo.size()] = ',';
    }
  }
  coma.back() =
      "No insertadas por motivo: 1 la alícuota tiene un punto, 2 la alícuota no es un número, 1 "
      "repite el código y la actividad, 2 la tabla la rechaza, 0 la alícuota no se pudo "
      "convertir, 0 no se puede leer como texto; en total 6.";
  const std::pair<TextEncoding, std::string> formas[] = {{TextEncoding::kWindows1252, "\r\n"},
                                                         {TextEncoding::kUtf16LE, "\r\n"},
                                                         {TextEncoding::kUtf8, "\n"}};
  for (const auto& [encoding, fin] : formas) {
    std::string texto = encoding == TextEncoding::kUtf16LE ? "\xEF\xBB\xBF" : "";
    for (const std::string& linea : lineas) texto += linea + fin;
    std::string archivo;
    AppendEncoded(encoding, texto, archivo);
    WriteFile(p / "Actividades.txt", archivo);
    for (const bool es_ar : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(encoding)) + (es_ar ? ", es_AR" : ", C"));
      std::filesystem::remove(p / "Impuest.mdb");
      std::filesystem::remove(p / "Act.log");
      p.MakeDatabase();
      ShellSql(p / "Impuest.mdb",
               "CREATE UNIQUE INDEX unico ON nomencla (codigo); CREATE TRIGGER omitir BEFORE "
               "INSERT ON nomencla WHEN NEW.codigo = '017' BEGIN SELECT RAISE(IGNORE); END;");
      const std::vector<std::string> entorno = {"LOCPATH=" + locales,
                                                es_ar ? "LC_ALL=es_AR.UTF-8" : "LC_ALL=C"};
      const Outcome check = p.Run("--comprobar", entorno);
      EXPECT_EQ(check.status, 3);
      EXPECT_EQ(Section(check.out,
                        "Líneas que no entrarían en la tabla (las de alícuota con punto se "
                        "cuentan pero no se listan en Act.log):"),
                es_ar ? coma : punto)
          << check.out;
      const Outcome run = p.Run("", entorno);
      EXPECT_EQ(Section(check.out, "Act.log tendría:"), TextOf(p / "Act.log"));
      if (encoding == TextEncoding::kWindows1252 && !es_ar) {
        EXPECT_EQ(ReadFile(p / "Act.log"),
                  Actividades("Registros erroneos "
                              ":/012|Mala|x|/011|Cultivo|350|/014|Caf\xE9|1,5|/015|Doble|1,5,5|/"
                              "016|Otra|100|/017|Omitida|100|/"));
      }
    }
  }
}

TEST(Comprobacion, AMissingFileOrAWrongUseIsToldAndDoesNothing) {
  Programa p;
  p.MakeDatabase();
  const std::string folder = Folder(p);
  Outcome o = p.Run("--comprobar " + (p / "no-existe.txt"));
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("  Error 53: No se encontró el archivo: " + (p / "no-existe.txt") + "\n"),
            std::string::npos)
      << o.out;
  for (const char* args : {"--comprobar a b", "--Comprobar", "a --comprobar"}) {
    o = p.Run(args);
    EXPECT_EQ(o.status, 64) << args;
    EXPECT_NE(o.err.find("--comprobar [ARCHIVO]"), std::string::npos) << o.err;
  }
  EXPECT_EQ(Folder(p), folder);
}

// What keeps the check itself from finishing (its scratch space, its
// output) is told as the check's own, with a status of its own, never as a
// failure of the import; the folder keeps what it had.
TEST(Comprobacion, ItsOwnFailuresAreToldAsItsOwn) {
  Programa p;
  p.MakeDatabase();
  WriteFile(p / "Actividades.txt", Actividades("1|Uno|x|/"));
  const std::string a_file = p / "un-archivo";
  WriteFile(a_file, "");
  const std::string folder = Folder(p);
  struct Caso {
    const char* what;
    std::vector<std::string> environment;
    std::function<void()> in_child;
    std::string cause;
  };
  const Caso casos[] = {
      {"no scratch folder",
       {"TMPDIR=/no-existe"},
       {},
       "Error 53: No se encontró el archivo: /no-existe"},
      {"a file as the scratch folder",
       {"TMPDIR=" + a_file},
       {},
       "Error 53: No se encontró el archivo: " + a_file},
      {"a full disk for its output",
       {},
       [] { std::freopen("/dev/full", "w", stdout); },
       "Error 61: Disco lleno: la salida estándar"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.what);
    const Outcome o = p.Run("--comprobar", caso.environment, caso.in_child);
    EXPECT_EQ(o.status, 5) << o.out << o.err;
    EXPECT_EQ(o.err, "quelvar: la comprobación no pudo completarse: " + caso.cause + "\n");
    EXPECT_EQ(o.out.find("detendría"), std::string::npos) << o.out;
    EXPECT_EQ(Folder(p), folder);
  }
}

}  // namespace
}  // namespace quelvar
