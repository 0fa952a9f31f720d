// The statements through which the import changes and queries the activity
// table `nomencla`. Values always travel as parameters, never inside the text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/database.h"

namespace quelvar {

// Deletes every row of the table.
void Vaciar_Tabla(Database& BaseDatos);

// Inserts one row; code and activity are UTF-8. Returns false when the row
// was not stored: the engine refused it under one of the table's rules (a
// key, NOT NULL, CHECK, a trigger's RAISE), whatever conflict clause the
// table declares (the insert says OR ABORT, so nothing is replaced or
// rolled back), or a trigger made the engine skip it. A rule that ends the
// transaction, and any other failure, is thrown.
bool Insertar_Registro(Database& BaseDatos, std::string_view codigo, std::string_view actividad,
                       double alicuota);

// Whether a code and activity pair (UTF-8) is stored already. The table
// itself is asked when one of its indexes serves the question. Without one,
// every question would read the whole table; then the pairs inserted from
// now on are kept, indexed, in a temporary table that compares them as the
// table does (the same type affinity and collation), and that is asked
// instead. The database's own structure is never changed.
//
// Where the table compares the pair as bytes (TEXT columns, BINARY
// collation, an index) and is empty, a pair never seen before is answered
// without asking the table, from a fixed 2 MiB filter of the pairs asked
// about: most lines of a run are new. The filter is dropped for good as soon
// as the table changed in any way but by inserting the pair last answered
// "not there" (a trigger, rows inserted without asking).
class Existencia {
 public:
  explicit Existencia(Database& BaseDatos);
  // May be called with a pair before Existe is asked about it: the filter's
  // memory for the pair is fetched while the line's other checks run.
  void Anticipar(std::string_view codigo, std::string_view actividad);
  bool Existe(std::string_view codigo, std::string_view actividad);

 private:
  // One cache line of the filter.
  struct alignas(64) Linea {
    std::uint64_t palabras[8];
  };
  Linea& LineaDe(std::uint64_t disperso);
  bool Filtra(std::uint64_t disperso);

  Database& base_;
  const bool por_indice_;  // one of the table's indexes answers the query
  Statement& consulta_;
  std::unique_ptr<Linea[]> vistos_;
  std::int64_t cambios_ = 0;   // the connection's changes when last asked
  bool ultima_nueva_ = false;  // the last answer was "not there"
};

// The rate as the insert writes it, whatever the user's locale: a blank (or
// "-" for a negative value), plain decimal digits with "." and no 0 before the
// point below 1, at most 15 significant digits, no trailing zeros. From 1E15
// on, and below 0.0001, the mantissa is followed by "E+" or "E-" and at least
// two exponent digits ( 1.5E+15, 5E-05): plain decimal would claim digits the
// rounding dropped, or run long.
std::string Formatear_Alicuota(double alicuota);

}  // namespace quelvar
