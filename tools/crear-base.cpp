// Creates a new, empty tax database "Impuest.mdb" in a folder, encrypted with
// the password the program opens it with, holding the table `nomencla` and
// the index that keeps the program's duplicate check fast, for its maker
// alone or for its folder's group. It never overwrites a database.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "platform/database.h"
#include "platform/failure.h"
#include "startup/form1.h"

namespace {

constexpr char kEsquema[] =
    "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);"
    "CREATE INDEX nomencla_codigo_actividad ON nomencla (codigo, actividad);";

constexpr char kUso[] =
    "Uso: crear-base [--compartida] CARPETA\n"
    "Crea CARPETA/Impuest.mdb con la tabla nomencla vacía. Nunca sobrescribe una base.\n"
    "La base es solo de quien la crea (permisos 600). Con --compartida es también\n"
    "del grupo de CARPETA, que puede leerla y escribirla (660): para una carpeta\n"
    "que comparten los empleados de ese grupo. En Windows la base toma siempre\n"
    "los permisos de la carpeta.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUso, stdout);
    return 0;
  }
  const bool compartida = argc == 3 && std::strcmp(argv[1], "--compartida") == 0;
  if (argc != (compartida ? 3 : 2) || (argc == 2 && argv[1][0] == '-')) {
    std::fputs(kUso, stderr);
    return 64;
  }
  const std::string carpeta = argv[argc - 1];
  std::error_code error;
  if (!std::filesystem::is_directory(carpeta, error)) {
    std::fprintf(stderr, "crear-base: no existe la carpeta %s\n", carpeta.c_str());
    return 1;
  }
  // In a sticky folder (as /tmp) only a file's owner may replace it: the
  // clerks could not replace each other's Act.log.
  using std::filesystem::perms;
  if (compartida &&
      (std::filesystem::status(carpeta, error).permissions() & perms::sticky_bit) != perms::none) {
    std::fprintf(stderr,
                 "crear-base: la carpeta %s tiene el bit sticky (como /tmp): allí cada empleado "
                 "solo podría reemplazar su propio Act.log. Quítelo (chmod -t) o use otra "
                 "carpeta.\n",
                 carpeta.c_str());
    return 1;
  }
  const std::string base = quelvar::JoinPath(carpeta, quelvar::kArchivoBase);
  try {
    quelvar::NewSqlCipherEngine()->CreateDatabase(base, quelvar::kConexion, kEsquema, compartida);
  } catch (const quelvar::Failure& falla) {
    if (falla.number() == 58) {
      std::fprintf(stderr, "crear-base: ya existe %s; no se sobrescribe\n", base.c_str());
    } else {
      std::fprintf(stderr, "crear-base: no se pudo crear %s: %s\n", base.c_str(),
                   quelvar::NoticeText(falla).c_str());
      if (compartida && falla.number() == 70) {
        std::fputs(
            "crear-base: para compartirla con el grupo de la carpeta, quien la crea "
            "debe ser de ese grupo\n",
            stderr);
      }
    }
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "crear-base: no se pudo crear %s: memoria insuficiente\n", base.c_str());
    return 1;
  }
  std::printf("Creada %s\n", base.c_str());
  return 0;
}
