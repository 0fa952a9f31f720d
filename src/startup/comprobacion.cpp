#include "startup/comprobacion.h"

#include <utility>

namespace quelvar {
namespace {

// The report's bytes, kept.
class Memoria final : public ByteSink {
 public:
  explicit Memoria(std::string* bytes) : bytes_(bytes) {}
  void Write(const char* data, std::size_t size) override { bytes_->append(data, size); }
  void Sync() override {}
  void Close() override {}

 private:
  std::string* bytes_;
};

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

}  // namespace

Comprobacion::Comprobacion(Env& entorno, std::optional<std::string> archivo)
    : entorno_(entorno), archivo_(std::move(archivo)) {}

void Comprobacion::Base_Abierta(Database& BaseDatos) {
  // The pages the run changes stay in memory, however many: written into
  // the base and rolled back, they would come back the same but encrypted
  // anew, and the file would not keep its bytes. (Set outside a
  // transaction: the engine applies it only there.)
  BaseDatos.Execute("PRAGMA cache_spill = OFF");
}

void Comprobacion::Tabla_Anterior(Database& BaseDatos) { antes_ = Foto::Tomar(BaseDatos); }

void Comprobacion::Tabla_Nueva(Database& BaseDatos) {
  cambios_ = Comparar(*antes_, Foto::Tomar(BaseDatos));
  antes_.reset();
}

void Comprobacion::ShowFailureNotice(const Failure& failure) {
  mensajes_.push_back("Error " + std::to_string(failure.number()) + ": " + failure.description());
}

void Comprobacion::ShowMessage(std::string_view text, Icon, std::string_view title) {
  mensajes_.push_back(std::string(title) + ": " + std::string(text));
}

void Comprobacion::ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) {
  lineas_leidas_ = lines_read;
  rechazadas_ = lines_rejected;
  entorno_.ReportProgress(lines_read, lines_rejected);
}

std::unique_ptr<LineWriter> Comprobacion::OpenForOutput(const std::string&,
                                                        const TextFormat& format) {
  informe_.clear();
  formato_ = format;
  hay_informe_ = true;
  return std::make_unique<LineWriter>(std::make_unique<Memoria>(&informe_), format);
}

// The report's lines as text, whatever its encoding.
std::vector<std::string> Comprobacion::Lineas_Informe() const {
  std::string_view bytes = informe_;
  if (formato_.byte_order_mark) {
    std::string marca;
    AppendEncoded(formato_.encoding, "\xEF\xBB\xBF", marca);
    if (bytes.substr(0, marca.size()) == marca) bytes.remove_prefix(marca.size());
  }
  std::string texto;
  AppendUtf8(formato_.encoding, bytes, texto);
  const std::string_view fin = formato_.lf_line_ends ? "\n" : "\r\n";
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

std::string Comprobacion::Texto_Resultado(int salida) const {
  return "Resultado: " + Desenlace_En_Palabras(salida) + " (estado " + std::to_string(salida) +
         ").\n";
}

std::string Comprobacion::Informe(int salida) const {
  std::string texto = "Comprobación de " + archivo_.value_or("Actividades.txt") +
                      ": nada se cambió, ni la base ni Act.log.\n\nMensajes que mostraría:\n";
  for (const std::string& mensaje : mensajes_) texto += "  " + mensaje + "\n";
  if (hay_informe_) {
    texto += "\nAct.log tendría:\n";
    for (const std::string& linea : Lineas_Informe()) texto += "  " + linea + "\n";
  }
  if (salida == 3) {
    texto += "\nLa importación se detendría en la línea " + std::to_string(lineas_leidas_ + 1) +
             ", sin sus tres signos ¬.\n";
  }
  if (cambios_) {
    const Cambios& c = *cambios_;
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

std::string Comprobacion::Resumen(int salida) const {
  std::string texto = "Comprobación de " + archivo_.value_or("Actividades.txt") +
                      ": nada se cambió.\n\n" + Texto_Resultado(salida);
  if (!mensajes_.empty()) texto += "Último mensaje: " + mensajes_.back() + "\n";
  texto += "Líneas leídas: " + std::to_string(lineas_leidas_) +
           "; rechazadas: " + std::to_string(rechazadas_) + ".\n";
  if (cambios_) {
    texto += "Actividades nuevas: " + std::to_string(cambios_->nuevas) +
             "; quitadas: " + std::to_string(cambios_->quitadas) +
             "; alícuotas que cambian: " + std::to_string(cambios_->cambian) +
             "; sin cambios: " + std::to_string(cambios_->iguales) + ".\n";
  }
  return texto +
         "\nPara ver las listas, ejecute desde una consola (cmd.exe):\n"
         "  quelvar.exe --comprobar > comprobacion.txt\n";
}

}  // namespace quelvar
