// SQLCipher's cryptography on Linux, from OpenSSL's libcrypto, linked
// dynamically so that the system's security updates reach it. Registered
// with SQLCipher as its provider when the engine starts.
//
// SQLCipher's own OpenSSL provider looks up HMAC, its digest and AES again
// for every page, and makes and frees a context each time: with OpenSSL 3,
// a sizeable part of a large import. Here the algorithms are fetched once,
// when the provider is registered, and each connection keeps its contexts;
// the cryptography itself is OpenSSL's, unchanged. The key derivation is
// PBKDF2 over OpenSSL's own hashes, at their compression functions' speed
// (pbkdf2_openssl.cpp).
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <new>

#include "platform/pbkdf2_openssl.h"
#include "platform/sha256.h"
#include "platform/sqlcipher_provider.h"

namespace quelvar {
namespace {

constexpr int kSqliteOk = 0;
constexpr int kSqliteError = 1;
constexpr int kSqliteNomem = 7;

const char* const kDigests[3] = {"SHA1", "SHA256", "SHA512"};

// Fetched once, when SQLCipher registers the provider; freed at its shutdown.
EVP_MAC* hmac = nullptr;
EVP_CIPHER* aes = nullptr;
EVP_MD* digests[3] = {};  // by algorithm: SHA-1, SHA-256, SHA-512

void Free() {
  for (EVP_MD*& md : digests) {
    EVP_MD_free(md);
    md = nullptr;
  }
  EVP_CIPHER_free(aes);
  aes = nullptr;
  EVP_MAC_free(hmac);
  hmac = nullptr;
}

int Init() {
  hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  aes = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  bool ok = hmac != nullptr && aes != nullptr;
  for (int i = 0; ok && i < 3; ++i) ok = (digests[i] = EVP_MD_fetch(nullptr, kDigests[i], nullptr));
  if (ok) return kSqliteOk;
  Free();
  return kSqliteError;
}

void Shutdown() { Free(); }

// What one connection keeps between pages.
struct Contexto {
  EVP_MAC_CTX* hmac[3] = {};  // made on first use, by algorithm
  EVP_CIPHER_CTX* cipher = nullptr;
};

int NewContext(void** ctx) {
  auto* c = new (std::nothrow) Contexto;
  if (c == nullptr) return kSqliteNomem;
  c->cipher = EVP_CIPHER_CTX_new();
  if (c->cipher == nullptr) {
    delete c;
    return kSqliteNomem;
  }
  *ctx = c;
  return kSqliteOk;
}

int FreeContext(void** ctx) {
  auto* c = static_cast<Contexto*>(*ctx);
  if (c != nullptr) {
    for (EVP_MAC_CTX* m : c->hmac) EVP_MAC_CTX_free(m);
    EVP_CIPHER_CTX_free(c->cipher);
    delete c;
  }
  *ctx = nullptr;
  return kSqliteOk;
}

bool Known(int algorithm) { return algorithm >= kSha1 && algorithm <= kSha512; }

int HmacBytes(void*, int algorithm) {
  return Known(algorithm) ? EVP_MD_get_size(digests[algorithm]) : 0;
}

int HmacOf(void* ctx, int algorithm, const unsigned char* key, int key_sz, const unsigned char* in,
           int in_sz, const unsigned char* in2, int in2_sz, unsigned char* out) {
  auto* c = static_cast<Contexto*>(ctx);
  if (c == nullptr || !Known(algorithm) || in == nullptr || key_sz < 0 || in_sz < 0 || in2_sz < 0) {
    return kSqliteError;
  }
  EVP_MAC_CTX*& m = c->hmac[algorithm];
  if (m == nullptr) {
    m = EVP_MAC_CTX_new(hmac);
    OSSL_PARAM digest[] = {OSSL_PARAM_construct_utf8_string(
                               OSSL_MAC_PARAM_DIGEST, const_cast<char*>(kDigests[algorithm]), 0),
                           OSSL_PARAM_construct_end()};
    if (m == nullptr || !EVP_MAC_CTX_set_params(m, digest)) {
      EVP_MAC_CTX_free(m);
      m = nullptr;
      return kSqliteError;
    }
  }
  const std::size_t size = static_cast<std::size_t>(HmacBytes(nullptr, algorithm));
  std::size_t written = 0;
  const bool ok = EVP_MAC_init(m, key, static_cast<std::size_t>(key_sz), nullptr) &&
                  EVP_MAC_update(m, in, static_cast<std::size_t>(in_sz)) &&
                  (in2 == nullptr || EVP_MAC_update(m, in2, static_cast<std::size_t>(in2_sz))) &&
                  EVP_MAC_final(m, out, &written, size) && written == size;
  return ok ? kSqliteOk : kSqliteError;
}

int Pbkdf2(void*, int algorithm, const unsigned char* pass, int pass_sz, const unsigned char* salt,
           int salt_sz, int workfactor, int key_sz, unsigned char* key) {
  if (!Known(algorithm) || pass_sz < 0 || salt_sz < 0 || workfactor < 1 || key_sz < 0) {
    return kSqliteError;
  }
  return Pbkdf2Hmac(algorithm, pass, pass_sz, salt, salt_sz, workfactor, key_sz, key)
             ? kSqliteOk
             : kSqliteError;
}

int Cipher(void* ctx, int mode, const unsigned char* key, int key_sz, const unsigned char* iv,
           const unsigned char* in, int in_sz, unsigned char* out) {
  auto* c = static_cast<Contexto*>(ctx);
  if (c == nullptr || key_sz != EVP_CIPHER_get_key_length(aes) || in_sz < 0) return kSqliteError;
  int written = 0;
  int last = 0;
  const bool ok = EVP_CipherInit_ex2(c->cipher, aes, key, iv, mode == kEncrypt ? 1 : 0, nullptr) &&
                  EVP_CIPHER_CTX_set_padding(c->cipher, 0) &&
                  EVP_CipherUpdate(c->cipher, out, &written, in, in_sz) &&
                  EVP_CipherFinal_ex(c->cipher, out + written, &last) && written + last == in_sz;
  return ok ? kSqliteOk : kSqliteError;
}

int Random(void*, void* buffer, int length) {
  return RAND_bytes(static_cast<unsigned char*>(buffer), length) == 1 ? kSqliteOk : kSqliteError;
}

int AddRandom(void*, const void* buffer, int length) {
  RAND_add(buffer, length, 0);
  return kSqliteOk;
}

const char* Name(void*) { return "openssl"; }
const char* Version(void*) { return OpenSSL_version(OPENSSL_VERSION); }
const char* CipherName(void*) { return "AES-256-CBC"; }
int KeyBytes(void*) { return EVP_CIPHER_get_key_length(aes); }
int IvBytes(void*) { return EVP_CIPHER_get_iv_length(aes); }
int BlockBytes(void*) { return EVP_CIPHER_get_block_size(aes); }
int NoFips(void*) { return 0; }

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->ctx == nullptr || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1) {
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() = default;

void Sha256::Feed(std::string_view bytes) {
  if (EVP_DigestUpdate(state_->ctx, bytes.data(), bytes.size()) != 1) throw std::bad_alloc();
}

std::string Sha256::Hex() {
  unsigned char digest[32];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(state_->ctx, digest, &size) != 1) throw std::bad_alloc();
  return HexOf(digest, size);
}

}  // namespace quelvar

// Named by the build as SQLCipher's custom provider: SQLCipher calls it
// once, to fill in the provider it then registers.
extern "C" int quelvar_crypto_openssl_setup(sqlcipher_provider* p) {
  using namespace quelvar;
  *p = {Init,      Shutdown,   Name,        AddRandom, Random,  HmacOf,
        Pbkdf2,    Cipher,     CipherName,  KeyBytes,  IvBytes, BlockBytes,
        HmacBytes, NewContext, FreeContext, NoFips,    Version, nullptr};
  return kSqliteOk;
}
