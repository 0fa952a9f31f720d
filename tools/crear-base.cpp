// Creates a new, empty tax database "Impuest.mdb" in a folder, encrypted with
// the password the program opens it with, holding the table `nomencla` and
// the index that keeps the program's duplicate check fast. It never
// overwrites a database.
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
    "Uso: crear-base CARPETA\n"
    "Crea CARPETA/Impuest.mdb con la tabla nomencla vacía. Nunca sobrescribe una base.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUso, argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 64;
  }
  const std::string carpeta = argv[1];
  std::error_code error;
  if (!std::filesystem::is_directory(carpeta, error)) {
    std::fprintf(stderr, "crear-base: no existe la carpeta %s\n", carpeta.c_str());
    return 1;
  }
  const std::string base = quelvar::JoinPath(carpeta, quelvar::kArchivoBase);
  try {
    quelvar::NewSqlCipherEngine()->CreateDatabase(base, quelvar::kConexion, kEsquema);
  } catch (const quelvar::Failure& falla) {
    if (falla.number() == 58) {
      std::fprintf(stderr, "crear-base: ya existe %s; no se sobrescribe\n", base.c_str());
    } else {
      std::fprintf(stderr, "crear-base: Error %d: %s\n", falla.number(), falla.what());
    }
    return 1;
  } catch (const std::bad_alloc&) {
    std::fputs("crear-base: memoria insuficiente\n", stderr);
    return 1;
  }
  std::printf("Creada %s\n", base.c_str());
  return 0;
}
