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
#include <utility>
#include <vector>

#include "import/cambios.h"
#include "import/historial.h"
#include "import/seguimiento.h"
#include "platform/system.h"
#include "platform/user_interface.h"

namespace quelvar {

// What stops the run at a line that lacks its three "¬" within reach.
enum class Detencion : std::uint8_t {
  kSinTerminadores,  // it has fewer than three
  kAlicuota,         // it has them, and its rate is beyond a double
  kTercerMasAlla,    // it has them, the third past the scan's reach
};

// A line that stays out of the table, and what the check keeps of its
// outcome.
struct Linea_Fuera {
  std::int32_t numero;  // in the file, from 1
  Veredicto veredicto;
  Detencion detencion;   // for kEstructuraIncorrecta
  std::uint32_t motivo;  // its reason's words (the table's, a failure's) among Hallazgos::motivos
  std::uint64_t par;     // its pair, hashed, for kRepetida: the line it repeats is found by it
  std::uint64_t byte;    // for kIlegible: the first of its bytes that is no text
};

// A line whose row the table got: its pair, hashed, and its number.
struct Linea_Guardada {
  std::uint64_t par;
  std::int32_t numero;
};

// What a check found, for its report. The lines it lists are kept on the
// disk, not in memory: they may be as many as the file has.
struct Hallazgos {
  std::string archivo;                   // the file checked, as the user named it
  std::string tarea = "la importación";  // what is checked, as the result names it
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
  std::optional<Entrada> entrada;         // what the record would gain
  std::unique_ptr<Scratch> nuevas;        // the list of the rows added, as written out
  std::deque<Linea_Fuera> fuera;          // in file order
  std::unique_ptr<Scratch> textos_fuera;  // their lines as read, in the file's encoding
  std::vector<std::string> motivos;
  std::deque<Linea_Guardada> guardadas;
};

// What a check shows the user: nothing but the waits and the progress, as
// the run would; its messages are kept.
class Pantalla_Comprobacion final : public UserInterfaceWrapper {
 public:
  Pantalla_Comprobacion(UserInterface& pantalla, Hallazgos& hallazgos)
      : UserInterfaceWrapper(pantalla), hallazgos_(hallazgos) {}

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override;
  void ShowFailureNotice(const Failure& failure) override;

 private:
  Hallazgos& hallazgos_;
};

// What the system gives a check: the user's own, except that the report is
// kept aside (the folder's Act.log is never opened, the run's new one made
// and dropped unplaced), and the activity file is `archivo` when one is
// named.
class Sistema_Comprobacion final : public SystemWrapper {
 public:
  Sistema_Comprobacion(System& sistema, std::optional<std::string> archivo, Hallazgos& hallazgos)
      : SystemWrapper(sistema), archivo_(std::move(archivo)), hallazgos_(hallazgos) {}

  std::unique_ptr<LineReader> OpenForInput(const std::string& path,
                                           std::size_t held_characters) override;
  std::unique_ptr<LineWriter> OpenForOutput(const std::string& path, const TextFormat& format,
                                            const std::string& like) override;

 private:
  std::optional<std::string> archivo_;
  Hallazgos& hallazgos_;
};

// What the run tells a check: the base to leave as found, the table before
// and the one the run would leave, each line's outcome, kept; and where the
// run would commit, the check rolls back. A failure in any of it is the
// check's own (Hallazgos::propia), and stops the run as any other would.
class Comprobacion final : public Seguimiento {
 public:
  // Its scratch files come from `sistema`.
  Comprobacion(Hallazgos& hallazgos, System& sistema) : hallazgos_(hallazgos), sistema_(sistema) {}

  void Base_Abierta(Database& BaseDatos) override;
  void Tabla_Anterior(Database& BaseDatos) override;
  void Linea_Procesada(std::int32_t numero, const Resultado_Linea& resultado,
                       const Linea_Leida& leida) override;
  void Guardar_Tabla(Database& BaseDatos, Transaction& transaccion) override;
  // Once the run is over: what is kept aside, all written out.
  void Cerrar();

 private:
  void Listar(std::int32_t numero, const Resultado_Linea& resultado, const Linea_Leida& leida);
  void Comparar_Y_Deshacer(Database& BaseDatos, Transaction& transaccion);
  std::uint32_t Motivo(const std::string& motivo);

  Hallazgos& hallazgos_;
  System& sistema_;
  std::optional<Foto> antes_;
  std::unique_ptr<LineWriter> textos_;                      // into hallazgos_.textos_fuera
  std::unordered_map<std::string, std::uint32_t> motivos_;  // where each lies in the list
};

}  // namespace quelvar
