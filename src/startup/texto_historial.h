// The record of the table's changes, told in words for a console (a line
// per change, newest first), or as JSON for scripts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "import/historial.h"

namespace quelvar {

// `base` is the database's path; `igual` tells whether the table is still
// what the newest change left (nothing when there is none).
std::string Historial_En_Texto(const std::string& base, const std::vector<Entrada>& entradas,
                               std::optional<bool> igual);
std::string Historial_En_Json(const std::string& base, const std::vector<Entrada>& entradas,
                              std::optional<bool> igual);

// One change as a line of the record, without its indent.
std::string Linea_Del_Historial(const Entrada& e);

}  // namespace quelvar
