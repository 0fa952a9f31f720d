// What a check collects while the run goes on.
#include "startup/comprobacion.h"

#include <functional>
#include <new>
#include <string_view>
#include <utility>

#include "startup/form1.h"

namespace quelvar {
namespace {

// A pair as bytes, hashed: lines that repeat one are told from the others.
std::uint64_t Par(const Campos& campos) {
  const std::uint64_t h = std::hash<std::string_view>{}(campos.codigo) * 0x9E3779B97F4A7C15u ^
                          std::hash<std::string_view>{}(campos.actividad);
  return h ^ (h >> 29);
}

// Runs a stretch of the check's own work: a failure there is noted as the
// check's before it goes on, to stop the run.
template <typename Paso>
void Propio(Hallazgos& hallazgos, Paso&& paso) {
  try {
    paso();
  } catch (const Failure& falla) {
    hallazgos.propia = falla;
    throw;
  } catch (const std::bad_alloc&) {
    hallazgos.propia = OutOfMemoryFailure();
    throw;
  }
}

// The report kept aside: where the run would put it in Act.log's place,
// that is noted.
class Informe_Aparte final : public ByteSink {
 public:
  Informe_Aparte(Hallazgos& hallazgos)
      : hallazgos_(hallazgos), aparte_(hallazgos.informe->Writer()) {}
  void Write(const char* data, std::size_t size) override { aparte_->Write(data, size); }
  void Sync() override { aparte_->Sync(); }
  void PutInPlace() override { hallazgos_.informe_en_su_lugar = true; }
  void Close() override { aparte_->Close(); }

 private:
  Hallazgos& hallazgos_;
  std::unique_ptr<ByteSink> aparte_;
};

}  // namespace

void Pantalla_Comprobacion::ShowMessage(std::string_view text, Icon, std::string_view title) {
  hallazgos_.mensajes.push_back(std::string(title) + ": " + std::string(text));
}

void Pantalla_Comprobacion::ShowFailureNotice(const Failure& failure) {
  hallazgos_.mensajes.push_back(NoticeText(failure));
}

std::unique_ptr<LineReader> Sistema_Comprobacion::OpenForInput(const std::string& path,
                                                               std::size_t held_characters) {
  const bool actividades = path == JoinPath(AppPath(), kArchivoActividades);
  return SystemWrapper::OpenForInput(actividades && archivo_ ? *archivo_ : path, held_characters);
}

std::unique_ptr<LineWriter> Sistema_Comprobacion::OpenForOutput(const std::string& path,
                                                                const TextFormat& format,
                                                                const std::string& like) {
  // The run's own new report, made and gone again unplaced: whatever would
  // keep the run from writing it, or from putting it in place, fails the
  // check the same way; the folder keeps what it had.
  SystemWrapper::OpenForOutput(path, format, like).reset();
  Propio(hallazgos_, [&] { hallazgos_.informe = SystemWrapper::NewScratch(); });
  hallazgos_.formato = format;
  return std::make_unique<LineWriter>(std::make_unique<Informe_Aparte>(hallazgos_), format);
}

void Comprobacion::Base_Abierta(Database& BaseDatos) {
  Propio(hallazgos_, [&] { BaseDatos.LeaveAsFound(); });
}

void Comprobacion::Tabla_Anterior(Database& BaseDatos) {
  Propio(hallazgos_, [&] { antes_ = Foto::Tomar(BaseDatos); });
}

void Comprobacion::Linea_Procesada(std::int32_t numero, const Resultado_Linea& resultado,
                                   const Linea_Leida& leida) {
  Propio(hallazgos_, [&] { Listar(numero, resultado, leida); });
}

void Comprobacion::Guardar_Tabla(Database& BaseDatos, Transaction& transaccion) {
  Propio(hallazgos_, [&] { Comparar_Y_Deshacer(BaseDatos, transaccion); });
}

void Comprobacion::Cerrar() {
  Propio(hallazgos_, [&] {
    if (textos_) textos_->Flush();
  });
}

void Comprobacion::Listar(std::int32_t numero, const Resultado_Linea& resultado,
                          const Linea_Leida& leida) {
  const Veredicto veredicto = resultado.veredicto;
  if (veredicto == Veredicto::kInsertada) {
    hallazgos_.guardadas.push_back({Par(leida.campos), numero});
    hallazgos_.leidas = numero;
    return;
  }
  Linea_Fuera fuera{numero, veredicto, Detencion::kSinTerminadores, 0, 0, resultado.byte};
  if (veredicto == Veredicto::kRepetida) fuera.par = Par(leida.campos);
  if (!resultado.motivo.empty()) fuera.motivo = Motivo(resultado.motivo);
  const bool detiene = veredicto == Veredicto::kEstructuraIncorrecta;
  if (detiene) {
    hallazgos_.detenida_en = numero;
    if (resultado.por_la_alicuota) fuera.detencion = Detencion::kAlicuota;
  } else {
    hallazgos_.leidas = numero;
    ++hallazgos_.rechazadas;
  }
  if (!textos_) {
    hallazgos_.textos_fuera = sistema_.NewScratch();
    textos_ =
        std::make_unique<LineWriter>(hallazgos_.textos_fuera->Writer(), leida.archivo.format());
  }
  // Copied as the run would copy it; the line that stops the run has its
  // "¬" counted as they pass, however far along they lie.
  Decoder decoder(leida.archivo.format().encoding);
  std::string texto;
  std::uint64_t terminadores = 0;
  leida.archivo.ForEachPiece(leida.linea, [&](std::string_view bytes) {
    textos_->WriteBytes(bytes);
    if (!detiene) return;
    decoder.Feed(bytes, texto);
    for (std::size_t at = 0; (at = texto.find(kTerminador, at)) != std::string::npos; ++at) {
      ++terminadores;
    }
    texto.clear();
  });
  textos_->EndLine();
  if (detiene && !resultado.por_la_alicuota && terminadores >= 3) {
    fuera.detencion = Detencion::kTercerMasAlla;
  }
  hallazgos_.fuera.push_back(fuera);
}

std::uint32_t Comprobacion::Motivo(const std::string& motivo) {
  auto [lugar, nuevo] =
      motivos_.emplace(motivo, static_cast<std::uint32_t>(hallazgos_.motivos.size()));
  if (nuevo) hallazgos_.motivos.push_back(motivo);
  return lugar->second;
}

void Comprobacion::Comparar_Y_Deshacer(Database& BaseDatos, Transaction& transaccion) {
  // The rows added may be as many as the file's lines: kept aside, on the disk.
  hallazgos_.nuevas = sistema_.NewScratch();
  LineWriter nuevas(hallazgos_.nuevas->Writer(), TextFormat{TextEncoding::kUtf8});
  hallazgos_.cambios =
      Comparar(*antes_, BaseDatos, [&](std::string_view linea) { nuevas.WriteBytes(linea); });
  nuevas.Flush();
  hallazgos_.entrada = Historial::Ultima(BaseDatos);
  antes_.reset();
  transaccion.Rollback();
}

}  // namespace quelvar
