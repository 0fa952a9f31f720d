// SHA-256 of what it is fed, a piece at a time: the system's own (OpenSSL's
// libcrypto on Linux, CNG on Windows), as the engine's cryptography is.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quelvar {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Feed(std::string_view bytes);
  // The digest of all that was fed, as 64 lowercase hexadecimal digits;
  // nothing more may be fed.
  std::string Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Bytes as lowercase hexadecimal digits.
inline std::string HexOf(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 15]);
  }
  return hex;
}

}  // namespace quelvar
