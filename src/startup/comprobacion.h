// A check of an activity file: the whole run, on the user's own platform,
// except that the run's messages and its report are kept instead of shown
// and written, and its new table is looked at and then rolled back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "import/cambios.h"
#include "import/seguimiento.h"
#include "platform/env.h"

namespace quelvar {

// What a check found, for its report.
struct Hallazgos {
  std::string archivo;                 // the file checked, as the user named it
  std::vector<std::string> mensajes;   // what the user would have been told, in order
  std::optional<std::string> informe;  // the report's bytes, once the run opened it
  TextFormat formato;                  // the report's
  std::int32_t leidas = 0;             // lines the run got past
  std::int32_t rechazadas = 0;
  std::optional<std::int32_t> detenida_en;  // the line without its three "¬"
  std::optional<Cambios> cambios;
};

// The platform of a check: the user's own, except that messages are kept,
// the report is kept in memory (the folder's Act.log is never opened), and
// the activity file is `archivo` when one is named.
class Entorno_Comprobacion final : public Env {
 public:
  Entorno_Comprobacion(Env& entorno, std::optional<std::string> archivo, Hallazgos& hallazgos);

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  void ShowFailureNotice(const Failure& failure) override;
  void SetMousePointer(MousePointer pointer) override { entorno_.SetMousePointer(pointer); }
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override {
    entorno_.ReportProgress(lines_read, lines_rejected);
  }
  void ShowWaitNotice(std::string_view text) override { entorno_.ShowWaitNotice(text); }
  void HideWaitNotice() override { entorno_.HideWaitNotice(); }
  std::string AppPath() override { return entorno_.AppPath(); }
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override;
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path, const TextFormat& format,
                                            const std::string& like) override;
  const NumberFormat& RegionalSettings() override { return entorno_.RegionalSettings(); }
  DBEngine& Engine() override { return entorno_.Engine(); }

 private:
  Env& entorno_;
  std::optional<std::string> archivo_;
  Hallazgos& hallazgos_;
};

// What the run tells a check: the base to leave as found, the table before
// and the one the run would leave, each line's outcome; and where the run
// would commit, the check rolls back.
class Comprobacion final : public Seguimiento {
 public:
  explicit Comprobacion(Hallazgos& hallazgos) : hallazgos_(hallazgos) {}

  void Base_Abierta(Database& BaseDatos) override { BaseDatos.LeaveAsFound(); }
  void Tabla_Anterior(Database& BaseDatos) override { antes_ = Foto::Tomar(BaseDatos); }
  void Linea_Procesada(std::int32_t numero, Veredicto veredicto) override;
  void Guardar_Tabla(Database& BaseDatos, Transaction& transaccion) override;

 private:
  Hallazgos& hallazgos_;
  std::optional<Foto> antes_;
};

}  // namespace quelvar
