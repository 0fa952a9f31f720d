#include "import/tabla.h"

#include <cctype>

#include "import/alicuota.h"

namespace quelvar {
namespace {

constexpr std::string_view kVaciar = "DELETE FROM nomencla";
constexpr std::string_view kInsertar =
    "Insert or abort into nomencla (codigo, actividad, alicuota) values  (?, ?, ?)";

// What the table said, in the program's words, then its own.
std::string En_Palabras(const Refusal& rechazo) {
  const char* regla = "una regla de la tabla";
  switch (rechazo.rule) {
    case Refusal::Rule::kUniqueKey:
      regla = "repite una clave única";
      break;
    case Refusal::Rule::kNotNull:
      regla = "deja sin valor una columna que no puede quedar vacía";
      break;
    case Refusal::Rule::kCheck:
      regla = "no cumple una condición CHECK";
      break;
    case Refusal::Rule::kForeignKey:
      regla = "no cumple una clave foránea";
      break;
    case Refusal::Rule::kTrigger:
      regla = "un disparador la rechaza";
      break;
    case Refusal::Rule::kOther:
      break;
  }
  return rechazo.message.empty() ? regla : std::string(regla) + " (" + rechazo.message + ")";
}

}  // namespace

bool Compara_Como_Bytes(Database& BaseDatos, std::string_view columna) {
  ColumnComparison c = BaseDatos.DescribeColumn("nomencla", columna);
  for (char& letra : c.collation) letra = static_cast<char>(std::toupper(letra));
  return c.affinity == "TEXT" && c.collation == "BINARY";
}

void Vaciar_Tabla(Database& BaseDatos) { BaseDatos.Execute(kVaciar); }

bool Insertar_Registro(Database& BaseDatos, std::string_view codigo, std::string_view actividad,
                       double alicuota, std::string* por_que, double* guardada) {
  Statement& insertar = BaseDatos.Prepared(kInsertar);
  ResetOnExit reinicio(insertar);
  insertar.BindText(1, codigo);
  insertar.BindText(2, actividad);
  // The stored rate is the value of its rendering, as when the text itself
  // went into the statement.
  const double valor = Valor_Representado(alicuota);
  if (guardada != nullptr) *guardada = valor;
  insertar.BindDouble(3, valor);
  const StepResult paso = insertar.Step();
  const bool insertada = paso == StepResult::kDone && insertar.RowsChanged() > 0;
  if (!insertada && por_que != nullptr) {
    *por_que = paso == StepResult::kRefused ? En_Palabras(insertar.LastRefusal())
                                            : "un disparador la omite";
  }
  return insertada;
}

}  // namespace quelvar
