// A digest of a table's rows, whatever their order: so that a table changed
// since a run left it can be told from the one it left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/database.h"

namespace quelvar {

// Each row's hash (its code and activity as text, its rate as a number, a
// NULL as such), summed in two lanes, with the count of rows: two tables of
// the same rows have the same digest.
class Resumen {
 public:
  void Agregar(std::optional<std::string_view> codigo, std::optional<std::string_view> actividad,
               std::optional<double> alicuota);
  std::int64_t filas() const { return filas_; }
  // 32 hexadecimal digits.
  std::string Texto() const;

  // Of the rows `filas` gives as (codigo, actividad, alicuota), read to their end.
  static Resumen De(Statement& filas);

 private:
  std::uint64_t a_ = 0;
  std::uint64_t b_ = 0;
  std::int64_t filas_ = 0;
};

}  // namespace quelvar
