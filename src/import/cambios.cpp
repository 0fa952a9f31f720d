#include "import/cambios.h"

#include <algorithm>

#include "import/tabla.h"

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

// A value as the lists show it, one line per row.
void Agregar_Campo(std::string& linea, const Valor& valor) {
  if (!valor) {
    linea.append("(nulo)");
    return;
  }
  for (char c : *valor) {
    if (c == '\n' || c == '\r') {
      linea.append(c == '\n' ? "\\n" : "\\r");
    } else {
      linea.push_back(c);
    }
  }
}

// A row of the table now, held while its pair is compared.
struct Fila_Leida {
  std::optional<std::string> codigo, actividad, alicuota;
  Foto::Fila Vista() const { return {codigo, actividad, alicuota}; }
};

Fila_Leida Propia(const Foto::Fila& fila) {
  auto copia = [](Valor v) { return v ? std::optional<std::string>(*v) : std::nullopt; };
  return {copia(fila.codigo), copia(fila.actividad), copia(fila.alicuota)};
}

// The table's rows in Foto's order of their pairs, one at a time; a pair's
// rows in any order.
class Filas_En_Orden {
 public:
  explicit Filas_En_Orden(Database& BaseDatos) : filas_(BaseDatos.Prepared(Consulta(BaseDatos))) {
    Avanzar();
  }
  ~Filas_En_Orden() { filas_.Reset(); }

  bool hay() const { return hay_; }
  const Fila_Leida& actual() const { return actual_; }
  void Avanzar() {
    hay_ = filas_.Step() == StepResult::kRow;
    if (hay_) actual_ = Propia({filas_.ColumnText(0), filas_.ColumnText(1), filas_.ColumnText(2)});
  }

 private:
  // Columns that compare their text as bytes give that order themselves,
  // through an index on them where there is one; any others are sorted by
  // their text as bytes (a cast keeps the column's collation).
  static const char* Consulta(Database& BaseDatos) {
    return Compara_Como_Bytes(BaseDatos, "codigo") && Compara_Como_Bytes(BaseDatos, "actividad")
               ? "SELECT codigo, actividad, alicuota FROM nomencla ORDER BY codigo, actividad"
               : "SELECT codigo, actividad, alicuota FROM nomencla ORDER BY CAST(codigo AS TEXT) "
                 "COLLATE BINARY, CAST(actividad AS TEXT) COLLATE BINARY";
  }

  Statement& filas_;
  bool hay_ = false;
  Fila_Leida actual_;
};

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

Cambios Comparar(const Foto& antes, Database& BaseDatos,
                 const std::function<void(std::string_view)>& nueva) {
  Cambios cambios;
  Filas_En_Orden despues(BaseDatos);
  std::size_t i = 0;
  std::vector<Foto::Fila> viejas;
  std::vector<Fila_Leida> nuevas;
  std::string linea;
  while (i < antes.size() || despues.hay()) {
    // The next pair in order, and its rows on each side.
    const int lado = !despues.hay()      ? -1
                     : i == antes.size() ? 1
                                         : Comparar_Par(antes[i], despues.actual().Vista());
    const Fila_Leida par = lado <= 0 ? Propia(antes[i]) : despues.actual();
    viejas.clear();
    nuevas.clear();
    while (lado <= 0 && i < antes.size() && Comparar_Par(antes[i], par.Vista()) == 0) {
      viejas.push_back(antes[i++]);
    }
    while (lado >= 0 && despues.hay() && Comparar_Par(despues.actual().Vista(), par.Vista()) == 0) {
      nuevas.push_back(despues.actual());
      despues.Avanzar();
    }
    std::sort(nuevas.begin(), nuevas.end(), [](const Fila_Leida& a, const Fila_Leida& b) {
      return Comparar_Valor(a.alicuota, b.alicuota) < 0;
    });
    if (viejas.size() > 1) ++cambios.pares_repetidos;

    // Both sides are in rate order: equal rates meet as in a merge.
    std::vector<Foto::Fila> sin_par_viejas;
    std::vector<Foto::Fila> sin_par_nuevas;
    std::size_t v = 0;
    std::size_t n = 0;
    while (v < viejas.size() || n < nuevas.size()) {
      const int c = v == viejas.size() ? 1
                    : n == nuevas.size()
                        ? -1
                        : Comparar_Valor(viejas[v].alicuota, nuevas[n].Vista().alicuota);
      if (c == 0) {
        ++cambios.iguales;
        ++v;
        ++n;
      } else if (c < 0) {
        sin_par_viejas.push_back(viejas[v++]);
      } else {
        sin_par_nuevas.push_back(nuevas[n++].Vista());
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
      linea.clear();
      Agregar_Fila(linea, '+', sin_par_nuevas[k]);
      nueva(linea);
      ++cambios.nuevas;
    }
  }
  return cambios;
}

}  // namespace quelvar
