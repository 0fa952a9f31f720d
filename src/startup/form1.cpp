#include "startup/form1.h"

#include <new>
#include <string>

#include "import/tabla.h"

namespace quelvar {

namespace {
#ifdef QUELVAR_TIEMPO_ESPERA_PRUEBA
// Only a test build waits less, to prove that waiting ends.
constexpr std::int16_t kTiempoEspera = QUELVAR_TIEMPO_ESPERA_PRUEBA;
#else
constexpr std::int16_t kTiempoEspera = 9000;
#endif
}  // namespace

Form1::Form1(Env& entorno) : entorno_(entorno) {}

Form1::~Form1() = default;

void Form1::Form_Load() {
  if (Conectar_Base()) {
    Procesar_Archivo();
    entorno_.MsgBox("Ha terminado el proceso de importación.", Icon::kInformation);
  } else {
    desenlace_ = Desenlace::kSinConexion;
    entorno_.MsgBox("No es posible conectarse a la base.", Icon::kInformation);
  }
}

bool Form1::Conectar_Base() {
  // Outside the trap: a folder that cannot be found is the failure notice's.
  const std::string ruta = JoinPath(entorno_.AppPath(), kArchivoBase);
  try {
    DBEngine& motor = entorno_.Engine();
    BaseDatos = motor.OpenDatabase(ruta, false, false, kConexion);
    BaseDatos->SetQueryTimeout(kTiempoEspera);
    return true;
  } catch (const Failure&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quelvar
