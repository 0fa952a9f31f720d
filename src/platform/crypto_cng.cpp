// SQLCipher's cryptography on Windows, from the system's CNG (bcrypt.dll):
// nothing to ship, and Windows' own updates reach it. Registered with
// SQLCipher as its provider when the engine starts.
//
// Wine's CNG differs from Windows' in ways this must survive: it leaves the
// IV buffer alone where Windows writes the CBC chaining state back into it;
// a key object used again with the same IV continues its old chain; and
// PBKDF2 on a hash handle opened without the HMAC flag ignores the password.
// Hence a private copy of the IV and a new key object for every call, and
// HMAC handles only.
//
// bcrypt.dll is no known library that Windows always takes from its own
// folder, and the program's folder, which every clerk may write to, comes
// first in the search for the libraries a program imports: so it is not
// imported, but loaded from the system folder by name.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/sha256.h"
#include "platform/sqlcipher_provider.h"

namespace quelvar {
namespace {

constexpr int kSqliteOk = 0;
constexpr int kSqliteError = 1;

constexpr int kKeyBytes = 32;  // AES-256
constexpr int kBlockBytes = 16;

// The calls used, from the system's bcrypt.dll.
struct Cng {
  decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
  decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider;
  decltype(&::BCryptSetProperty) SetProperty;
  decltype(&::BCryptGenRandom) GenRandom;
  decltype(&::BCryptCreateHash) CreateHash;
  decltype(&::BCryptHashData) HashData;
  decltype(&::BCryptFinishHash) FinishHash;
  decltype(&::BCryptDestroyHash) DestroyHash;
  decltype(&::BCryptDeriveKeyPBKDF2) DeriveKeyPBKDF2;
  decltype(&::BCryptGenerateSymmetricKey) GenerateSymmetricKey;
  decltype(&::BCryptEncrypt) Encrypt;
  decltype(&::BCryptDecrypt) Decrypt;
  decltype(&::BCryptDestroyKey) DestroyKey;
};
Cng cng{};

template <typename F>
bool Find(HMODULE library, const char* name, F& call) {
  call = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
  return call != nullptr;
}

// Once for the process; the library stays loaded until it ends.
bool LoadCng() {
  static const bool loaded = [] {
    HMODULE library = ::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return library != nullptr &&
           Find(library, "BCryptOpenAlgorithmProvider", cng.OpenAlgorithmProvider) &&
           Find(library, "BCryptCloseAlgorithmProvider", cng.CloseAlgorithmProvider) &&
           Find(library, "BCryptSetProperty", cng.SetProperty) &&
           Find(library, "BCryptGenRandom", cng.GenRandom) &&
           Find(library, "BCryptCreateHash", cng.CreateHash) &&
           Find(library, "BCryptHashData", cng.HashData) &&
           Find(library, "BCryptFinishHash", cng.FinishHash) &&
           Find(library, "BCryptDestroyHash", cng.DestroyHash) &&
           Find(library, "BCryptDeriveKeyPBKDF2", cng.DeriveKeyPBKDF2) &&
           Find(library, "BCryptGenerateSymmetricKey", cng.GenerateSymmetricKey) &&
           Find(library, "BCryptEncrypt", cng.Encrypt) &&
           Find(library, "BCryptDecrypt", cng.Decrypt) &&
           Find(library, "BCryptDestroyKey", cng.DestroyKey);
  }();
  return loaded;
}

// Opened once, when SQLCipher registers the provider; closed at its shutdown.
BCRYPT_ALG_HANDLE aes = nullptr;
BCRYPT_ALG_HANDLE hmac[3] = {};  // by algorithm: SHA-1, SHA-256, SHA-512

bool Ok(NTSTATUS status) { return status >= 0; }

void Close() {
  for (BCRYPT_ALG_HANDLE& handle : hmac) {
    if (handle != nullptr) cng.CloseAlgorithmProvider(handle, 0);
    handle = nullptr;
  }
  if (aes != nullptr) cng.CloseAlgorithmProvider(aes, 0);
  aes = nullptr;
}

int Init() {
  if (!LoadCng()) return kSqliteError;
  const wchar_t* hashes[3] = {BCRYPT_SHA1_ALGORITHM, BCRYPT_SHA256_ALGORITHM,
                              BCRYPT_SHA512_ALGORITHM};
  bool ok =
      Ok(cng.OpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0)) &&
      Ok(cng.SetProperty(aes, BCRYPT_CHAINING_MODE,
                         reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                         sizeof BCRYPT_CHAIN_MODE_CBC, 0));
  for (int i = 0; ok && i < 3; ++i) {
    ok = Ok(cng.OpenAlgorithmProvider(&hmac[i], hashes[i], nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG));
  }
  if (ok) return kSqliteOk;
  Close();
  return kSqliteError;
}

void Shutdown() { Close(); }

BCRYPT_ALG_HANDLE Hmac(int algorithm) {
  return algorithm >= kSha1 && algorithm <= kSha512 ? hmac[algorithm] : nullptr;
}

int HmacBytes(void*, int algorithm) {
  switch (algorithm) {
    case kSha1:
      return 20;
    case kSha256:
      return 32;
    case kSha512:
      return 64;
    default:
      return 0;
  }
}

const char* Name(void*) { return "cng"; }
const char* Version(void*) { return "Windows CNG"; }
const char* CipherName(void*) { return "AES-256-CBC"; }
int KeyBytes(void*) { return kKeyBytes; }
int IvBytes(void*) { return kBlockBytes; }
int BlockBytes(void*) { return kBlockBytes; }
int NoFips(void*) { return 0; }
int NoContext(void**) { return kSqliteOk; }
// The system's generator needs no seed from outside.
int AddRandom(void*, const void*, int) { return kSqliteOk; }

int Random(void*, void* buffer, int length) {
  if (length < 0) return kSqliteError;
  return Ok(cng.GenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(length),
                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))
             ? kSqliteOk
             : kSqliteError;
}

