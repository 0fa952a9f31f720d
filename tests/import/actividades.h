// Activity files written readably in tests: "|" stands for the field
// terminator "¬" as Windows-1252 writes it (the byte AC), "/" for CR LF;
// anything else stands as it is.
#pragma once

#include <string>
#include <string_view>

namespace quelvar {

inline std::string Actividades(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out.push_back('\xAC');
    } else if (c == '/') {
      out.append("\r\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace quelvar
