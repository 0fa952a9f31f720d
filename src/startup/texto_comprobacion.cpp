// What a check found, told in words.
#include "startup/texto_comprobacion.h"

#include <algorithm>

#include "startup/texto_historial.h"

namespace quelvar {
namespace {

std::string Desenlace_En_Palabras(Estado salida, const std::string& tarea) {
  switch (salida) {
    case Estado::kImportacionCompleta:
      return tarea + " terminaría";
    case Estado::kNadaQueDeshacer:
      return "no hay nada que deshacer; la tabla quedaría como está";
    case Estado::kSinConexion:
      return "no es posible conectarse a la base";
    case Estado::kEstructuraIncorrecta:
      return "la importación se detendría en una línea mal formada; las filas anteriores "
             "quedarían cargadas";
    default:
      return "un error detendría " + tarea + "; la tabla quedaría como está";
  }
}

std::string Texto_Resultado(Estado salida, const std::string& tarea) {
  return "Resultado: " + Desenlace_En_Palabras(salida, tarea) + " (estado " +
         std::to_string(Codigo(salida)) + ").\n";
}

// Text handed on a buffer at a time.
class Salida {
 public:
  explicit Salida(const std::function<void(std::string_view)>& escribir) : escribir_(escribir) {}
  Salida& operator<<(std::string_view texto) {
    buffer_.append(texto);
    if (buffer_.size() >= 1 << 16) Vaciar();
    return *this;
  }
  void Vaciar() {
    if (!buffer_.empty()) escribir_(buffer_);
    buffer_.clear();
  }

