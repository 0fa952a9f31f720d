// The program's one window. It is never shown: loading it performs the whole
// run (connect, import, tell the user) and unloading it ends the program.
#pragma once

#include <memory>
#include <string_view>

#include "platform/env.h"

namespace quelvar {

// The database Conectar_Base opens, in the application folder, and the
// connect string that gives its password. The database tool makes the same.
inline constexpr std::string_view kArchivoBase = "Impuest.mdb";
inline constexpr std::string_view kConexion = ";pwd=Rt6081M73";

// How a run that was not cut short by a failure ended; the values are the
// program's exit statuses.
enum class Desenlace {
  kImportacionCompleta = 0,
  kSinConexion = 2,
  kEstructuraIncorrecta = 3,
};

class Comprobacion;
class Existencia;

class Form1 {
 public:
  // With `comprobacion` (which is then `entorno` too), the run is a check:
  // the same run on its activity file, telling it the table before and
  // after, and rolling back where it would commit.
  explicit Form1(Env& entorno, Comprobacion* comprobacion = nullptr);
  ~Form1();

  // Opens the tax database into BaseDatos and begins the run's transaction,
  // taking the write lock; false if that failed for any reason.
  bool Conectar_Base();
  // True when `cad` holds a ".".
  bool Tienecomas(std::string_view cad);
  // The load handler: the whole run, from the connection to the last message.
  void Form_Load();

  Desenlace desenlace() const { return desenlace_; }
  // Whether the run's new table became the database's, whatever failed after.
  bool TablaGuardada() const { return BaseDatos && BaseDatos->Committed(); }

 private:
  // Reloads the activity table from the activity file and writes the report.
  void Procesar_Archivo();
  // Commits the run's transaction, or, in a check, rolls it back once the
  // check has seen the new table.
  void Guardar_Tabla(Transaction& transaccion);
  // True when the table holds a row with this code and activity (UTF-8).
  bool Existe_Registro(std::string_view codigo, std::string_view actividad);

  class AvisoEspera;

  Env& entorno_;
  Comprobacion* comprobacion_;
  // Told by the engine of waits for another user; outlives the connection.
  std::unique_ptr<AvisoEspera> aviso_espera_;
  std::unique_ptr<Database> BaseDatos;
  // One transaction for the whole run, begun by Conectar_Base: a failure
  // that ends the program rolls back, and other users see the old rows
  // until the new ones are complete.
  std::unique_ptr<Transaction> transaccion_;
  // How Existe_Registro asks, chosen once the table is emptied.
  std::unique_ptr<Existencia> existencia_;
  Desenlace desenlace_ = Desenlace::kImportacionCompleta;
};

}  // namespace quelvar
