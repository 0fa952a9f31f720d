// The program's exit statuses, what a script that starts it reads: each
// written once, here.
#pragma once

namespace quelvar {

enum class Estado : int {
  kImportacionCompleta = 0,
  kFalla = 1,  // a failure stopped the program; the table as it was
  kSinConexion = 2,
  kEstructuraIncorrecta = 3,    // the rows before the malformed line stay
  kFallaConTablaNueva = 4,      // a failure after the new table was committed
  kComprobacionIncompleta = 5,  // the check itself could not be completed
  kNadaQueDeshacer = 6,         // an undo found nothing it could put back; nothing changed
  kUso = 64,                    // the options were used wrongly; nothing was done
};

inline int Codigo(Estado estado) { return static_cast<int>(estado); }

}  // namespace quelvar
