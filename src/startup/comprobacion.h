// A check of an activity file: the whole run, on the user's own platform,
// except that the run's messages and its report are kept instead of shown
// and written, and its new table is looked at and then rolled back.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "import/cambios.h"
#include "import/seguimiento.h"
#include "platform/env.h"

namespace quelvar {

// A line that stays out of the table, and why.
struct Linea_Fuera {
  std::int32_t numero;  // in the file, from 1
  Veredicto veredicto;
  // kRepetida: its pair, hashed; kRechazadaPorTabla, kNoConvertida, kFalla:
  // where its reason lies among Hallazgos::motivos; kIlegible: the first
  // byte that is no text; kEstructuraIncorrecta: why it stops the run.
  std::uint64_t detalle;
};
// Why a line stops the run, besides lacking its three "¬".
inline constexpr std::uint64_t kSinCaberLaAlicuota = 1;  // its rate is beyond a double
inline constexpr std::uint64_t kTresMasAlla = 2;  // its third "¬" lies past the scan's reach

// A line whose row the table got: its pair, hashed, and its number.
struct Linea_Guardada {
  std::uint64_t par;
  std::int32_t numero;
};

// What a check found, for its report. The lines it lists are kept on the
// disk, not in memory: they may be as many as the file has.
struct Hallazgos {
  std::string archivo;  // the file checked, as the user named it
  // A failure of the check's own (its scratch space, its memory, its
  // output), not the run's: the check could not be completed.
  std::optional<Failure> propia;
  std::vector<std::string> mensajes;  // what the user would have been told, in order
  std::unique_ptr<Scratch> informe;   // the report's bytes, once the run opened it
  bool informe_en_su_lugar = false;   // the run would put it in Act.log's place
  TextFormat formato;                 // the activity file's, and so the report's
  std::int32_t leidas = 0;            // lines the run got past
  std::int32_t rechazadas = 0;
  std::optional<std::int32_t> detenida_en;  // the line that stops the run
  std::optional<Cambios> cambios;
  std::unique_ptr<Scratch> nuevas;        // the list of the rows added, as written out
  std::deque<Linea_Fuera> fuera;          // in file order
  std::unique_ptr<Scratch> textos_fuera;  // their lines as read, in the file's encoding
  std::vector<std::string> motivos;
  std::deque<Linea_Guardada> guardadas;
};

// The platform of a check: the user's own, except that messages are kept,
// the report is kept aside (the folder's Act.log is never opened, the run's
// new one made and dropped unplaced), and the activity file is `archivo`
// when one is named.
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
// and the one the run would leave, each line's outcome, kept; and where the
// run would commit, the check rolls back. A failure in any of it is the
// check's own (Hallazgos::propia), and stops the run as any other would.
class Comprobacion final : public Seguimiento {
 public:
  explicit Comprobacion(Hallazgos& hallazgos) : hallazgos_(hallazgos) {}

  void Base_Abierta(Database& BaseDatos) override;
  void Tabla_Anterior(Database& BaseDatos) override;
  void Linea_Procesada(std::int32_t numero, Veredicto veredicto, const Linea_Leida& leida) override;
  void Guardar_Tabla(Database& BaseDatos, Transaction& transaccion) override;
  // Once the run is over: what is kept aside, all written out.
  void Cerrar();

 private:
  void Listar(std::int32_t numero, Veredicto veredicto, const Linea_Leida& leida);
  void Comparar_Y_Deshacer(Database& BaseDatos, Transaction& transaccion);
  std::uint64_t Motivo(const std::string& motivo);

  Hallazgos& hallazgos_;
  std::optional<Foto> antes_;
  std::unique_ptr<LineWriter> textos_;                      // into hallazgos_.textos_fuera
  std::unordered_map<std::string, std::uint64_t> motivos_;  // where each lies in the list
};

}  // namespace quelvar
