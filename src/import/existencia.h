// The duplicate check: whether the table already holds a code and activity
// pair, as the table itself compares them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/database.h"

namespace quelvar {

// Asks, for a run that has just emptied the table, whether it holds a row
// with this code and activity (UTF-8) under its own comparison (the
// columns' affinity and collation). Every answer is the table's, whatever
// was asked or told before and in whatever order: Insertado and Anticipar
// only make answers faster.
//
// The table is asked when one of its indexes serves the question. Without
// one, every question would read the whole table: then the pairs stored
// from now on are kept, indexed, in a temporary table that compares them as
// the table does, and that is asked instead; the database's own structure
// is never changed. Where the table compares as bytes (TEXT columns, BINARY
// collation, an index) and starts empty, a pair never told stored is
// answered from a fixed 2 MiB filter without asking; any change to the
// table that was not told (a trigger's row) drops the filter for good.
class Existencia {
 public:
  explicit Existencia(Database& BaseDatos);

  bool Existe(std::string_view codigo, std::string_view actividad);
  // The run stored a row with this pair.
  void Insertado(std::string_view codigo, std::string_view actividad);
  // Existe may soon be asked about this pair: its part of the filter is
  // fetched into the cache meanwhile.
  void Anticipar(std::string_view codigo, std::string_view actividad);

 private:
  // One cache line of the filter: the four bits of a pair lie in one.
  struct alignas(64) Linea {
    std::uint64_t palabras[8];
  };
  Linea& Linea_De(std::uint64_t dispersion);
  bool Marcado(std::uint64_t dispersion);
  void Marcar(std::uint64_t dispersion);

  Database& base_;
  const bool por_indice_;  // one of the table's indexes answers the query
  Statement& consulta_;
  std::unique_ptr<Linea[]> filtro_;
  std::int64_t cambios_ = 0;  // the connection's changes the filter knows of
};

}  // namespace quelvar
