#include "import/resumen.h"

#include <bit>
#include <cstdio>

#include "import/dispersion.h"

namespace quelvar {
namespace {

std::uint64_t Fila(std::uint64_t semilla, std::optional<std::string_view> codigo,
                   std::optional<std::string_view> actividad, std::optional<double> alicuota) {
  const std::uint64_t presentes = (codigo ? 1u : 0u) | (actividad ? 2u : 0u) | (alicuota ? 4u : 0u);
  const std::uint64_t largos = Mezclar(
      semilla ^
      (std::uint64_t{codigo ? codigo->size() : 0} << 32 | (actividad ? actividad->size() : 0)) ^
      presentes << 61);
  // Zero is one number, however its sign came.
  const double tasa = alicuota && *alicuota != 0 ? *alicuota : 0.0;
  return Mezclar(Paso(Plegar(Plegar(largos, codigo.value_or("")), actividad.value_or("")),
                      std::bit_cast<std::uint64_t>(tasa)));
}

}  // namespace

void Resumen::Agregar(std::optional<std::string_view> codigo,
                      std::optional<std::string_view> actividad, std::optional<double> alicuota) {
  // The second lane is the row's hash mixed again: one pass over the texts,
  // and sums that cancel in one lane do not in the other.
  const std::uint64_t fila = Fila(0x243F6A8885A308D3u, codigo, actividad, alicuota);
  a_ += fila;
  b_ += Mezclar(fila ^ 0x13198A2E03707344u);
  ++filas_;
}

std::string Resumen::Texto() const {
  char texto[33];
  std::snprintf(texto, sizeof texto, "%016llx%016llx", static_cast<unsigned long long>(a_),
                static_cast<unsigned long long>(b_));
  return texto;
}

Resumen Resumen::De(Statement& filas) {
  Resumen resumen;
  ResetOnExit reinicio(filas);
  while (filas.Step() == StepResult::kRow) {
    resumen.Agregar(filas.ColumnText(0), filas.ColumnText(1), filas.ColumnDouble(2));
  }
  return resumen;
}

}  // namespace quelvar
