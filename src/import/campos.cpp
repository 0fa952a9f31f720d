#include "import/campos.h"

#include <cstring>

#include "platform/failure.h"
#include "platform/text_encoding.h"

namespace quelvar {
namespace {

// Where the first terminator at or after `desde` starts, as find() says it:
// its second byte looked for (0xAC is rare in a line; 0xC2 starts every
// character from U+0080 to U+00BF), then the first one checked.
std::size_t Terminador(std::string_view linea, std::size_t desde) {
  static_assert(kTerminador == "\xC2\xAC");
  for (std::size_t k = desde + 1; k < linea.size();) {
    const void* ac = std::memchr(linea.data() + k, '\xAC', linea.size() - k);
    if (ac == nullptr) break;
    k = static_cast<std::size_t>(static_cast<const char*>(ac) - linea.data());
    if (linea[k - 1] == '\xC2') return k - 1;
    ++k;
  }
  return std::string_view::npos;
}

// The scan with positions counted by `contar`, which gives the characters of
// a piece of the line. False when the position overflows.
template <typename Contar>
bool Escanear(std::string_view linea, Campos& campos, Contar contar) {
  std::size_t p = 1;      // counts from 1, and is never reset within the line
  std::size_t desde = 0;  // where position p starts in the line
  for (std::string_view* campo : {&campos.codigo, &campos.actividad, &campos.tasa}) {
    if (desde < linea.size()) {
      const std::size_t fin = Terminador(linea, desde);
      // No terminator left: past the end the scan would read the last
      // character, not a terminator, until the position overflows.
      if (fin == std::string_view::npos) return false;
      *campo = linea.substr(desde, fin - desde);
      p += contar(*campo);  // the terminator's position
      if (p >= kPosicionTope) return false;
      ++p;
      desde = fin + kTerminador.size();
    } else {
      // Past the end the scan sees the last character: a "¬" ends the field
      // at once, at the cost of one position.
      if (!linea.ends_with(kTerminador) || p >= kPosicionTope) return false;
      *campo = {};
      ++p;
    }
  }
  return true;
}

}  // namespace

void Separar_Campos(std::string_view linea, Campos& campos) {
  // Bytes first: never fewer than characters, and counted for free. Only a
  // line that reaches the limit that way is counted again in characters.
  if (Escanear(linea, campos, [](std::string_view campo) { return campo.size(); })) return;
  if (!Escanear(linea, campos, Characters)) throw OverflowFailure();
}

}  // namespace quelvar
