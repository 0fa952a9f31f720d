// Line reading, field scan and rate checks on arbitrary bytes.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "import/campos.h"
#include "platform/failure.h"
#include "platform/fake_env.h"

namespace {

using quelvar::Campos;
using quelvar::kTerminador;

// The scan exactly as the format defines it, one character at a time: the
// oracle for the fast one. Nothing when the position overflows.
std::optional<Campos> EscaneoLiteral(std::string_view linea) {
  std::string_view campos[3];
  int p = 1;
  for (auto& campo : campos) {
    std::size_t desde = static_cast<std::size_t>(p) - 1;
    std::size_t largo = 0;
    int c = -1;
    while (c != static_cast<unsigned char>(kTerminador)) {
      if (static_cast<std::size_t>(p) <= linea.size()) {
        c = static_cast<unsigned char>(linea[static_cast<std::size_t>(p) - 1]);
      } else {
        c = linea.empty() ? -1 : static_cast<unsigned char>(linea.back());
      }
      ++largo;
      if (p == 32767) return std::nullopt;
      ++p;
    }
    // Past the end the accumulated characters are copies of the last one.
    campo = desde < linea.size() ? linea.substr(desde, largo - 1) : std::string_view();
  }
  return Campos{campos[0], campos[1], campos[2]};
}

void RevisarTasa(std::string_view tasa, const quelvar::NumberFormat& formato) {
  const bool numerico = quelvar::Es_Numerico(tasa, formato);
  try {
    double valor = quelvar::Valor_Alicuota(tasa, formato);
    FUZZ_CHECK(numerico);
    FUZZ_CHECK(valor - valor == 0);  // finite
  } catch (const quelvar::Failure& f) {
    if (f.kind() == quelvar::FailureKind::kTypeMismatch) {
      FUZZ_CHECK(!numerico);
    } else {
      FUZZ_CHECK(f.kind() == quelvar::FailureKind::kOverflow && numerico);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string entrada(reinterpret_cast<const char*>(data), size);
  auto lector = quelvar::NewStringReader(entrada, 1 + size % 13);

  std::size_t leidos = 0;
  std::string linea;
  while (!lector->AtEnd()) {
    lector->ReadLine(linea);
    FUZZ_CHECK(linea.find('\r') == std::string::npos);
    FUZZ_CHECK(entrada.compare(leidos, linea.size(), linea) == 0);
    leidos += linea.size();
    if (leidos < size) {  // the line end: CR, or CR LF
      FUZZ_CHECK(entrada[leidos] == '\r');
      ++leidos;
      if (leidos < size && entrada[leidos] == '\n') ++leidos;
    }

    std::optional<Campos> esperado = EscaneoLiteral(linea);
    Campos campos;
    try {
      quelvar::Separar_Campos(linea, campos);
    } catch (const quelvar::Failure& f) {
      FUZZ_CHECK(f.kind() == quelvar::FailureKind::kOverflow);
      FUZZ_CHECK(!esperado.has_value());
      continue;
    }
    FUZZ_CHECK(esperado.has_value());
    FUZZ_CHECK(campos.codigo == esperado->codigo);
    FUZZ_CHECK(campos.actividad == esperado->actividad);
    FUZZ_CHECK(campos.tasa == esperado->tasa);
    RevisarTasa(campos.tasa, quelvar::NumberFormat{"."});
    RevisarTasa(campos.tasa, quelvar::NumberFormat{","});
  }
  FUZZ_CHECK(leidos == size);
  return 0;
}
