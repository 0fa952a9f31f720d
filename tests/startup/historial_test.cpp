// The record of the table's changes, read back by the sqlcipher shell and by
// `quelvar --historial`, and `quelvar --deshacer`, which puts the table back.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "import/actividades.h"
#include "startup/programa.h"

namespace quelvar {
namespace {

const std::string kPrimera = Actividades("1|Uno|100|/2|Dos|x|/3|Tres|3.5|/");
constexpr char kShaPrimera[] = "7c5648c42dfe09a7ce71c2941b353fa20d26c3d466247716e2c45a28a5a197b7";
const std::string kDetenida = Actividades("4|Cuatro|400|/5|sin tasa/");
constexpr char kShaDetenida[] = "baa1b3649369716ce41588342fdc8d254e5da6e8575577c6a8bac2d7b64687b0";

std::string Usuario() { return ::getpwuid(::geteuid())->pw_name; }
std::string Equipo() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

// The table as stored, row by row in order, each value quoted with its type.
std::string Almacenada(const Programa& p) {
  return ShellSql(p / "Impuest.mdb",
                  "SELECT quote(codigo), quote(actividad), quote(alicuota) FROM nomencla "
                  "ORDER BY rowid;");
}

std::string Cabecera(const Programa& p) {
  return "Historial de " + (p / "Impuest.mdb") + ", del cambio más nuevo al más viejo:\n";
}

// An import, one stopped at a malformed line; what each recorded, as the
// shell reads it and as --historial tells it; a change made since by
// another program is told as such.
TEST(Historial, EachImportIsRecordedAndReadBackByTheShellAndByHistorial) {
  Programa p;
  p.MakeDatabase();
  const std::string base = p / "Impuest.mdb";
  Outcome o = p.Run("--historial");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Historial de " + base + ": no hay cambios registrados.\n");
  EXPECT_EQ(ShellSql(base, "SELECT name FROM sqlite_master WHERE type = 'table';"), "nomencla\n");

  // Each in a zone of its own: the local time is the UTC one moved by its offset.
  WriteFile(p / "Actividades.txt", kPrimera);
  ASSERT_EQ(p.Run("", {"TZ=<-03>3"}).status, 0);
  WriteFile(p / "Actividades.txt", kDetenida);
  ASSERT_EQ(p.Run("", {"TZ=<+0530>-5:30"}).status, 3);

  EXPECT_EQ(ShellSql(base,
                     "SELECT numero, usuario, equipo, archivo, bytes, sha256, codificacion, marca, "
                     "fin_de_linea, leidas, insertadas, no_insertadas, desenlace, "
                     "quote(linea_detenida), quote(deshace), filas_antes, filas, "
                     "cuando_local = CASE numero WHEN 1 THEN datetime(cuando_utc, '-3 hours') || "
                     "' -03:00' ELSE datetime(cuando_utc, '+330 minutes') || ' +05:30' END "
                     "FROM importaciones ORDER BY numero;"),
            "1|" + Usuario() + "|" + Equipo() + "|Actividades.txt|35|" + kShaPrimera +
                "|Windows-1252|0|CR LF|3|1|2|completa|NULL|NULL|1|1|1\n"
                "2|" +
                Usuario() + "|" + Equipo() + "|Actividades.txt|27|" + kShaDetenida +
                "|Windows-1252|0|CR LF|1|1|0|detenida|2|NULL|1|1|1\n");
  const std::string quien = Usuario() + "@" + Equipo();
  o = p.Run("--historial");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(SinHora(o.out),
            Cabecera(p) + "  2  <hora>  " + quien +
                "  Actividades.txt (baa1b3649369)  leídas 1, insertadas 1, no insertadas 0  "
                "detenida en la línea 2  tabla anterior guardada\n"
                "  1  <hora>  " +
                quien +
                "  Actividades.txt (7c5648c42dfe)  leídas 3, insertadas 1, no insertadas 2  "
                "completa  tabla anterior guardada\n"
                "La tabla es la que dejó el cambio 2.\n");

  ShellSql(base, "UPDATE nomencla SET alicuota = 9;");
  o = p.Run("--historial");
  EXPECT_NE(o.out.find("\nLa tabla cambió desde el cambio 2: otro programa la modificó.\n"),
            std::string::npos)
      << o.out;
  o = p.Run("--historial --json");
  EXPECT_EQ(o.status, 0);
  for (const std::string& par :
       {std::string("{\"base\": \"") + base + "\", \"cambios\": [{\"numero\": 2, ",
        std::string("\"sha256\": \"") + kShaDetenida + "\"", std::string("\"marca\": false"),
        std::string("\"desenlace\": \"detenida\", \"linea_detenida\": 2, \"deshace\": null"),
        std::string("\"dominio\": null"), std::string("}], \"tabla_sin_cambios\": false}\n")}) {
    EXPECT_NE(o.out.find(par), std::string::npos) << par << "\n" << o.out;
  }
}

// The table comes back as it was stored (its order, NULLs, bytes, a rate kept
// as text), its check first changing nothing; the undo is undone in turn;
// a stopped import is undone as a complete one; Act.log and the activity
// file stay as they are.
TEST(Historial, AnUndoPutsBackTheTableAsStoredAndIsUndoneInTurn) {
  Programa p;
  p.MakeDatabase();
  const std::string base = p / "Impuest.mdb";
  ShellSql(base,
           "DELETE FROM nomencla; INSERT INTO nomencla (rowid, codigo, actividad, alicuota) "
           "VALUES (3, '008', 'Ocho', '2,5'), (7, NULL, 'Sin código', 4), (8, 8, 'Ocho', 2.5), "
           "(20, '007', x'00ff41', 1);");
  const std::string antes = Almacenada(p);
  WriteFile(p / "Actividades.txt", kPrimera);
  ASSERT_EQ(p.Run().status, 0);
  const std::string despues = Almacenada(p);
  const std::string log = ReadFile(p / "Act.log");

  const std::string mdb = ReadFile(base) + ReadFile(base + "-journal");
  const Outcome check = p.Run("--comprobar --deshacer");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(ReadFile(base) + ReadFile(base + "-journal"), mdb);
  EXPECT_NE(check.out.find("\nActividades nuevas: 4\n"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("\nActividades quitadas: 1\n"), std::string::npos);
  EXPECT_NE(check.out.find("\nResultado: el deshacer terminaría (estado 0).\n"), std::string::npos);

  Outcome o = p.Run("--deshacer");
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string dicho = "Quelvar: Se deshizo la importación 1 del <hora> (" + Usuario() +
                            ", Actividades.txt): la tabla vuelve a tener 4 filas; tenía 1 fila.\n";
  EXPECT_EQ(SinHora(o.out), dicho);
  EXPECT_NE(SinHora(check.out).find("\n  " + dicho), std::string::npos) << check.out;
  EXPECT_EQ(Almacenada(p), antes);
  EXPECT_EQ(ReadFile(p / "Act.log"), log);
  EXPECT_EQ(ReadFile(p / "Actividades.txt"), kPrimera);

  o = p.Run("--deshacer");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(SinHora(o.out), "Quelvar: Se deshizo el cambio 2 (que deshizo el 1) del <hora> (" +
                                Usuario() + "): la tabla vuelve a tener 1 fila; tenía 4 filas.\n");
  EXPECT_EQ(Almacenada(p), despues);

  WriteFile(p / "Actividades.txt", kDetenida);
  ASSERT_EQ(p.Run().status, 3);
  ASSERT_EQ(p.Run("--deshacer").status, 0);
  EXPECT_EQ(Almacenada(p), despues);
  o = p.Run("--historial");
  EXPECT_NE(o.out.find("  deshizo el cambio 4  tabla anterior guardada\n"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("La tabla es la que dejó el cambio 5.\n"), std::string::npos);
}

// A table another program gave a key and a column of its own gets them
// back as they were.
TEST(Historial, AnUndoPutsBackColumnsTheRunDoesNotLoad) {
  Programa p;
  p.MakeDatabase();
  const std::string base = p / "Impuest.mdb";
  ShellSql(base,
           "DROP TABLE nomencla; CREATE TABLE nomencla (id INTEGER PRIMARY KEY, codigo TEXT, "
           "actividad TEXT, alicuota REAL, \"la nota\" TEXT DEFAULT 'nueva');"
           "INSERT INTO nomencla VALUES (5, '1', 'Uno', 1, 'vieja'), (9, '2', 'Dos', 2, NULL);");
  const std::string todo = "SELECT rowid, quote(\"la nota\"), * FROM nomencla ORDER BY rowid;";
  const std::string antes = ShellSql(base, todo);
  WriteFile(p / "Actividades.txt", kPrimera);
  ASSERT_EQ(p.Run().status, 0);
  ASSERT_EQ(p.Run("--deshacer").status, 0);
  EXPECT_EQ(ShellSql(base, todo), antes);
}

// Nothing on record, the table before no longer kept, the table changed by
// another program since: the undo and its check refuse, saying which, with
// status 6; a kept table changed since fails as it is put back. The base
// stays as it was to the byte.
TEST(Historial, AnUndoThatCannotBeIsRefusedAndChangesNothing) {
  struct Caso {
    const char* what;
    const char* sql;  // run after one import, or instead where null
    std::string said;
    int status = 6;
  };
  const std::string cambio = "la importación 1 del <hora> (" + Usuario() + ", Actividades.txt)";
  const Caso casos[] = {
      {"nothing on record", nullptr,
       "Quelvar: No hay cambios registrados en la tabla que se puedan deshacer.\n"},
      {"the table before no longer kept", "DROP TABLE nomencla_anterior_1;",
       "Quelvar: La tabla de antes de " + cambio +
           " ya no se guarda (se guardan las de los últimos 10 cambios): no se puede deshacer.\n"},
      {"changed since", "INSERT INTO nomencla VALUES ('9', 'Nueve', 9);",
       "Quelvar: La tabla cambió desde " + cambio +
           ": otro programa la modificó, y deshacer perdería ese cambio. No se cambió nada.\n"},
      {"the kept table changed", "DELETE FROM nomencla_anterior_1;",
       "Error 3019: La tabla no vuelve a quedar como estaba antes de " + cambio +
           ": su copia guardada se modificó o las reglas de la tabla lo impiden; no se cambió "
           "nada\n",
       1},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.what);
    Programa p;
    p.MakeDatabase();
    if (caso.sql != nullptr) {
      WriteFile(p / "Actividades.txt", kPrimera);
      ASSERT_EQ(p.Run().status, 0);
      ShellSql(p / "Impuest.mdb", caso.sql);
    }
    const std::string mdb = ReadFile(p / "Impuest.mdb");
    EXPECT_EQ(p.Run("--comprobar --deshacer").status, caso.status);
    const Outcome o = p.Run("--deshacer");
    EXPECT_EQ(o.status, caso.status);
    EXPECT_EQ(SinHora(o.out + o.err), caso.said);
    EXPECT_EQ(ReadFile(p / "Impuest.mdb"), mdb);
  }
}

// Only the last ten changes keep the table before them: the file, grown by
// ten tables, then grows only by the entries, which stay.
TEST(Historial, KeptTablesAreTheLastTenAndTheFileStopsGrowing) {
  Programa p;
  p.MakeDatabase();
  ASSERT_EQ(
      Shell(std::string(QUELVAR_GENERATOR) + " 2000 " + (p / "Actividades.txt") + " /dev/null"), 0);
  std::vector<std::uintmax_t> sizes;
  for (int i = 0; i < 14; ++i) {
    ASSERT_EQ(p.Run().status, 0);
    sizes.push_back(std::filesystem::file_size(p / "Impuest.mdb"));
  }
  const std::uintmax_t tabla = sizes[2] - sizes[1];
  EXPECT_GT(tabla, 100000u);
  EXPECT_LT(sizes[13] - sizes[11], tabla / 10);
  EXPECT_EQ(ShellSql(p / "Impuest.mdb",
                     "SELECT count(*), min(0 + substr(name, 19)) FROM sqlite_master "
                     "WHERE name LIKE 'nomencla_anterior_%';"
                     "SELECT count(*) FROM importaciones;"),
            "10|5\n14\n");
  EXPECT_NE(p.Run("--historial").out.find("completa  tabla anterior ya no guardada\n"),
            std::string::npos);
}

}  // namespace
}  // namespace quelvar
