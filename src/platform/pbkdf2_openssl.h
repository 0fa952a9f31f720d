// PBKDF2-HMAC over OpenSSL's SHA-1, SHA-256 and SHA-512, at the speed of
// their compression functions: the provider's key derivation on Linux.
#pragma once

namespace quelvar {

// The key of `key_sz` bytes that PBKDF2-HMAC with the hash `algorithm`
// (kSha1, kSha256, kSha512) derives from `pass` and `salt` in `iterations`;
// false when it could not. A key KeyInAdvance is deriving with exactly these
// inputs is taken from there.
bool Pbkdf2Hmac(int algorithm, const unsigned char* pass, int pass_sz, const unsigned char* salt,
                int salt_sz, int iterations, int key_sz, unsigned char* key);

}  // namespace quelvar
