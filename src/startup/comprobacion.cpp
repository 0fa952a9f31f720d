// What a check collects while the run goes on.
#include "startup/comprobacion.h"

#include <utility>

#include "startup/form1.h"

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

}  // namespace

Entorno_Comprobacion::Entorno_Comprobacion(Env& entorno, std::optional<std::string> archivo,
                                           Hallazgos& hallazgos)
    : entorno_(entorno), archivo_(std::move(archivo)), hallazgos_(hallazgos) {}

void Entorno_Comprobacion::ShowMessage(std::string_view text, Icon, std::string_view title) {
  hallazgos_.mensajes.push_back(std::string(title) + ": " + std::string(text));
}

void Entorno_Comprobacion::ShowFailureNotice(const Failure& failure) {
  hallazgos_.mensajes.push_back(NoticeText(failure));
}

std::unique_ptr<LineReader> Entorno_Comprobacion::OpenForInput(const std::string& path,
                                                               std::size_t held_characters) {
  const bool actividades = path == JoinPath(entorno_.AppPath(), kArchivoActividades);
  return entorno_.OpenForInput(actividades && archivo_ ? *archivo_ : path, held_characters);
}

std::unique_ptr<LineWriter> Entorno_Comprobacion::OpenForOutput(const std::string&,
                                                                const TextFormat& format,
                                                                const std::string&) {
  hallazgos_.informe.emplace();
  hallazgos_.formato = format;
  return std::make_unique<LineWriter>(std::make_unique<Memoria>(&*hallazgos_.informe), format);
}

void Comprobacion::Linea_Procesada(std::int32_t numero, Veredicto veredicto) {
  if (veredicto == Veredicto::kEstructuraIncorrecta) {
    hallazgos_.detenida_en = numero;
  } else {
    hallazgos_.leidas = numero;
    if (veredicto != Veredicto::kInsertada) ++hallazgos_.rechazadas;
  }
}

void Comprobacion::Guardar_Tabla(Database& BaseDatos, Transaction& transaccion) {
  hallazgos_.cambios = Comparar(*antes_, Foto::Tomar(BaseDatos));
  antes_.reset();
  transaccion.Rollback();
}

}  // namespace quelvar