int HmacOf(void*, int algorithm, const unsigned char* key, int key_sz, const unsigned char* in,
           int in_sz, const unsigned char* in2, int in2_sz, unsigned char* out) {
  BCRYPT_ALG_HANDLE algorithm_handle = Hmac(algorithm);
  if (algorithm_handle == nullptr || in == nullptr || key_sz < 0 || in_sz < 0 || in2_sz < 0) {
    return kSqliteError;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = Ok(cng.CreateHash(algorithm_handle, &hash, nullptr, 0, const_cast<PUCHAR>(key),
                              static_cast<ULONG>(key_sz), 0)) &&
            Ok(cng.HashData(hash, const_cast<PUCHAR>(in), static_cast<ULONG>(in_sz), 0)) &&
            (in2 == nullptr ||
             Ok(cng.HashData(hash, const_cast<PUCHAR>(in2), static_cast<ULONG>(in2_sz), 0))) &&
            Ok(cng.FinishHash(hash, out, static_cast<ULONG>(HmacBytes(nullptr, algorithm)), 0));
  if (hash != nullptr) cng.DestroyHash(hash);
  return ok ? kSqliteOk : kSqliteError;
}

int Pbkdf2(void*, int algorithm, const unsigned char* pass, int pass_sz, const unsigned char* salt,
           int salt_sz, int workfactor, int key_sz, unsigned char* key) {
  BCRYPT_ALG_HANDLE algorithm_handle = Hmac(algorithm);
  if (algorithm_handle == nullptr || pass_sz < 0 || salt_sz < 0 || workfactor < 1 || key_sz < 0) {
    return kSqliteError;
  }
  return Ok(cng.DeriveKeyPBKDF2(algorithm_handle, const_cast<PUCHAR>(pass),
                                static_cast<ULONG>(pass_sz), const_cast<PUCHAR>(salt),
                                static_cast<ULONG>(salt_sz), static_cast<ULONGLONG>(workfactor),
                                key, static_cast<ULONG>(key_sz), 0))
             ? kSqliteOk
             : kSqliteError;
}

int Cipher(void*, int mode, const unsigned char* key, int key_sz, const unsigned char* iv,
           const unsigned char* in, int in_sz, unsigned char* out) {
  if (key_sz != kKeyBytes || in_sz < 0 || in_sz % kBlockBytes != 0) return kSqliteError;
  // SQLCipher's IV is stored with the page: the call must not change it.
  unsigned char chain[kBlockBytes];
  std::memcpy(chain, iv, sizeof chain);
  BCRYPT_KEY_HANDLE key_handle = nullptr;
  ULONG written = 0;
  bool ok = Ok(cng.GenerateSymmetricKey(aes, &key_handle, nullptr, 0, const_cast<PUCHAR>(key),
                                        static_cast<ULONG>(key_sz), 0));
  if (ok) {
    auto run = mode == kEncrypt ? cng.Encrypt : cng.Decrypt;
    ok = Ok(run(key_handle, const_cast<PUCHAR>(in), static_cast<ULONG>(in_sz), nullptr, chain,
                sizeof chain, out, static_cast<ULONG>(in_sz), &written, 0)) &&
         written == static_cast<ULONG>(in_sz);
  }
  if (key_handle != nullptr) cng.DestroyKey(key_handle);
  ::SecureZeroMemory(chain, sizeof chain);
  return ok ? kSqliteOk : kSqliteError;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) cng.DestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // A plain hash needs a handle of its own: those above are HMAC's.
  static BCRYPT_ALG_HANDLE sha256 = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (LoadCng()) cng.OpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    return handle;
  }();
  if (sha256 == nullptr || !Ok(cng.CreateHash(sha256, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() = default;

void Sha256::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!Ok(cng.HashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                         piece, 0))) {
      throw std::bad_alloc();
    }
    bytes.remove_prefix(piece);
  }
}

std::string Sha256::Hex() {
  unsigned char digest[32];
  if (!Ok(cng.FinishHash(state_->hash, digest, sizeof digest, 0))) throw std::bad_alloc();
  return HexOf(digest, sizeof digest);
}

// CNG's derivation runs to its end once begun: a SQLCipher 4 key derived in
// advance, and not needed (the file was SQLCipher 3's), would hold up the
// open that is done already. So the key is derived when it is asked for.
KeyInAdvance::KeyInAdvance(int, const std::string&, const std::string&, int, int) {}
KeyInAdvance::~KeyInAdvance() = default;

}  // namespace quelvar

// Named by the build as SQLCipher's custom provider: SQLCipher calls it
// once, to fill in the provider it then registers.
extern "C" int quelvar_crypto_cng_setup(sqlcipher_provider* p) {
  using namespace quelvar;
  *p = {Init,      Shutdown,  Name,       AddRandom, Random,  HmacOf,
        Pbkdf2,    Cipher,    CipherName, KeyBytes,  IvBytes, BlockBytes,
        HmacBytes, NoContext, NoContext,  NoFips,    Version, nullptr};
  return kSqliteOk;
}
