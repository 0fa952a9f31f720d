// The interface through which SQLCipher asks a crypto provider for random
// bytes, HMAC, PBKDF2 and AES-256-CBC. SQLCipher declares it only inside its
// amalgamation, so it is repeated here field for field, as SQLCipher 4.14.0
// has it: a new SQLCipher version must be checked against this.
#pragma once

#include <string>

extern "C" {

struct sqlcipher_provider {
  int (*init)(void);
  void (*shutdown)(void);
  const char* (*get_provider_name)(void* ctx);
  int (*add_random)(void* ctx, const void* buffer, int length);
  int (*random)(void* ctx, void* buffer, int length);
  int (*hmac)(void* ctx, int algorithm, const unsigned char* hmac_key, int key_sz,
              const unsigned char* in, int in_sz, const unsigned char* in2, int in2_sz,
              unsigned char* out);
  int (*kdf)(void* ctx, int algorithm, const unsigned char* pass, int pass_sz,
             const unsigned char* salt, int salt_sz, int workfactor, int key_sz,
             unsigned char* key);
  int (*cipher)(void* ctx, int mode, const unsigned char* key, int key_sz, const unsigned char* iv,
                const unsigned char* in, int in_sz, unsigned char* out);
  const char* (*get_cipher)(void* ctx);
  int (*get_key_sz)(void* ctx);
  int (*get_iv_sz)(void* ctx);
  int (*get_block_sz)(void* ctx);
  int (*get_hmac_sz)(void* ctx, int algorithm);
  int (*ctx_init)(void** ctx);
  int (*ctx_free)(void** ctx);
  int (*fips_status)(void* ctx);
  const char* (*get_provider_version)(void* ctx);
  sqlcipher_provider* next;
};

// The provider the engine uses, once sqlite3_initialize() has run.
sqlcipher_provider* sqlcipher_get_provider(void);

}  // extern "C"

namespace quelvar {

// The values SQLCipher passes for `algorithm` (HMAC and PBKDF2 alike) and `mode`.
enum : int { kSha1 = 0, kSha256 = 1, kSha512 = 2 };
enum : int { kDecrypt = 0, kEncrypt = 1 };

// Derives, on another core, a key the engine expects SQLCipher to ask the
// provider for soon: PBKDF2-HMAC with `algorithm` of `pass` and `salt` in
// `iterations`, `key_sz` bytes. The provider's derivation with exactly those
// inputs then takes it from here; one not asked for is abandoned halfway
// when this goes. One at a time: another made meanwhile does nothing.
class KeyInAdvance {
 public:
  KeyInAdvance(int algorithm, const std::string& pass, const std::string& salt, int iterations,
               int key_sz);
  ~KeyInAdvance();
  KeyInAdvance(const KeyInAdvance&) = delete;
  KeyInAdvance& operator=(const KeyInAdvance&) = delete;

 private:
  bool mine_ = false;  // this one's key is the one being derived
};

}  // namespace quelvar
