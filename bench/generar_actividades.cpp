// Writes a realistic activity file for benchmarks, and beside it the rows an
// import of it must store, as a tab-separated UTF-8 file for other loaders.
// About 5% of the lines carry a dotted rate, 5% a rate that is no number and
// 5% repeat an earlier code and activity. Codes are random, or ascending as
// activity lists usually come.
//
//   generar_actividades LINES Actividades.txt filas.tsv [ascendente]
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/text_encoding.h"

namespace {

constexpr std::array<const char*, 12> kVerbos = {"Cultivo de",
                                                 "Cría de",
                                                 "Elaboración de",
                                                 "Fabricación de",
                                                 "Venta al por menor de",
                                                 "Venta al por mayor de",
                                                 "Reparación de",
                                                 "Servicios de",
                                                 "Extracción de",
                                                 "Preparación de",
                                                 "Impresión de",
                                                 "Construcción de"};
constexpr std::array<const char*, 12> kObjetos = {"azúcar",
                                                  "cereales",
                                                  "ganado bovino",
                                                  "vinos y mostos",
                                                  "artículos de óptica",
                                                  "muebles",
                                                  "calzado",
                                                  "maquinaria agrícola",
                                                  "productos lácteos",
                                                  "papel y cartón",
                                                  "edificios residenciales",
                                                  "equipos informáticos"};

// The source above is UTF-8; the activity file is Windows-1252.
std::string A_Cp1252(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xC2 || c == 0xC3) {  // U+0080..U+00FF: the same byte in Windows-1252
      auto next = static_cast<unsigned char>(utf8[++i]);
      out.push_back(static_cast<char>(((c & 1) << 6) | 0x80 | (next & 0x3F)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "ascendente")) {
    std::fputs("uso: generar_actividades LINEAS Actividades.txt filas.tsv [ascendente]\n", stderr);
    return 64;
  }
  const long lineas = std::atol(argv[1]);
  const bool ascendente = argc == 5;
  std::FILE* actividades = std::fopen(argv[2], "wb");
  std::FILE* filas = std::fopen(argv[3], "wb");
  if (actividades == nullptr || filas == nullptr) {
    std::perror("generar_actividades");
    return 1;
  }
  std::mt19937 azar(42);
  std::array<std::string, 256> recientes;  // earlier lines, to repeat
  std::size_t aceptadas = 0;
  std::string linea;
  std::string utf8;
  for (long i = 0; i < lineas; ++i) {
    const unsigned clase = azar() % 100;
    if (clase < 5 && aceptadas > 0) {
      const std::string& previa = recientes[azar() % std::min<std::size_t>(aceptadas, 256)];
      linea = previa.substr(0, previa.rfind('\xAC', previa.size() - 2) + 1) + "150\xAC";
    } else {
      char codigo[16];
      const unsigned numero = ascendente ? static_cast<unsigned>(i * 999999 / lineas)
                                         : static_cast<unsigned>(azar() % 999999);
      std::snprintf(codigo, sizeof codigo, "%06u", numero);
      std::string actividad =
          A_Cp1252(std::string(kVerbos[azar() % kVerbos.size()]) + " " +
                   kObjetos[azar() % kObjetos.size()] + " n.º " + std::to_string(i));
      unsigned tasa = azar() % 2000;
      std::string texto_tasa = std::to_string(tasa);
      if (clase >= 5 && clase < 10) texto_tasa = std::to_string(tasa / 100) + "." + "5";
      if (clase >= 10 && clase < 15) texto_tasa = clase % 2 ? "N/A" : "";
      linea = std::string(codigo) + "\xAC" + actividad + "\xAC" + texto_tasa + "\xAC";
      if (clase >= 15) {
        utf8.clear();
        quelvar::AppendUtf8(quelvar::TextEncoding::kWindows1252, actividad, utf8);
        std::fprintf(filas, "%s\t%s\t%.17g\n", codigo, utf8.c_str(), tasa / 100.0);
        recientes[aceptadas++ % recientes.size()] = linea;
      }
    }
    linea.append("\r\n");
    std::fwrite(linea.data(), 1, linea.size(), actividades);
  }
  if (std::fclose(actividades) != 0 || std::fclose(filas) != 0) {
    std::perror("generar_actividades");
    return 1;
  }
  return 0;
}
