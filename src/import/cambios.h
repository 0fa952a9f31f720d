// What a run changes in the activity table: its rows before and after, held
// in memory, compared row by row on the pair (codigo, actividad).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"

namespace quelvar {

// Every row of `nomencla` as the engine renders it as text (the rate as the
// table stores it: 1.5, 3.0), sorted by codigo, then actividad, then rate,
// each compared as bytes, NULL first. About 24 bytes a row besides the text.
class Foto {
 public:
  static Foto Tomar(Database& BaseDatos);

  struct Fila {
    std::optional<std::string_view> codigo, actividad, alicuota;
  };
  std::size_t size() const { return filas_.size(); }
  Fila operator[](std::size_t i) const;

 private:
  void Agregar(const Fila& fila);
  void Ordenar();

  struct Entrada {
    std::uint64_t inicio;  // in texto_
    std::uint32_t largo[3];
    std::uint8_t nulos;  // bit i: value i is NULL
  };
  std::string texto_;
  std::vector<Entrada> filas_;
};

// The change from the table before to the one the base holds now. Within
// each pair, rows with the same rate are unchanged, the rest are matched in
// order as rate changes, and what is left over was removed or added: each
// row counts once, so rows an old table repeats and the new one lacks count
// as removed. Each list has a line per row, ordered by codigo, then
// actividad:
//   "+ codigo | actividad | rate", "- codigo | actividad | rate",
//   "* codigo | actividad | old rate -> new rate"; NULL reads "(nulo)", a
// line end inside a value "\n" or "\r".
struct Cambios {
  std::int64_t nuevas = 0;
  std::int64_t quitadas = 0;
  std::int64_t cambian = 0;
  std::int64_t iguales = 0;
  std::int64_t pares_repetidos = 0;  // pairs the old table holds more than once
  std::string lista_quitadas;
  std::string lista_cambian;
};

// Compares `antes` with the table `BaseDatos` holds now, read in Foto's order
// a row at a time (where the table's columns compare as bytes, an index on
// them serves that order, and memory does not follow the new table). The
// added rows, as many as the file that made them may have lines, are handed
// to `nueva` a line at a time, in order; the other lists, bounded by the
// old table, are kept.
Cambios Comparar(const Foto& antes, Database& BaseDatos,
                 const std::function<void(std::string_view)>& nueva);

}  // namespace quelvar
