// The engine's crypto provider (OpenSSL's libcrypto on Linux, CNG on
// Windows) against published known-answer vectors: PBKDF2 (RFC 6070 and
// RFC 7914 style), HMAC (RFC 2202, RFC 4231), AES-256-CBC (SP 800-38A). The
// same expectations on both systems, so each provider checks the other.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/sqlcipher_provider.h"

namespace quelvar {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Hex(std::string_view hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(
        static_cast<unsigned char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

class Cifrado : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
    p_ = sqlcipher_get_provider();
    ASSERT_NE(p_, nullptr);
    ASSERT_EQ(p_->ctx_init(&ctx_), SQLITE_OK);
  }
  void TearDown() override {
    if (p_ != nullptr) p_->ctx_free(&ctx_);
  }

  sqlcipher_provider* p_ = nullptr;
  void* ctx_ = nullptr;
};

TEST_F(Cifrado, Pbkdf2MatchesThePublishedVectors) {
  struct Case {
    int algorithm;
    std::string password, salt;
    int iterations;
    std::string key;
  } cases[] = {
      {kSha1, "password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {kSha1, "password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {kSha1, "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {kSha1, std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
       "56fa6aa75548099dcc37d7f03425e0c3"},
      {kSha256, "passwd", "salt", 1,
       "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
       "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
      {kSha256, "Password", "NaCl", 80000,
       "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
       "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
      {kSha512, "password", "salt", 2,
       "e1d9c16aa681708a45f5c7c4e215ceb66e011a2e9f0040713f18aefdb866d53c"
       "f76cab2868a39b9f7840edce4fef5a82be67335c77a6068e04112754f27ccf4e"},
      // From OpenSSL's own PKCS5_PBKDF2_HMAC: the counts of SQLCipher 3 and
      // 4 with the program's password; passwords longer than the hash's
      // block, and a key of three blocks.
      {kSha1, "Rt6081M73", "sal de 16 bytes!", 64000,
       "ef7857e4f0bdaf17a79f800d8c5e0b18275ebc87f92c157626e3177a254f37b2"},
      {kSha512, "Rt6081M73", "sal de 16 bytes!", 256000,
       "aafec62fa4c45c094bb04edd8d45f8f86db0e2b40b76c2cb2cee99df5d6c0ac4"},
      {kSha1, "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklm",
       "sal de 16 bytes!", 4096,
       "11aea68b315effa4a1de1906298c133dee6d1bab0bb833a67e3e2ce8a3624d5a8738e198fbb5f7555514d0f3"
       "6bd6e8819d17"},
      {kSha512, std::string(129, 'A'), "sal de 16 bytes!", 3,
       "450904aa2357af78e46a2e79a918cbbcea6288ada1a8a96f1f9a980f8567adce"
       "69fbbe2a2d784142c0732764fe095205c5a67aac11e5f329dbe5145e9b256ad9"},
      // Passwords exactly one block of the hash long, used as they are.
      {kSha1, std::string(64, 'B'), "sal de 16 bytes!", 2,
       "200d24a6491b73f6235222bd2b641de2c8f4f42802dfb36986c41d28f67d47b6"},
      {kSha256, std::string(64, 'C'), "sal de 16 bytes!", 2,
       "25c9b7b7f5c6acbd2a25ed666b957aec6cd90c0bec1245a197d96b1adc09ee1d"},
      {kSha512, std::string(128, 'D'), "sal de 16 bytes!", 2,
       "796428e5f97a7b004683dbd4609501e7f073cdacf9ab91a968fc95014121e3fe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password + " / " + std::to_string(c.iterations));
    const Bytes expected = Hex(c.key);
    Bytes key(expected.size());
    const Bytes pass = Text(c.password), salt = Text(c.salt);
    ASSERT_EQ(p_->kdf(ctx_, c.algorithm, pass.data(), static_cast<int>(pass.size()), salt.data(),
                      static_cast<int>(salt.size()), c.iterations, static_cast<int>(key.size()),
                      key.data()),
              SQLITE_OK);
    EXPECT_EQ(key, expected);
  }
}

// A key derived in advance is the one asked for, taken whole, the second of
// a process's as the first; one dropped halfway leaves every derivation as
// it was.
TEST_F(Cifrado, AKeyDerivedInAdvanceIsTheSame) {
  const Bytes pass = Text("Rt6081M73"), salt = Text("sal de 16 bytes!");
  const Bytes expected = Hex("aafec62fa4c45c094bb04edd8d45f8f86db0e2b40b76c2cb2cee99df5d6c0ac4");
  for (bool asked : {true, true, false}) {
    SCOPED_TRACE(asked);
    Bytes key(32);
    {
      KeyInAdvance advance(kSha512, "Rt6081M73", "sal de 16 bytes!", 256000, 32);
      if (asked) {
        ASSERT_EQ(p_->kdf(ctx_, kSha512, pass.data(), 9, salt.data(), 16, 256000, 32, key.data()),
                  SQLITE_OK);
      }
    }
    if (!asked) {
      ASSERT_EQ(p_->kdf(ctx_, kSha512, pass.data(), 9, salt.data(), 16, 256000, 32, key.data()),
                SQLITE_OK);
    }
    EXPECT_EQ(key, expected);
  }
}

TEST_F(Cifrado, HmacMatchesThePublishedVectorsAlsoOverTwoPieces) {
  const std::string long_text = "Test Using Larger Than Block-Size Key - Hash Key First";
  struct Case {
    int algorithm;
    Bytes key;
    std::string data, mac;
  } cases[] = {
      {kSha1, Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {kSha1, Text("Jefe"), "what do ya want for nothing?",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {kSha1, Bytes(80, 0xaa), long_text, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {kSha256, Text("Jefe"), "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {kSha256, Bytes(131, 0xaa), long_text,
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {kSha512, Bytes(20, 0x0b), "Hi There",
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
       "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
      {kSha512, Bytes(131, 0xaa), long_text,
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
       "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data + " / " + std::to_string(c.key.size()));
    const Bytes expected = Hex(c.mac);
    ASSERT_EQ(p_->get_hmac_sz(ctx_, c.algorithm), static_cast<int>(expected.size()));
    const Bytes data = Text(c.data);
    // Whole, then split as SQLCipher splits a page from its number.
    for (std::size_t split : {data.size(), data.size() / 3}) {
      Bytes mac(expected.size());
      const bool two = split < data.size();
      ASSERT_EQ(p_->hmac(ctx_, c.algorithm, c.key.data(), static_cast<int>(c.key.size()),
                         data.data(), static_cast<int>(split), two ? data.data() + split : nullptr,
                         static_cast<int>(data.size() - split), mac.data()),
                SQLITE_OK);
      EXPECT_EQ(mac, expected) << "split at " << split;
    }
  }
}

// The IV that SQLCipher hands over is the one stored with the page: a call
// must not change it, and the same key and IV twice must give the same bytes.
TEST_F(Cifrado, AesCbcMatchesThePublishedVectorsAndLeavesTheIvAsItWas) {
  ASSERT_EQ(p_->get_key_sz(ctx_), 32);
  ASSERT_EQ(p_->get_iv_sz(ctx_), 16);
  ASSERT_EQ(p_->get_block_sz(ctx_), 16);
  const Bytes key = Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes plain =
      Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
          "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const Bytes cipher =
      Hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
          "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
  const Bytes iv_given = Hex("000102030405060708090a0b0c0d0e0f");
  Bytes iv = iv_given;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Bytes out(plain.size());
    ASSERT_EQ(p_->cipher(ctx_, kEncrypt, key.data(), 32, iv.data(), plain.data(),
                         static_cast<int>(plain.size()), out.data()),
              SQLITE_OK);
    EXPECT_EQ(out, cipher);
    EXPECT_EQ(iv, iv_given);
    ASSERT_EQ(p_->cipher(ctx_, kDecrypt, key.data(), 32, iv.data(), cipher.data(),
                         static_cast<int>(cipher.size()), out.data()),
              SQLITE_OK);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(iv, iv_given);
  }
}

TEST_F(Cifrado, RandomBytesDifferFromCallToCall) {
  Bytes a(32), b(32);
  ASSERT_EQ(p_->random(ctx_, a.data(), 32), SQLITE_OK);
  ASSERT_EQ(p_->random(ctx_, b.data(), 32), SQLITE_OK);
  EXPECT_NE(a, b);
  EXPECT_NE(a, Bytes(32, 0));
}

}  // namespace
}  // namespace quelvar
