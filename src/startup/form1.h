// The program's one window. It is never shown: loading it performs the whole
// run (connect, import, tell the user) and unloading it ends the program.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "import/seguimiento.h"
#include "platform/system.h"
#include "platform/user_interface.h"
#include "startup/estado.h"

namespace quelvar {

// The three files, in the application folder: the database Conectar_Base
// opens (the database tool makes the same), the activity file and the
// report the import writes.
inline constexpr std::string_view kArchivoBase = "Impuest.mdb";
inline constexpr std::string_view kArchivoActividades = "Actividades.txt";
inline constexpr std::string_view kArchivoInforme = "Act.log";
// The connect string that gives the database's password.
inline constexpr std::string_view kConexion = ";pwd=Rt6081M73";

class Existencia;

class Form1 {
 public:
  // What the user is shown goes to `pantalla`, and what the system provides
  // comes from `sistema`; `seguimiento` follows the run: a check's sees it
  // and rolls it back.
  Form1(UserInterface& pantalla, System& sistema, Seguimiento& seguimiento = Sin_Seguimiento());
  ~Form1();

  // Opens the tax database into BaseDatos and begins the run's transaction,
  // taking the write lock; false if that failed for any reason.
  bool Conectar_Base();
  // True when `cad` holds a ".".
  bool Tienecomas(std::string_view cad);
  // The load handler: the whole run, from the connection to the last message.
  void Form_Load();
  // The other run: puts the table back as it was before the last recorded
  // change, under the same connection, wait and durability rules, and
  // records itself as a change; tells the user what it put back, or why
  // nothing could be.
  void Deshacer_Ultimo_Cambio();

  // How a run that was not cut short by a failure ended.
  Estado Resultado() const { return desenlace_; }
  // Whether the run's new table became the database's, whatever failed after.
  bool Tabla_Guardada() const { return BaseDatos && BaseDatos->Committed(); }

 private:
  // Reloads the activity table from the activity file and writes the report.
  void Procesar_Archivo();
  // True when the table holds a row with this code and activity (UTF-8).
  bool Existe_Registro(std::string_view codigo, std::string_view actividad);

  class Aviso_Espera;

  // Opens the activity file ahead of the base: a pipe, read to its end as it
  // opens, keeps this run waiting, never a clerk who would wait for the
  // write lock the connection takes. What fails is told where the run opens
  // it.
  void Abrir_Actividades();

  UserInterface& pantalla_;
  System& sistema_;
  Seguimiento& seguimiento_;
  // Told by the engine of waits for another user; outlives the connection.
  std::unique_ptr<Aviso_Espera> aviso_espera_;
  std::unique_ptr<Database> BaseDatos;
  // One transaction for the whole run, begun by Conectar_Base: a failure
  // that ends the program rolls back, and other users see the old rows
  // until the new ones are complete.
  std::unique_ptr<Transaction> transaccion_;
  // How Existe_Registro asks, chosen once the table is emptied.
  std::unique_ptr<Existencia> existencia_;
  // The activity file, opened ahead, or why it could not be.
  std::unique_ptr<LineReader> actividades_;
  std::optional<Failure> sin_actividades_;
  Estado desenlace_ = Estado::kImportacionCompleta;
};

}  // namespace quelvar
