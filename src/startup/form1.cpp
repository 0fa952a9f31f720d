#include "startup/form1.h"

#include <chrono>
#include <new>
#include <string>

#include "import/campos.h"
#include "import/existencia.h"

namespace quelvar {

namespace {
constexpr std::int16_t kTiempoEspera = 9000;

// How long another user's lock is waited for, wherever it is met. Others
// hold the file for moments (a commit, a report's query) that this covers
// many times over; a colleague with unsaved edits holds it for minutes, and
// a clerk watching a notice should hear so before giving up on the program.
constexpr std::chrono::seconds kEsperaOtroUsuario{20};
// A shorter wait passes unnoticed, and is not announced.
constexpr std::chrono::seconds kAntesDelAviso{1};
}  // namespace

// Tells the user, once a wait has lasted long enough to notice, that another
// user holds the base and how long it will be waited for.
class Form1::Aviso_Espera final : public LockWaitListener {
 public:
  explicit Aviso_Espera(UserInterface& pantalla)
      : pantalla_(pantalla),
        texto_("Otro usuario está usando la base. Se espera hasta " +
               std::to_string(kEsperaOtroUsuario.count()) + " segundos a que la libere.") {}

  void Waiting(std::chrono::milliseconds esperado) override {
    if (esperado < kAntesDelAviso) return;
    pantalla_.ShowWaitNotice(texto_);
    mostrado_ = true;
  }
  void WaitEnded() override {
    if (!mostrado_) return;
    mostrado_ = false;
    pantalla_.HideWaitNotice();
  }

 private:
  UserInterface& pantalla_;
  const std::string texto_;
  bool mostrado_ = false;
};

Form1::Form1(UserInterface& pantalla, System& sistema, Seguimiento& seguimiento)
    : pantalla_(pantalla),
      sistema_(sistema),
      seguimiento_(seguimiento),
      aviso_espera_(std::make_unique<Aviso_Espera>(pantalla)) {}

Form1::~Form1() = default;

void Form1::Form_Load() {
  Abrir_Actividades();
  if (Conectar_Base()) {
    Procesar_Archivo();
    pantalla_.MsgBox("Ha terminado el proceso de importación.", Icon::kInformation);
  } else {
    desenlace_ = Estado::kSinConexion;
    pantalla_.MsgBox("No es posible conectarse a la base.", Icon::kInformation);
  }
}

void Form1::Abrir_Actividades() {
  actividades_.reset();
  sin_actividades_.reset();
  try {
    actividades_ =
        sistema_.OpenForInput(JoinPath(sistema_.AppPath(), kArchivoActividades), kPosicionTope);
  } catch (const Failure& falla) {
    sin_actividades_ = falla;
  } catch (const std::bad_alloc&) {
    sin_actividades_ = OutOfMemoryFailure();
  }
}

bool Form1::Conectar_Base() {
  // Outside the trap: a folder that cannot be found is the failure notice's.
  const std::string ruta = JoinPath(sistema_.AppPath(), kArchivoBase);
  try {
    DBEngine& motor = sistema_.Engine();
    motor.SetLockWait(kEsperaOtroUsuario, aviso_espera_.get());
    BaseDatos = motor.OpenDatabase(ruta, false, false, kConexion);
    BaseDatos->SetQueryTimeout(kTiempoEspera);
    seguimiento_.Base_Abierta(*BaseDatos);
    // The write lock, taken now: a base another user is writing to is as
    // unreachable as one that cannot be opened, and is found so before
    // anything is touched.
    transaccion_ = std::make_unique<Transaction>(*BaseDatos);
    return true;
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
  }
  transaccion_.reset();
  BaseDatos.reset();
  return false;
}

}  // namespace quelvar
