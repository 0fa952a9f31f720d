// What a check found, told in words: the whole of it for a console, the
// essentials for a message box.
#pragma once

#include <string>

#include "startup/comprobacion.h"

namespace quelvar {

// The messages, the report, where the run would stop, the table's change
// and the outcome; `salida` is the run's exit status.
std::string Texto_Comprobacion(const Hallazgos& hallazgos, int salida);
std::string Resumen_Comprobacion(const Hallazgos& hallazgos, int salida);

}  // namespace quelvar
