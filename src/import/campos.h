// One line of the activity file, as UTF-8 text: code, activity and rate text,
// each field ended by "¬", anything after the third ignored.
#pragma once

#include <cstddef>
#include <string_view>

namespace quelvar {

inline constexpr std::string_view kTerminador = "\xC2\xAC";  // U+00AC

// The scan's positions are a signed 16-bit number: reading at this position
// leaves no room for the step past it. No character of a line past it
// changes how the line is split.
inline constexpr std::size_t kPosicionTope = 32767;

// The three fields as views into the line they came from, exactly as they stand.
struct Campos {
  std::string_view codigo;
  std::string_view actividad;
  std::string_view tasa;
};

// Splits `linea`. The scan keeps one position, counted in characters, for the
// whole line that may not pass 32766, and past the end of the line it sees
// the last character again:
// a line that ends in "¬" gives empty missing fields; any other line that
// lacks a terminator, and an empty line, fail with numeric overflow.
void Separar_Campos(std::string_view linea, Campos& campos);

}  // namespace quelvar
