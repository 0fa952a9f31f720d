// The record of every change to the activity table, in the database itself
// and in the same transaction as the change, so that it exists exactly when
// the change committed: an entry per committed run (an import, one stopped
// at a malformed line, an undo), and the table as it was before each of the
// last ten, to put it back.
//
//   importaciones (numero, cuando_utc, cuando_local, usuario, dominio, equipo,
//                  version, archivo, bytes, sha256, codificacion, marca,
//                  fin_de_linea, leidas, insertadas, no_insertadas, desenlace,
//                  linea_detenida, deshace, filas_antes, filas, resumen)
//   nomencla_anterior_N: a copy of nomencla as it was before change N,
//                  its columns and rows
//
// Made on first use; a database without them works as before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/resumen.h"
#include "platform/database.h"
#include "platform/system.h"

namespace quelvar {

// How many of the last changes keep the table as it was before them.
inline constexpr std::int64_t kTablasGuardadas = 10;

// How a change ended, as the record writes it.
inline constexpr std::string_view kCompleta = "completa";
inline constexpr std::string_view kDetenida = "detenida";
inline constexpr std::string_view kDeshecha = "deshecha";

// One entry of the record. What a change had no part of (an undo reads no
// file) is left empty.
struct Entrada {
  std::int64_t numero = 0;
  std::string cuando_utc, cuando_local;
  std::string usuario, dominio, equipo, version;
  // The activity file: its name, size, SHA-256, encoding, mark and line ends.
  std::optional<std::string> archivo;
  std::optional<std::int64_t> bytes;
  std::optional<std::string> sha256, codificacion, fin_de_linea;
  std::optional<bool> marca;
  // The report's totals: lines read, inserted and not.
  std::optional<std::int64_t> leidas, insertadas, no_insertadas;
  std::string desenlace;
  std::optional<std::int64_t> linea_detenida;  // kDetenida: the malformed line
  std::optional<std::int64_t> deshace;         // kDeshecha: the entry undone
  // The rows of the table before the change, and the table it left.
  std::int64_t filas_antes = 0;
  std::int64_t filas = 0;
  std::string resumen;
  // As read back: whether the table before it is still kept (its rows are
  // proved only as they are put back).
  bool tabla_anterior_guardada = false;
};

// The table as it is now, rows and digest.
Resumen Resumen_De_La_Tabla(Database& BaseDatos);

// An entry begun with what every change records: when, who, on which
// machine, with which version.
Entrada Entrada_Nueva(System& sistema);

// A change being recorded, from before the table changes to its entry.
class Historial {
 public:
  // Makes the record's tables where missing, and keeps the table as it is
  // now for the entry this change will be; drops the kept tables older than
  // the last kTablasGuardadas.
  explicit Historial(Database& BaseDatos);

  std::int64_t numero() const { return numero_; }
  std::int64_t filas_antes() const { return filas_antes_; }

  // The run stored this row: the digest of the new table follows it, where
  // nothing else changed the table.
  void Insertada(std::string_view codigo, std::string_view actividad, double alicuota);

  // Puts back the table kept before entry `numero` (every row, with its
  // rowid, as it was stored); whether the table is now the kept one, of the
  // `filas` rows it was kept with (the table's own rules, a trigger, may
  // keep rows from coming back).
  bool Restaurar(std::int64_t numero, std::int64_t filas);

  // Writes the entry of this change, with the table it leaves.
  void Anotar(Entrada entrada);

  // The newest entry, where there is one.
  static std::optional<Entrada> Ultima(Database& BaseDatos);
  // Every entry, newest first.
  static std::vector<Entrada> Todas(Database& BaseDatos);

 private:
  Database& base_;
  std::int64_t numero_;
  std::int64_t filas_antes_ = 0;
  Resumen nuevas_;            // the rows stored since
  std::int64_t cambios_ = 0;  // the connection's changes when the table began to change
};

}  // namespace quelvar
