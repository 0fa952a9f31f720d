// The undo: the table put back as it was before the last recorded change.
#include <string>

#include "import/historial.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

// The change an entry records, as the user is told of it.
std::string El_Cambio(const Entrada& e) {
  std::string texto = e.deshace ? "el cambio " + std::to_string(e.numero) + " (que deshizo el " +
                                      std::to_string(*e.deshace) + ")"
                                : "la importación " + std::to_string(e.numero);
  texto += " del " + e.cuando_local + " (" + e.usuario;
  if (e.archivo) texto += ", " + *e.archivo;
  return texto + ")";
}

std::string Filas(std::int64_t n) { return std::to_string(n) + (n == 1 ? " fila" : " filas"); }

// Why nothing can be put back; empty where it can.
std::string Por_Que_No(const std::optional<Entrada>& ultima, const Resumen& tabla) {
  if (!ultima) return "No hay cambios registrados en la tabla que se puedan deshacer.";
  if (!ultima->tabla_anterior_guardada) {
    return "La tabla de antes de " + El_Cambio(*ultima) +
           " ya no se guarda (se guardan las de los últimos " + std::to_string(kTablasGuardadas) +
           " cambios): no se puede deshacer.";
  }
  if (tabla.Texto() != ultima->resumen || tabla.filas() != ultima->filas) {
    return "La tabla cambió desde " + El_Cambio(*ultima) +
           ": otro programa la modificó, y deshacer perdería ese cambio. No se cambió nada.";
  }
  return {};
}

Entrada Entrada_Del_Deshacer(System& sistema, std::int64_t deshace) {
  Entrada e = Entrada_Nueva(sistema);
  e.desenlace = std::string(kDeshecha);
  e.deshace = deshace;
  return e;
}

}  // namespace

void Form1::Deshacer_Ultimo_Cambio() {
  if (!Conectar_Base()) {
    desenlace_ = Estado::kSinConexion;
    pantalla_.MsgBox("No es posible conectarse a la base.", Icon::kInformation);
    return;
  }
  pantalla_.SetMousePointer(MousePointer::kHourglass);
  const std::optional<Entrada> ultima = Historial::Ultima(*BaseDatos);
  const std::string negativa = Por_Que_No(ultima, Resumen_De_La_Tabla(*BaseDatos));
  if (!negativa.empty()) {
    // The transaction ends unused: nothing is written.
    pantalla_.SetMousePointer(MousePointer::kDefault);
    desenlace_ = Estado::kNadaQueDeshacer;
    pantalla_.MsgBox(negativa, Icon::kInformation);
    return;
  }
  seguimiento_.Tabla_Anterior(*BaseDatos);
  Historial registro(*BaseDatos);
  // The kept copy may have lost rows since, or the table's own rules keep
  // rows from coming back: then it is not the table it was, and nothing is
  // kept.
  if (!registro.Restaurar(ultima->numero, ultima->filas_antes)) {
    throw Failure(FailureKind::kOther, 3019,
                  "La tabla no vuelve a quedar como estaba antes de " + El_Cambio(*ultima) +
                      ": su copia guardada se modificó o las reglas de la tabla lo impiden; "
                      "no se cambió nada");
  }
  registro.Anotar(Entrada_Del_Deshacer(sistema_, ultima->numero));
  seguimiento_.Guardar_Tabla(*BaseDatos, *transaccion_);
  pantalla_.SetMousePointer(MousePointer::kDefault);
  pantalla_.MsgBox("Se deshizo " + El_Cambio(*ultima) + ": la tabla vuelve a tener " +
                       Filas(ultima->filas_antes) + "; tenía " + Filas(registro.filas_antes()) +
                       ".",
                   Icon::kInformation);
}

}  // namespace quelvar
