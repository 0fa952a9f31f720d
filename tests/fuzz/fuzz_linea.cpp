// Line reading in every encoding, field scan and rate checks on arbitrary bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "import/alicuota.h"
#include "import/campos.h"
#include "platform/failure.h"
#include "platform/fake_env.h"
#include "platform/text_encoding.h"

namespace {

using quelvar::Campos;

// The scan exactly as the format defines it, one character at a time: the
// oracle for the fast one. Nothing when the position overflows.
std::optional<Campos> EscaneoLiteral(std::string_view linea) {
  // The line's characters, each as its bytes.
  std::vector<std::string_view> caracteres;
  for (std::size_t i = 0; i < linea.size();) {
    std::size_t n = 1;
    while (i + n < linea.size() && (static_cast<unsigned char>(linea[i + n]) & 0xC0) == 0x80) ++n;
    caracteres.push_back(linea.substr(i, n));
    i += n;
  }
  auto bytes_antes = [&](std::size_t k) {  // where the k-th character (from 0) starts
    std::size_t b = 0;
    for (std::size_t j = 0; j < k && j < caracteres.size(); ++j) b += caracteres[j].size();
    return b;
  };
  std::string_view campos[3];
  std::size_t p = 1;
  for (auto& campo : campos) {
    const std::size_t desde = p - 1;
    std::size_t largo = 0;
    std::string_view c;
    while (c != quelvar::kTerminador) {
      if (p <= caracteres.size()) {
        c = caracteres[p - 1];
      } else {
        c = caracteres.empty() ? std::string_view() : caracteres.back();
      }
      ++largo;
      if (p == 32767) return std::nullopt;
      ++p;
    }
    // Past the end the accumulated characters are copies of the last one.
    campo =
        desde < caracteres.size()
            ? linea.substr(bytes_antes(desde), bytes_antes(desde + largo - 1) - bytes_antes(desde))
            : std::string_view();
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

  quelvar::Line linea;
  std::uint64_t fin_anterior = 0;
  while (!lector->AtEnd()) {
    lector->ReadLine(linea);
    // Each line's bytes stand in the file where the line says, in order, and
    // its text is valid UTF-8.
    FUZZ_CHECK(linea.whole && linea.start >= fin_anterior && linea.end <= size);
    FUZZ_CHECK(entrada.compare(linea.start, linea.end - linea.start, linea.bytes) == 0);
    fin_anterior = linea.end;
    quelvar::Utf8Check valido;
    valido.Feed(linea.text);
    FUZZ_CHECK(valido.Valid());
    // Bytes that are no text are found among the line's, or are the half
    // code unit the file ends in, just past them; they are shown as U+FFFD.
    FUZZ_CHECK(linea.invalid_at == quelvar::Line::kValid ||
               ((linea.invalid_at < linea.bytes.size() ||
                 (linea.invalid_at == linea.bytes.size() && linea.end + 1 == size)) &&
                linea.text.find("\xEF\xBF\xBD") != std::string::npos));

    std::optional<Campos> esperado = EscaneoLiteral(linea.text);
    Campos campos;
    try {
      quelvar::Separar_Campos(linea.text, campos);
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
  return 0;
}
