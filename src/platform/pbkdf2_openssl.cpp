// PBKDF2-HMAC at the hash's limit. OpenSSL's own PKCS5_PBKDF2_HMAC sets up a
// keyed HMAC afresh for every iteration; here the HMAC's inner and outer
// states are computed once per derivation, and each iteration is two runs of
// the hash's compression function over one block laid out once. The result
// is the same, byte for byte: the known-answer tests check it against
// published vectors and against PKCS5_PBKDF2_HMAC at the real counts.
//
// The compression functions (SHA1_Transform and its kin) are deprecated in
// OpenSSL 3 for new code, in favour of EVP, which offers no cheap restart
// from a saved state; every OpenSSL 3 still builds and exports them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/pbkdf2_openssl.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/sqlcipher_provider.h"

namespace quelvar {
namespace {

void Be32(unsigned char* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// What the derivation needs of each hash: its sizes, its calls, and its
// chaining state, set and read as its words.
template <typename Ctx>
struct Hash;

template <>
struct Hash<SHA_CTX> {
  using Word = std::uint32_t;
  static constexpr int kBlock = 64, kDigest = 20, kWords = 5;
  static void Init(SHA_CTX* c) { SHA1_Init(c); }
  static void Update(SHA_CTX* c, const void* d, std::size_t n) { SHA1_Update(c, d, n); }
  static void Final(unsigned char* out, SHA_CTX* c) { SHA1_Final(out, c); }
  static void Transform(SHA_CTX* c, const unsigned char* b) { SHA1_Transform(c, b); }
  static void Get(const SHA_CTX& c, Word* w) {
    w[0] = c.h0, w[1] = c.h1, w[2] = c.h2, w[3] = c.h3, w[4] = c.h4;
  }
  static void Set(SHA_CTX* c, const Word* w) {
    c->h0 = w[0], c->h1 = w[1], c->h2 = w[2], c->h3 = w[3], c->h4 = w[4];
  }
};

template <>
struct Hash<SHA256_CTX> {
  using Word = std::uint32_t;
  static constexpr int kBlock = 64, kDigest = 32, kWords = 8;
  static void Init(SHA256_CTX* c) { SHA256_Init(c); }
  static void Update(SHA256_CTX* c, const void* d, std::size_t n) { SHA256_Update(c, d, n); }
  static void Final(unsigned char* out, SHA256_CTX* c) { SHA256_Final(out, c); }
  static void Transform(SHA256_CTX* c, const unsigned char* b) { SHA256_Transform(c, b); }
  static void Get(const SHA256_CTX& c, Word* w) { std::memcpy(w, c.h, sizeof c.h); }
  static void Set(SHA256_CTX* c, const Word* w) { std::memcpy(c->h, w, sizeof c->h); }
};

template <>
struct Hash<SHA512_CTX> {
  using Word = std::uint64_t;
  static constexpr int kBlock = 128, kDigest = 64, kWords = 8;
  static void Init(SHA512_CTX* c) { SHA512_Init(c); }
  static void Update(SHA512_CTX* c, const void* d, std::size_t n) { SHA512_Update(c, d, n); }
  static void Final(unsigned char* out, SHA512_CTX* c) { SHA512_Final(out, c); }
  static void Transform(SHA512_CTX* c, const unsigned char* b) { SHA512_Transform(c, b); }
  static void Get(const SHA512_CTX& c, Word* w) { std::memcpy(w, c.h, sizeof c.h); }
  static void Set(SHA512_CTX* c, const Word* w) { std::memcpy(c->h, w, sizeof c->h); }
};

// A state's words as the digest's bytes, big-endian: a byte swap each, on
// the little-endian machines this is built for.
static_assert(std::endian::native == std::endian::little);
void Bytes(const std::uint32_t* w, int n, unsigned char* out) {
  for (int i = 0; i < n; ++i) {
    const std::uint32_t big = __builtin_bswap32(w[i]);
    std::memcpy(out + 4 * i, &big, 4);
  }
}
void Bytes(const std::uint64_t* w, int n, unsigned char* out) {
  for (int i = 0; i < n; ++i) {
    const std::uint64_t big = __builtin_bswap64(w[i]);
    std::memcpy(out + 8 * i, &big, 8);
  }
}

struct Inputs {
  const unsigned char* pass;
  int pass_sz;
  const unsigned char* salt;
  int salt_sz;
  int iterations;
};

// Block `number` of the key: T = U1 ^ U2 ^ ... ^ Uc, into `out` (a digest
// long). False when `stop` was set meanwhile.
template <typename Ctx>
bool Block(const Inputs& e, std::uint32_t number, unsigned char* out,
           const std::atomic<bool>* stop) {
  using H = Hash<Ctx>;
  unsigned char key[H::kBlock] = {};
  Ctx c;
  if (e.pass_sz > H::kBlock) {
    H::Init(&c);
    H::Update(&c, e.pass, static_cast<std::size_t>(e.pass_sz));
    H::Final(key, &c);
  } else {
    std::memcpy(key, e.pass, static_cast<std::size_t>(e.pass_sz));
  }
  Ctx inner, outer;
  unsigned char pad[H::kBlock];
  for (int i = 0; i < H::kBlock; ++i) pad[i] = key[i] ^ 0x36;
  H::Init(&inner);
  H::Update(&inner, pad, H::kBlock);
  for (int i = 0; i < H::kBlock; ++i) pad[i] = key[i] ^ 0x5c;
  H::Init(&outer);
  H::Update(&outer, pad, H::kBlock);

  // U1 = HMAC(salt || number), the general way.
  unsigned char u[H::kDigest];
  unsigned char index[4];
  Be32(index, number);
  c = inner;
  H::Update(&c, e.salt, static_cast<std::size_t>(e.salt_sz));
  H::Update(&c, index, 4);
  H::Final(u, &c);
  c = outer;
  H::Update(&c, u, H::kDigest);
  H::Final(u, &c);
  unsigned char t[H::kDigest];
  std::memcpy(t, u, H::kDigest);

  // Each later U hashes the one before, a message of one block and a
  // digest after the key's: one block, padded once. The chain is kept in
  // the hash's own words, T too; only the block is bytes.
  unsigned char block[H::kBlock] = {};
  std::memcpy(block, u, H::kDigest);
  block[H::kDigest] = 0x80;
  constexpr int kBits = (H::kBlock + H::kDigest) * 8;
  block[H::kBlock - 2] = kBits >> 8;
  block[H::kBlock - 1] = kBits & 0xff;
  typename H::Word inner_words[H::kWords], outer_words[H::kWords], w[H::kWords];
  typename H::Word sum[H::kWords] = {};
  H::Get(inner, inner_words);
  H::Get(outer, outer_words);
  bool parado = false;
  for (int i = 1; i < e.iterations && !parado; ++i) {
    H::Set(&c, inner_words);
    H::Transform(&c, block);
    H::Get(c, w);
    Bytes(w, H::kWords, block);
    H::Set(&c, outer_words);
    H::Transform(&c, block);
    H::Get(c, w);
    Bytes(w, H::kWords, block);
    for (int k = 0; k < H::kWords; ++k) sum[k] ^= w[k];
    parado = (i & 1023) == 0 && stop != nullptr && stop->load(std::memory_order_relaxed);
  }
  Bytes(sum, H::kWords, block);
  for (int k = 0; k < H::kDigest; ++k) t[k] ^= block[k];
  std::memcpy(out, t, H::kDigest);
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(pad, sizeof pad);
  OPENSSL_cleanse(&inner, sizeof inner);
  OPENSSL_cleanse(&outer, sizeof outer);
  OPENSSL_cleanse(&c, sizeof c);
  OPENSSL_cleanse(u, sizeof u);
  OPENSSL_cleanse(t, sizeof t);
  OPENSSL_cleanse(block, sizeof block);
  OPENSSL_cleanse(inner_words, sizeof inner_words);
  OPENSSL_cleanse(outer_words, sizeof outer_words);
  OPENSSL_cleanse(w, sizeof w);
  OPENSSL_cleanse(sum, sizeof sum);
  return !parado;
}

// Fewer iterations are over before a thread would start.
constexpr int kWorthAThread = 4096;

// The key's blocks are independent chains: from the second on (a 32-byte
// key of SHA-1's has two), on another core.
template <typename Ctx>
bool Derive(const Inputs& e, int key_sz, unsigned char* key, const std::atomic<bool>* stop) {
  constexpr int kDigest = Hash<Ctx>::kDigest;
  const int blocks = (key_sz + kDigest - 1) / kDigest;
  std::vector<unsigned char> out(static_cast<std::size_t>(blocks) * kDigest);
  bool rest_ok = true;
  auto rest = [&](int from) {
    for (int b = from; b <= blocks && rest_ok; ++b) {
      rest_ok = Block<Ctx>(e, static_cast<std::uint32_t>(b), &out[(b - 1) * kDigest], stop);
    }
  };
  std::thread helper;
  if (blocks > 1 && e.iterations >= kWorthAThread) {
    try {
      helper = std::thread(rest, 2);
    } catch (const std::system_error&) {
      // No thread to be had: the blocks one after the other.
    }
  }
  bool ok = blocks == 0 || Block<Ctx>(e, 1, out.data(), stop);
  if (helper.joinable()) {
    helper.join();
  } else {
    rest(2);
  }
  ok = ok && rest_ok;
  if (ok) std::memcpy(key, out.data(), static_cast<std::size_t>(key_sz));
  OPENSSL_cleanse(out.data(), out.size());
  return ok;
}

bool DeriveWith(int algorithm, const Inputs& e, int key_sz, unsigned char* key,
                const std::atomic<bool>* stop) {
  switch (algorithm) {
    case kSha1:
      return Derive<SHA_CTX>(e, key_sz, key, stop);
    case kSha256:
      return Derive<SHA256_CTX>(e, key_sz, key, stop);
    case kSha512:
      return Derive<SHA512_CTX>(e, key_sz, key, stop);
    default:
      return false;
  }
}

// The one key being derived in advance, and who waits for it.
struct Advance {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool active = false;
  bool done = false;
  bool ok = false;
  int algorithm = 0;
  int iterations = 0;
  std::string pass;
  std::string salt;
  std::vector<unsigned char> key;
  std::atomic<bool> stop{false};
  std::thread thread;

  bool Matches(int a, const unsigned char* p, int p_sz, const unsigned char* s, int s_sz, int it,
               int key_sz) const {
    return active && a == algorithm && it == iterations &&
           key.size() == static_cast<std::size_t>(key_sz) &&
           pass == std::string_view(reinterpret_cast<const char*>(p), p_sz) &&
           salt == std::string_view(reinterpret_cast<const char*>(s), s_sz);
  }
};

Advance& TheAdvance() {
  static Advance advance;
  return advance;
}

}  // namespace

bool Pbkdf2Hmac(int algorithm, const unsigned char* pass, int pass_sz, const unsigned char* salt,
                int salt_sz, int iterations, int key_sz, unsigned char* key) {
  if (pass_sz < 0 || salt_sz < 0 || iterations < 1 || key_sz < 0) return false;
  Advance& a = TheAdvance();
  {
    std::unique_lock<std::mutex> lock(a.mutex);
    if (a.Matches(algorithm, pass, pass_sz, salt, salt_sz, iterations, key_sz)) {
      a.done_cv.wait(lock, [&] { return a.done; });
      if (a.ok) {
        std::memcpy(key, a.key.data(), a.key.size());
        return true;
      }
    }
  }
  return DeriveWith(algorithm, {pass, pass_sz, salt, salt_sz, iterations}, key_sz, key, nullptr);
}

KeyInAdvance::KeyInAdvance(int algorithm, const std::string& pass, const std::string& salt,
                           int iterations, int key_sz) {
  Advance& a = TheAdvance();
  std::lock_guard<std::mutex> lock(a.mutex);
  if (a.active || key_sz <= 0) return;  // one at a time
  a.algorithm = algorithm;
  a.iterations = iterations;
  a.pass = pass;
  a.salt = salt;
  a.key.assign(static_cast<std::size_t>(key_sz), 0);
  a.done = false;
  a.stop = false;
  try {
    a.thread = std::thread([&a] {
      const Inputs e{reinterpret_cast<const unsigned char*>(a.pass.data()),
                     static_cast<int>(a.pass.size()),
                     reinterpret_cast<const unsigned char*>(a.salt.data()),
                     static_cast<int>(a.salt.size()), a.iterations};
      const bool ok =
          DeriveWith(a.algorithm, e, static_cast<int>(a.key.size()), a.key.data(), &a.stop);
      std::lock_guard<std::mutex> done(a.mutex);
      a.ok = ok;
      a.done = true;
      a.done_cv.notify_all();
    });
    a.active = true;
    mine_ = true;
  } catch (const std::system_error&) {
    // No thread: the key is derived when it is asked for.
  }
}

KeyInAdvance::~KeyInAdvance() {
  if (!mine_) return;
  Advance& a = TheAdvance();
  a.stop = true;
  a.thread.join();
  std::lock_guard<std::mutex> lock(a.mutex);
  OPENSSL_cleanse(a.key.data(), a.key.size());
  OPENSSL_cleanse(a.pass.data(), a.pass.size());
  a.active = false;
}

}  // namespace quelvar
