#include "startup/texto_historial.h"

#include <cstdio>

namespace quelvar {
namespace {

std::string Como_Termino(const Entrada& e) {
  if (e.deshace) return "deshizo el cambio " + std::to_string(*e.deshace);
  if (e.linea_detenida) return "detenida en la línea " + std::to_string(*e.linea_detenida);
  return std::string(kCompleta);
}

std::string Quien(const Entrada& e) {
  return (e.dominio.empty() ? "" : e.dominio + "\\") + e.usuario + "@" + e.equipo;
}

// A JSON string, its quotes and control characters escaped.
std::string Json(const std::string& texto) {
  std::string json = "\"";
  for (unsigned char c : texto) {
    if (c == '"' || c == '\\') {
      json.push_back('\\');
      json.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json.push_back(static_cast<char>(c));
    }
  }
  return json + "\"";
}
std::string Json(const std::optional<std::string>& v) { return v ? Json(*v) : "null"; }
std::string Json(const std::optional<std::int64_t>& v) { return v ? std::to_string(*v) : "null"; }
std::string Json(std::optional<bool> v) { return v ? (*v ? "true" : "false") : "null"; }

}  // namespace

std::string Linea_Del_Historial(const Entrada& e) {
  std::string linea = std::to_string(e.numero) + "  " + e.cuando_local + "  " + Quien(e) + "  ";
  if (e.archivo) {
    linea += *e.archivo + " (" + e.sha256.value_or("").substr(0, 12) + ")  leídas " +
             std::to_string(e.leidas.value_or(0)) + ", insertadas " +
             std::to_string(e.insertadas.value_or(0)) + ", no insertadas " +
             std::to_string(e.no_insertadas.value_or(0)) + "  ";
  }
  return linea + Como_Termino(e) + "  " +
         (e.tabla_anterior_guardada ? "tabla anterior guardada" : "tabla anterior ya no guardada");
}

std::string Historial_En_Texto(const std::string& base, const std::vector<Entrada>& entradas,
                               std::optional<bool> igual) {
  if (entradas.empty()) return "Historial de " + base + ": no hay cambios registrados.\n";
  std::string texto = "Historial de " + base + ", del cambio más nuevo al más viejo:\n";
  for (const Entrada& e : entradas) texto += "  " + Linea_Del_Historial(e) + "\n";
  const std::string ultimo = std::to_string(entradas.front().numero);
  return texto +
         (*igual ? "La tabla es la que dejó el cambio " + ultimo + ".\n"
                 : "La tabla cambió desde el cambio " + ultimo + ": otro programa la modificó.\n");
}

std::string Historial_En_Json(const std::string& base, const std::vector<Entrada>& entradas,
                              std::optional<bool> igual) {
  std::string json = "{\"base\": " + Json(base) + ", \"cambios\": [";
  for (const Entrada& e : entradas) {
    if (&e != &entradas.front()) json += ", ";
    json +=
        "{\"numero\": " + std::to_string(e.numero) + ", \"cuando_utc\": " + Json(e.cuando_utc) +
        ", \"cuando_local\": " + Json(e.cuando_local) + ", \"usuario\": " + Json(e.usuario) +
        ", \"dominio\": " +
        Json(e.dominio.empty() ? std::nullopt : std::optional<std::string>(e.dominio)) +
        ", \"equipo\": " + Json(e.equipo) + ", \"version\": " + Json(e.version) +
        ", \"archivo\": " + Json(e.archivo) + ", \"bytes\": " + Json(e.bytes) +
        ", \"sha256\": " + Json(e.sha256) + ", \"codificacion\": " + Json(e.codificacion) +
        ", \"marca\": " + Json(e.marca) + ", \"fin_de_linea\": " + Json(e.fin_de_linea) +
        ", \"leidas\": " + Json(e.leidas) + ", \"insertadas\": " + Json(e.insertadas) +
        ", \"no_insertadas\": " + Json(e.no_insertadas) + ", \"desenlace\": " + Json(e.desenlace) +
        ", \"linea_detenida\": " + Json(e.linea_detenida) + ", \"deshace\": " + Json(e.deshace) +
        ", \"filas_antes\": " + std::to_string(e.filas_antes) +
        ", \"filas\": " + std::to_string(e.filas) + ", \"resumen\": " + Json(e.resumen) +
        ", \"tabla_anterior_guardada\": " + Json(std::optional<bool>(e.tabla_anterior_guardada)) +
        "}";
  }
  return json + "], \"tabla_sin_cambios\": " + Json(igual) + "}\n";
}

}  // namespace quelvar