 private:
  const std::function<void(std::string_view)>& escribir_;
  std::string buffer_;
};

// The lines a LineWriter wrote in `formato` into `borrador`, read back; each
// is written out a piece at a time (Escribir_Linea), however long.
LineReader Lector(Scratch& borrador, const TextFormat& formato) {
  return LineReader(borrador.Reader(), formato, 1024);
}

// Text for the listing, one line per entry: a line end inside it is shown as
// "\n" or "\r".
void Escapado(std::string_view texto, Salida& salida) {
  for (std::size_t at; (at = texto.find_first_of("\r\n")) != std::string_view::npos;) {
    salida << texto.substr(0, at) << (texto[at] == '\n' ? "\\n" : "\\r");
    texto.remove_prefix(at + 1);
  }
  salida << texto;
}

// The line as text, escaped, read from `archivo` a piece at a time.
void Escribir_Linea(LineReader& archivo, const Line& linea, Salida& salida) {
  Decoder decoder(archivo.format().encoding);
  std::string texto;
  archivo.ForEachPiece(linea, [&](std::string_view bytes) {
    decoder.Feed(bytes, texto);
    Escapado(texto, salida);
    texto.clear();
  });
  decoder.End(texto);
  Escapado(texto, salida);
}

// "No insertadas por motivo: ...": the count of each reason, of the lines
// the run counts as not inserted (all that stay out but the one it stops
// at), in the order of the verdicts.
std::string Cuentas(const Hallazgos& h) {
  std::vector<std::pair<std::string_view, std::int64_t>> cuentas;
  for (int v = 0; v <= static_cast<int>(Veredicto::kEstructuraIncorrecta); ++v) {
    const Regla regla = Regla_De(static_cast<Veredicto>(v));
    if (regla.contada && std::none_of(cuentas.begin(), cuentas.end(),
                                      [&](const auto& c) { return c.first == regla.motivo; })) {
      cuentas.emplace_back(regla.motivo, 0);
    }
  }
  std::int64_t total = 0;
  for (const Linea_Fuera& f : h.fuera) {
    const Regla regla = Regla_De(f.veredicto);
    if (!regla.contada) continue;
    for (auto& [motivo, cuenta] : cuentas) cuenta += motivo == regla.motivo;
    ++total;
  }
  std::string texto = "No insertadas por motivo:";
  for (const auto& [motivo, cuenta] : cuentas) {
    texto +=
        (texto.back() == ':' ? " " : ", ") + std::to_string(cuenta) + " " + std::string(motivo);
  }
  return texto + "; en total " + std::to_string(total) + ".\n";
}

// Why the line stays out, as the list says it: the verdict's words, and
// what its outcome adds.
std::string Por_Que(const Linea_Fuera& f, const Hallazgos& h, std::string_view separador) {
  const std::string motivo(Regla_De(f.veredicto).motivo);
  switch (f.veredicto) {
    case Veredicto::kNoNumerica:
      return motivo + " (separador decimal: \"" + std::string(separador) + "\")";
    case Veredicto::kRepetida: {
      // The line whose row the table holds: the first stored with this pair.
      const auto primera =
          std::lower_bound(h.guardadas.begin(), h.guardadas.end(), f.par,
                           [](const Linea_Guardada& g, std::uint64_t par) { return g.par < par; });
      return primera != h.guardadas.end() && primera->par == f.par
                 ? motivo + " de la línea " + std::to_string(primera->numero)
                 : motivo + " de una fila que la tabla ya tiene";
    }
    case Veredicto::kRechazadaPorTabla:
      return motivo + ": " + h.motivos[f.motivo];
    case Veredicto::kNoConvertida:
    case Veredicto::kFalla:
      return motivo + " (" + h.motivos[f.motivo] + ")";
    case Veredicto::kIlegible:
      return "no se puede leer como " + std::string(EncodingName(h.formato.encoding)) + " (byte " +
             std::to_string(f.byte + 1) + " de la línea)";
    case Veredicto::kEstructuraIncorrecta:
      return std::string(f.detencion == Detencion::kAlicuota ? "su alícuota no cabe en un número"
                         : f.detencion == Detencion::kTercerMasAlla
                             ? "su tercer ¬ está más allá del carácter 32766"
                             : "no tiene sus tres ¬") +
             ": la importación se detendría aquí";
    case Veredicto::kTasaConPunto:
    case Veredicto::kInsertada:
      break;
  }
  return motivo;
}

}  // namespace

void Escribir_Comprobacion(Hallazgos& h, Estado salida, std::string_view separador,
                           const std::function<void(std::string_view)>& escribir) {
  Salida texto(escribir);
  texto << "Comprobación de " << h.archivo
        << ": nada se cambió, ni la base ni Act.log.\n\nMensajes que mostraría:\n";
  for (const std::string& mensaje : h.mensajes) {
    texto << "  ";
    Escapado(mensaje, texto);
    texto << "\n";
  }
  Line linea;
  if (h.informe) {
    if (h.informe_en_su_lugar) {
      texto << "\nAct.log tendría:\n";
      LineReader informe = Lector(*h.informe, h.formato);
      while (!informe.AtEnd()) {
        informe.ReadLine(linea);
        texto << "  ";
        Escribir_Linea(informe, linea, texto);
        texto << "\n";
      }
    } else {
      texto << "\nAct.log quedaría como está: la tabla no cambiaría.\n";
    }
    texto << "\nLíneas que no entrarían en la tabla (las de alícuota con punto se cuentan pero "
             "no se listan en Act.log):\n";
    std::sort(h.guardadas.begin(), h.guardadas.end(), [](const auto& a, const auto& b) {
      return a.par != b.par ? a.par < b.par : a.numero < b.numero;
    });
    if (h.textos_fuera) {
      LineReader textos = Lector(*h.textos_fuera, h.formato);
      for (const Linea_Fuera& f : h.fuera) {
        textos.ReadLine(linea);
        texto << "  línea " << std::to_string(f.numero) << ": ";
        Escapado(Por_Que(f, h, separador), texto);
        texto << ": ";
        Escribir_Linea(textos, linea, texto);
        texto << "\n";
      }
    }
    texto << Cuentas(h);
  }
  if (salida == Estado::kEstructuraIncorrecta) {
    const Detencion por_que = h.fuera.back().detencion;
    texto << "\nLa importación se detendría en la línea " << std::to_string(*h.detenida_en)
          << (por_que == Detencion::kAlicuota ? ": su alícuota no cabe en un número.\n"
              : por_que == Detencion::kTercerMasAlla
                  ? ": su tercer signo ¬ está más allá del carácter 32766.\n"
                  : ", sin sus tres signos ¬.\n");
  }
  if (h.cambios) {
    const Cambios& c = *h.cambios;
    texto << "\nCambios en la tabla nomencla, por código y actividad:\n";
    texto << "Actividades nuevas: " << std::to_string(c.nuevas) << "\n";
    std::unique_ptr<ByteSource> nuevas = h.nuevas->Reader();
    std::string trozo(1 << 16, '\0');
    for (std::size_t n; (n = nuevas->Read(trozo.data(), trozo.size())) > 0;) {
      texto << std::string_view(trozo.data(), n);
    }
    texto << "Actividades quitadas: " << std::to_string(c.quitadas) << "\n" << c.lista_quitadas;
    texto << "Alícuotas que cambian: " << std::to_string(c.cambian) << "\n" << c.lista_cambian;
    texto << "Filas sin cambios: " << std::to_string(c.iguales) << "\n";
    if (c.pares_repetidos > 0) {
      texto << "Pares de código y actividad repetidos en la tabla actual: "
            << std::to_string(c.pares_repetidos)
            << " (cada fila cuenta una vez; las que sobran se cuentan como quitadas)\n";
    }
  }
  if (h.entrada) {
    texto << "\nQuedaría en el historial:\n  " << Linea_Del_Historial(*h.entrada) << "\n";
  }
  texto << "\n" << Texto_Resultado(salida, h.tarea);
  texto.Vaciar();
}

std::string Resumen_Comprobacion(const Hallazgos& h, Estado salida) {
  std::string texto =
      "Comprobación de " + h.archivo + ": nada se cambió.\n\n" + Texto_Resultado(salida, h.tarea);
  if (!h.mensajes.empty()) texto += "Último mensaje: " + h.mensajes.back() + "\n";
  texto += "Líneas leídas: " + std::to_string(h.leidas) +
           "; rechazadas: " + std::to_string(h.rechazadas) + ".\n";
  if (h.informe) texto += Cuentas(h);
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
