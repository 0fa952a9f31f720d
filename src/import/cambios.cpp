#include "import/cambios.h"

#include <algorithm>

namespace quelvar {
namespace {

using Valor = std::optional<std::string_view>;

// NULL first, then text as bytes: the order of the engine's BINARY collation.
int Comparar_Valor(const Valor& a, const Valor& b) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  const int c = a->compare(*b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int Comparar_Par(const Foto::Fila& a, const Foto::Fila& b) {
  const int c = Comparar_Valor(a.codigo, b.codigo);
  return c != 0 ? c : Comparar_Valor(a.actividad, b.actividad);
}

void Agregar_Campo(std::string& linea, const Valor& valor) {
  linea.append(valor ? *valor : std::string_view("(nulo)"));
}

void Agregar_Par(std::string& lista, char marca, const Foto::Fila& fila) {
  lista.push_back(marca);
  lista.push_back(' ');
  Agregar_Campo(lista, fila.codigo);
  lista.append(" | ");
  Agregar_Campo(lista, fila.actividad);
  lista.append(" | ");
}

void Agregar_Fila(std::string& lista, char marca, const Foto::Fila& fila) {
  Agregar_Par(lista, marca, fila);
  Agregar_Campo(lista, fila.alicuota);
  lista.push_back('\n');
}

}  // namespace

Foto Foto::Tomar(Database& BaseDatos) {
  Foto foto;
  Statement& filas = BaseDatos.Prepared("SELECT codigo, actividad, alicuota FROM nomencla");
  while (filas.Step() == StepResult::kRow) {
    foto.Agregar({filas.ColumnText(0), filas.ColumnText(1), filas.ColumnText(2)});
  }
  filas.Reset();
  foto.Ordenar();
  return foto;
}

void Foto::Agregar(const Fila& fila) {
  Entrada entrada{texto_.size(), {0, 0, 0}, 0};
  const Valor valores[3] = {fila.codigo, fila.actividad, fila.alicuota};
  for (int i = 0; i < 3; ++i) {
    if (!valores[i]) {
      entrada.nulos |= static_cast<std::uint8_t>(1 << i);
      continue;
    }
    entrada.largo[i] = static_cast<std::uint32_t>(valores[i]->size());
    texto_.append(*valores[i]);
  }
  filas_.push_back(entrada);
}

Foto::Fila Foto::operator[](std::size_t i) const {
  const Entrada& e = filas_[i];
  Valor valores[3];
  std::uint64_t desde = e.inicio;
  for (int v = 0; v < 3; ++v) {
    if (e.nulos & (1 << v)) continue;
    valores[v] = std::string_view(texto_).substr(desde, e.largo[v]);
    desde += e.largo[v];
  }
  return {valores[0], valores[1], valores[2]};
}

void Foto::Ordenar() {
  std::vector<std::size_t> orden(filas_.size());
  for (std::size_t i = 0; i < orden.size(); ++i) orden[i] = i;
  std::sort(orden.begin(), orden.end(), [this](std::size_t a, std::size_t b) {
    const Fila x = (*this)[a];
    const Fila y = (*this)[b];
    const int c = Comparar_Par(x, y);
    return c != 0 ? c < 0 : Comparar_Valor(x.alicuota, y.alicuota) < 0;
  });
  std::vector<Entrada> ordenadas;
  ordenadas.reserve(filas_.size());
  for (std::size_t i : orden) ordenadas.push_back(filas_[i]);
  filas_.swap(ordenadas);
}

Cambios Comparar(const Foto& antes, const Foto& despues) {
  Cambios cambios;
  std::size_t i = 0;
  std::size_t j = 0;
  std::vector<Foto::Fila> viejas;
  std::vector<Foto::Fila> nuevas;
  while (i < antes.size() || j < despues.size()) {
    // The next pair in order, and its rows on each side.
    int lado = i == antes.size()     ? 1
               : j == despues.size() ? -1
                                     : Comparar_Par(antes[i], despues[j]);
    viejas.clear();
    nuevas.clear();
    const Foto::Fila par = lado <= 0 ? antes[i] : despues[j];
    while (lado <= 0 && i < antes.size() && Comparar_Par(antes[i], par) == 0) {
      viejas.push_back(antes[i++]);
    }
    while (lado >= 0 && j < despues.size() && Comparar_Par(despues[j], par) == 0) {
      nuevas.push_back(despues[j++]);
    }
    if (viejas.size() > 1) ++cambios.pares_repetidos;

    // Both sides are in rate order: equal rates meet as in a merge.
    std::vector<Foto::Fila> sin_par_viejas;
    std::vector<Foto::Fila> sin_par_nuevas;
    std::size_t v = 0;
    std::size_t n = 0;
    while (v < viejas.size() || n < nuevas.size()) {
      const int c = v == viejas.size()   ? 1
                    : n == nuevas.size() ? -1
                                         : Comparar_Valor(viejas[v].alicuota, nuevas[n].alicuota);
      if (c == 0) {
        ++cambios.iguales;
        ++v;
        ++n;
      } else if (c < 0) {
        sin_par_viejas.push_back(viejas[v++]);
      } else {
        sin_par_nuevas.push_back(nuevas[n++]);
      }
    }
    const std::size_t cambiadas = std::min(sin_par_viejas.size(), sin_par_nuevas.size());
    for (std::size_t k = 0; k < cambiadas; ++k) {
      Agregar_Par(cambios.lista_cambian, '*', sin_par_viejas[k]);
      Agregar_Campo(cambios.lista_cambian, sin_par_viejas[k].alicuota);
      cambios.lista_cambian.append(" -> ");
      Agregar_Campo(cambios.lista_cambian, sin_par_nuevas[k].alicuota);
      cambios.lista_cambian.push_back('\n');
      ++cambios.cambian;
    }
    for (std::size_t k = cambiadas; k < sin_par_viejas.size(); ++k) {
      Agregar_Fila(cambios.lista_quitadas, '-', sin_par_viejas[k]);
      ++cambios.quitadas;
    }
    for (std::size_t k = cambiadas; k < sin_par_nuevas.size(); ++k) {
      Agregar_Fila(cambios.lista_nuevas, '+', sin_par_nuevas[k]);
      ++cambios.nuevas;
    }
  }
  return cambios;
}

}  // namespace quelvar
