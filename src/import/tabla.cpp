#include "import/tabla.h"

#include "import/alicuota.h"

namespace quelvar {
namespace {

constexpr std::string_view kVaciar = "DELETE FROM nomencla";
constexpr std::string_view kInsertar =
    "Insert or abort into nomencla (codigo, actividad, alicuota) values  (?, ?, ?)";

}  // namespace

void Vaciar_Tabla(Database& BaseDatos) { BaseDatos.Execute(kVaciar); }

bool Insertar_Registro(Database& BaseDatos, std::string_view codigo, std::string_view actividad,
                       double alicuota) {
  Statement& insertar = BaseDatos.Prepared(kInsertar);
  ResetOnExit reinicio(insertar);
  insertar.BindText(1, codigo);
  insertar.BindText(2, actividad);
  // The stored rate is the value of its rendering, as when the text itself
  // went into the statement.
  insertar.BindDouble(3, Valor_Representado(alicuota));
  return insertar.Step() == StepResult::kDone && insertar.RowsChanged() > 0;
}

}  // namespace quelvar
