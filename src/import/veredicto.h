// How a line left the run, what the run and a check need to know of it, and
// what follows from each verdict: all of it here, once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar {

enum class Veredicto {
  kInsertada,             // stored in the table
  kTasaConPunto,          // its rate holds a "."
  kNoNumerica,            // its rate is not a number
  kRepetida,              // the table holds its code and activity already
  kRechazadaPorTabla,     // the table's own rules kept it out
  kNoConvertida,          // its rate could not be converted
  kIlegible,              // its bytes are no text in the file's encoding
  kFalla,                 // another failure in its checks, shown to the user
  kEstructuraIncorrecta,  // without its three "¬" within reach: the run stops there
};

// What follows from a verdict: whether the line is copied into Act.log,
// whether it counts among those not inserted, and how a check names that
// reason when it counts the lines by reason (verdicts may share one).
struct Regla {
  bool listada;
  bool contada;
  std::string_view motivo;
};

constexpr Regla Regla_De(Veredicto veredicto) {
  switch (veredicto) {
    case Veredicto::kInsertada:
      return {false, false, {}};
    case Veredicto::kTasaConPunto:
      return {false, true, "la alícuota tiene un punto"};
    case Veredicto::kNoNumerica:
      return {true, true, "la alícuota no es un número"};
    case Veredicto::kRepetida:
      return {true, true, "repite el código y la actividad"};
    case Veredicto::kRechazadaPorTabla:
      return {true, true, "la tabla la rechaza"};
    case Veredicto::kNoConvertida:
    case Veredicto::kFalla:
      return {true, true, "la alícuota no se pudo convertir"};
    case Veredicto::kIlegible:
      return {true, true, "no se puede leer como texto"};
    case Veredicto::kEstructuraIncorrecta:
      break;
  }
  return {false, false, {}};
}

// A line's outcome, made where the run decides it, with what the report and
// a check need of it.
struct Resultado_Linea {
  Veredicto veredicto = Veredicto::kInsertada;
  // kRechazadaPorTabla: the table's rule in words; kNoConvertida, kFalla:
  // the failure's description.
  std::string motivo;
  // kIlegible: where the first of its bytes that is no text lies.
  std::uint64_t byte = 0;
  // kEstructuraIncorrecta: it was its rate, beyond a double, that stopped it,
  // not its terminators.
  bool por_la_alicuota = false;
};

}  // namespace quelvar
