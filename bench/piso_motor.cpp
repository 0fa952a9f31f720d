// The engine's floor for a load: the rows of a tab-separated file inserted
// with one prepared INSERT each, in one transaction, on the engine and
// connection settings the program uses, and nothing else: no checks, no
// look-up, no report.
//
//   piso_motor Impuest.mdb filas.tsv
#include <charconv>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/database.h"
#include "platform/failure.h"
#include "startup/form1.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("uso: piso_motor Impuest.mdb filas.tsv\n", stderr);
    return 64;
  }
  std::ifstream filas(argv[2], std::ios::binary);
  if (!filas) {
    std::perror(argv[2]);
    return 1;
  }
  try {
    auto base = quelvar::NewSqlCipherEngine()->OpenDatabase(argv[1], false, false,
                                                            quelvar::kConexion);
    quelvar::Transaction transaccion(*base);
    quelvar::Statement& insertar = base->Prepared("INSERT INTO nomencla VALUES (?, ?, ?)");
    std::string fila;
    while (std::getline(filas, fila)) {
      const std::size_t a = fila.find('\t');
      const std::size_t b = fila.find('\t', a + 1);
      insertar.BindText(1, std::string_view(fila).substr(0, a));
      insertar.BindText(2, std::string_view(fila).substr(a + 1, b - a - 1));
      double alicuota = 0;
      std::from_chars(fila.data() + b + 1, fila.data() + fila.size(), alicuota);
      insertar.BindDouble(3, alicuota);
      insertar.Step();
      insertar.Reset();
    }
    transaccion.Commit();
  } catch (const quelvar::Failure& falla) {
    std::fprintf(stderr, "piso_motor: Error %d: %s\n", falla.number(), falla.what());
    return 1;
  }
  return 0;
}
