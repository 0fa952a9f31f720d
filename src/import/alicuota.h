// The rate of a line: its text tested and read in the user's number form,
// and its value written as the insert writes it, whatever the user's locale.
#pragma once

#include <string>
#include <string_view>

#include "platform/system.h"

namespace quelvar {

// True for optional blanks, an optional sign, digits with at most one decimal
// separator of `formato` (one digit at least), an optional exponent and
// optional blanks.
bool Es_Numerico(std::string_view texto, const NumberFormat& formato);

// The rate that a rate text stands for: its value divided by 100. Fails with
// type mismatch for a text that is not numeric and with numeric overflow for
// one beyond the range of a double.
double Valor_Alicuota(std::string_view texto, const NumberFormat& formato);

// The rate as the insert writes it: a blank (or "-" for a negative value),
// plain decimal digits with "." and no 0 before the point below 1, at most
// 15 significant digits, no trailing zeros. From 1E15 on, and below 0.0001,
// the mantissa is followed by "E+" or "E-" and at least two exponent digits
// ( 1.5E+15, 5E-05): plain decimal would claim digits the rounding dropped,
// or run long.
std::string Formatear_Alicuota(double alicuota);

// The value that the rendering of `alicuota` stands for: what the table
// stores, as when the rendering itself went into the statement.
double Valor_Representado(double alicuota);

}  // namespace quelvar
