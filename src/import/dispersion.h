// The hash of texts the import uses where it must tell rows apart fast:
// the duplicate check's filter, and the digest of a table.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quelvar {

// Eight bytes, or four, as a number.
inline std::uint64_t Cargar8(const char* bytes) {
  std::uint64_t palabra;
  std::memcpy(&palabra, bytes, 8);
  return palabra;
}
inline std::uint64_t Cargar4(const char* bytes) {
  std::uint32_t palabra;
  std::memcpy(&palabra, bytes, 4);
  return palabra;
}

// One step of the hash: a bijection of the word, so that texts that differ
// in one word never collide.
inline std::uint64_t Paso(std::uint64_t h, std::uint64_t palabra) {
  h = (h ^ palabra) * 0xBF58476D1CE4E5B9u;
  return h ^ (h >> 29);
}

// The bytes of `texto` folded into `h` a word at a time, the last word read
// whole where it overlaps the one before: no loop over single bytes. With
// its length (in the seed), the words read tell the text.
inline std::uint64_t Plegar(std::uint64_t h, std::string_view texto) {
  const char* p = texto.data();
  const std::size_t n = texto.size();
  std::uint64_t ultima = 0;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) h = Paso(h, Cargar8(p + i));
    ultima = Cargar8(p + n - 8);
  } else if (n >= 4) {
    ultima = Cargar4(p) << 32 | Cargar4(p + n - 4);
  } else if (n > 0) {
    ultima = std::uint64_t{static_cast<unsigned char>(p[0])} << 16 |
             std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
             static_cast<unsigned char>(p[n - 1]);
  }
  return Paso(h, ultima);
}

// splitmix64's finaliser: spreads every bit over all 64.
inline std::uint64_t Mezclar(std::uint64_t h) {
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
  return h ^ (h >> 31);
}

// The pair's hash, computed inline three times a line. The lengths are
// mixed into the seed first: added as they stand, texts of other lengths
// could cancel them out.
inline std::uint64_t Dispersion(std::string_view codigo, std::string_view actividad) {
  const std::uint64_t largos = Mezclar(std::uint64_t{codigo.size()} << 32 | actividad.size());
  return Mezclar(Plegar(Plegar(largos, codigo), actividad));
}

}  // namespace quelvar
