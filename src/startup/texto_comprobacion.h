// What a check found, told in words: the whole of it for a console, the
// essentials for a message box.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "startup/comprobacion.h"
#include "startup/estado.h"

namespace quelvar {

// The messages, the report, every line that stays out and why, where the
// run would stop, the table's change and the outcome; handed to `escribir` a
// piece at a time, for the lists may be as long as the file. `salida` is the
// run's exit status, `separador` the decimal separator it used.
void Escribir_Comprobacion(Hallazgos& hallazgos, Estado salida, std::string_view separador,
                           const std::function<void(std::string_view)>& escribir);
std::string Resumen_Comprobacion(const Hallazgos& hallazgos, Estado salida);

}  // namespace quelvar
