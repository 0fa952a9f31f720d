// What a check found, told in words.
#include "startup/texto_comprobacion.h"

#include <string_view>
#include <vector>

namespace quelvar {
namespace {

std::string Desenlace_En_Palabras(int salida) {
  switch (salida) {
    case 0:
      return "la importación terminaría";
    case 2:
      return "no es posible conectarse a la base";
    case 3:
      return "la importación se detendría en una línea mal formada; las filas anteriores "
             "quedarían cargadas";
    default:
      return "un error detendría la importación; la tabla quedaría como está";
  }
}

std::string Texto_Resultado(int salida) {
  return "Resultado: " + Desenlace_En_Palabras(salida) + " (estado " + std::to_string(salida) +
         ").\n";
}

// The report's lines as text, whatever its encoding.
std::vector<std::string> Lineas_Informe(std::string_view bytes, const TextFormat& formato) {
  const std::string_view marca = ByteOrderMark(formato.encoding);
  if (formato.byte_order_mark && bytes.starts_with(marca)) bytes.remove_prefix(marca.size());
  std::string texto;
  AppendUtf8(formato.encoding, bytes, texto);
  const std::string_view fin = formato.lf_line_ends ? "\n" : "\r\n";
  std::vector<std::string> lineas;
  std::size_t desde = 0;
  while (desde < texto.size()) {
    std::size_t hasta = texto.find(fin, desde);
    if (hasta == std::string::npos) hasta = texto.size();
    lineas.push_back(texto.substr(desde, hasta - desde));
    desde = hasta + fin.size();
  }
  return lineas;
}

}  // namespace

std::string Texto_Comprobacion(const Hallazgos& h, int salida) {
  std::string texto = "Comprobación de " + h.archivo +
                      ": nada se cambió, ni la base ni Act.log.\n\nMensajes que mostraría:\n";
  for (const std::string& mensaje : h.mensajes) texto += "  " + mensaje + "\n";
  if (h.informe) {
    texto += "\nAct.log tendría:\n";
    for (const std::string& linea : Lineas_Informe(*h.informe, h.formato)) {
      texto += "  " + linea + "\n";
    }
  }
  if (salida == 3) {
    texto += "\nLa importación se detendría en la línea " + std::to_string(*h.detenida_en) +
             ", sin sus tres signos ¬.\n";
  }
  if (h.cambios) {
    const Cambios& c = *h.cambios;
    texto += "\nCambios en la tabla nomencla, por código y actividad:\n";
    texto += "Actividades nuevas: " + std::to_string(c.nuevas) + "\n" + c.lista_nuevas;
    texto += "Actividades quitadas: " + std::to_string(c.quitadas) + "\n" + c.lista_quitadas;
    texto += "Alícuotas que cambian: " + std::to_string(c.cambian) + "\n" + c.lista_cambian;
    texto += "Filas sin cambios: " + std::to_string(c.iguales) + "\n";
    if (c.pares_repetidos > 0) {
      texto += "Pares de código y actividad repetidos en la tabla actual: " +
               std::to_string(c.pares_repetidos) +
               " (cada fila cuenta una vez; las que sobran se cuentan como quitadas)\n";
    }
  }
  return texto + "\n" + Texto_Resultado(salida);
}

std::string Resumen_Comprobacion(const Hallazgos& h, int salida) {
  std::string texto =
      "Comprobación de " + h.archivo + ": nada se cambió.\n\n" + Texto_Resultado(salida);
  if (!h.mensajes.empty()) texto += "Último mensaje: " + h.mensajes.back() + "\n";
  texto += "Líneas leídas: " + std::to_string(h.leidas) +
           "; rechazadas: " + std::to_string(h.rechazadas) + ".\n";
  if (h.cambios) {
    texto += "Actividades nuevas: " + std::to_string(h.cambios->nuevas) +
             "; quitadas: " + std::to_string(h.cambios->quitadas) +
             "; alícuotas que cambian: " + std::to_string(h.cambios->cambian) +
             "; sin cambios: " + std::to_string(h.cambios->iguales) + ".\n";
  }
  return texto +
         "\nPara ver las listas, ejecute desde una consola (cmd.exe):\n"
         "  quelvar.exe --comprobar > comprobacion.txt\n";
}

}  // namespace quelvar
