// The statements through which the import changes the activity table
// `nomencla` (its query is the duplicate check's, existencia.h). Values always
// travel as parameters, never inside the text.
#pragma once

#include <string>
#include <string_view>

#include "platform/database.h"

namespace quelvar {

// Whether the table compares the text of `columna` as bytes (TEXT affinity,
// BINARY collation), as a byte-wise filter or order does.
bool Compara_Como_Bytes(Database& BaseDatos, std::string_view columna);

// Deletes every row of the table.
void Vaciar_Tabla(Database& BaseDatos);

// Inserts one row; code and activity are UTF-8. Returns false when the row
// was not stored: the engine refused it under one of the table's rules (a
// key, NOT NULL, CHECK, a trigger's RAISE), whatever conflict clause the
// table declares (the insert says OR ABORT, so nothing is replaced or
// rolled back), or a trigger made the engine skip it; then `por_que`, if
// given, says which, in a few words and the engine's own in parentheses. A
// rule that ends the transaction, and any other failure, is thrown.
// `guardada`, if given, gets the rate as the statement gives it to the table.
bool Insertar_Registro(Database& BaseDatos, std::string_view codigo, std::string_view actividad,
                       double alicuota, std::string* por_que = nullptr, double* guardada = nullptr);

}  // namespace quelvar
