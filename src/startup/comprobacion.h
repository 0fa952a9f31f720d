// A check of an activity file: the whole run, on the platform of the user's
// own, except that the run's messages and its report are kept instead of
// shown and written, and the table's new rows are looked at and then rolled
// back. What it found becomes a text for the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "import/cambios.h"
#include "platform/env.h"

namespace quelvar {

class Comprobacion final : public Env {
 public:
  // `archivo`: the activity file to check instead of the folder's own.
  Comprobacion(Env& entorno, std::optional<std::string> archivo);

  const std::optional<std::string>& archivo() const { return archivo_; }

  // Told by the run: the base once open, before its transaction; the table
  // before it empties it; the table it would leave before it would commit.
  void Base_Abierta(Database& BaseDatos);
  void Tabla_Anterior(Database& BaseDatos);
  void Tabla_Nueva(Database& BaseDatos);

  // Everything found, for a console: the messages, the report, the change.
  std::string Informe(int salida) const;
  // The essentials, for a message box.
  std::string Resumen(int salida) const;

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  // Kept with the messages, as the user would have been told it.
  void ShowFailureNotice(const Failure& failure) override;
  void SetMousePointer(MousePointer pointer) override { entorno_.SetMousePointer(pointer); }
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override;
  void ShowWaitNotice(std::string_view text) override { entorno_.ShowWaitNotice(text); }
  void HideWaitNotice() override { entorno_.HideWaitNotice(); }
  std::string AppPath() override { return entorno_.AppPath(); }
  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override {
    return entorno_.OpenForInput(path, held_characters);
  }
  // The report, kept in memory: the folder's Act.log is never opened.
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path,
                                            const TextFormat& format) override;
  const NumberFormat& RegionalSettings() override { return entorno_.RegionalSettings(); }
  DBEngine& Engine() override { return entorno_.Engine(); }

 private:
  std::vector<std::string> Lineas_Informe() const;
  std::string Texto_Resultado(int salida) const;

  Env& entorno_;
  std::optional<std::string> archivo_;
  std::vector<std::string> mensajes_;
  std::string informe_;  // the report's bytes, as the run would write them
  TextFormat formato_;
  bool hay_informe_ = false;
  std::int32_t lineas_leidas_ = 0;  // lines the run got past
  std::int32_t rechazadas_ = 0;
  std::optional<Foto> antes_;
  std::optional<Cambios> cambios_;
};

}  // namespace quelvar
