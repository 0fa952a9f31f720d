// What a run tells whoever follows it, and the one step where a check parts
// from a run: the end of its transaction.
#pragma once

#include <cstdint>

#include "import/campos.h"
#include "import/veredicto.h"
#include "platform/database.h"
#include "platform/text_file.h"

namespace quelvar {

// The line the run has just handled, as it read it: `linea` from `archivo`
// (to be copied whole from there), and its fields once split.
struct Linea_Leida {
  const Line& linea;
  LineReader& archivo;
  const Campos& campos;
};

// The run tells nobody: every call does nothing, except that Guardar_Tabla
// commits. A check overrides them to see what the run would do.
class Seguimiento {
 public:
  virtual ~Seguimiento() = default;
  // The base just opened, before the run's transaction begins.
  virtual void Base_Abierta(Database&) {}
  // The table as it was, just before the run empties it.
  virtual void Tabla_Anterior(Database&) {}
  // How line `numero` of the activity file (counted from 1) left the run.
  virtual void Linea_Procesada(std::int32_t, const Resultado_Linea&, const Linea_Leida&) {}
  // Ends the run's transaction once its new table is complete: commits it.
  virtual void Guardar_Tabla(Database&, Transaction& transaccion) { transaccion.Commit(); }
};

// The program's own run, which nobody follows.
inline Seguimiento& Sin_Seguimiento() {
  static Seguimiento ninguno;
  return ninguno;
}

}  // namespace quelvar
