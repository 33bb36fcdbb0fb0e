// NUV_AES against FIPS-197, SP 800-38A and the oracle (OpenSSL's libcrypto, or libgcrypt), and its
// refusals; also run with NUV_AES_PORTABLE=1.
#include <nuv/nuv_aes.h>

#include "oracle.h"
#include "test_support.h"

#include <climits>

namespace {

using test_support::from_hex;
using test_support::same_bytes;
const NUV_AES::MODE ECB = NUV_AES::ECB, CBC = NUV_AES::CBC, CFB1 = NUV_AES::CFB1;
const NUV_AES::DIRECTION ENCRYPT = NUV_AES::ENCRYPT, DECRYPT = NUV_AES::DECRYPT;
const char s_guard = '\xA5'; // fills outputs so that stray writes show

// The bytes of a string as the cipher takes them, const or not as the string is.
template <class S> auto U(S& s)
{
    return reinterpret_cast<std::conditional_t<std::is_const_v<S>, const uint8_t*, uint8_t*>>(&s[0]);
}

// A ready cipher (no vector: null, meaning zeros); init writes nothing past the object.
NUV_AES ready(NUV_AES::MODE mode, NUV_AES::DIRECTION direction, const std::string& key, std::string iv = "")
{
    std::pair<NUV_AES, uint32_t> box(NUV_AES(), 0xA5A5A5A5u); // a guard right after the cipher
    unsigned char* const vector = iv.empty() ? nullptr : U(iv);
    EXPECT_EQ(box.first.init(mode, direction, U(key), NUV_AES::KEY_LENGTH(key.size() / 8 - 2), vector), 0);
    EXPECT_EQ(box.second, 0xA5A5A5A5u);
    return box.first;
}

// FIPS-197 and SP 800-38A's CFB1 vectors, then random keys, vectors and lengths against the oracle
// (PKCS #7 padding, none in CFB1; its whole blocks are unpadded): exact counts written, in place too.
TEST(Aes, PublishedVectorsAndTheOracleInEveryModeAndKeyLength)
{
    const std::string plain = from_hex("00112233445566778899aabbccddeeff");
    const std::string keys = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const char* const ciphers[] = {"69c4e0d86a7b0430d8cdb78070b4c55a", "dda97ca4864cdfe06eaf70a0ec0d7191",
                                   "8ea2b7ca516745bfeafc49904b496089"};
    for (size_t i = 0; i < 3; ++i) {
        std::string out = plain;
        EXPECT_EQ(ready(ECB, ENCRYPT, keys.substr(0, 16 + 8 * i)).block_encrypt(U(out), 16, U(out)), 16);
        EXPECT_TRUE(same_bytes(from_hex(ciphers[i]), out)) << i;
    }
    // CFB1 (SP 800-38A F.3.1 to F.3.6): 16 bits each way, the start of a whole block here.
    const std::string text = from_hex("6bc1bee22e409f96e93d7e117393172a"), iv = keys.substr(0, 16);
    for (auto [key, bits] : {std::pair("2b7e151628aed2a6abf7158809cf4f3c", "68b3"),
                             {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "9359"},
                             {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "9029"}}) {
        std::string out = text, back = from_hex(bits) + text.substr(2);
        ready(CFB1, ENCRYPT, from_hex(key), iv).block_encrypt(U(out), 16, U(out));
        ready(CFB1, ENCRYPT, from_hex(key), iv).block_decrypt(U(back), 16, U(back));
        EXPECT_EQ(from_hex(bits) + text.substr(0, 2), out.substr(0, 2) + back.substr(0, 2)) << key;
    }
    std::mt19937 random(1);
    for (NUV_AES::MODE mode : {ECB, CBC, CFB1})
        for (size_t round = 0; round < 60; ++round) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " round " << round);
            const std::string key = test_support::make_data(16 + 8 * (round % 3), false, random());
            const std::string iv = round % 4 ? test_support::make_data(16, false, random()) : "";
            const size_t size = round < 9 ? 16 * (round / 3) : random() % (mode == CFB1 ? 100 : 1000);
            const size_t whole = size / 16 * 16;
            const std::string plain = test_support::make_data(size, false, random());
            const std::string padded = oracle::aes(oracle::MODE(mode), true, key, iv, plain),
                              expected = padded.substr(0, whole);
            NUV_AES encryptor = ready(mode, ENCRYPT, key, iv), decryptor;       // CFB1 deciphers with ENCRYPT
            decryptor = ready(mode, mode == CFB1 ? ENCRYPT : DECRYPT, key, iv); // a copy, by assignment
            std::string out = plain + std::string(16, s_guard);
            EXPECT_EQ(encryptor.block_encrypt(U(out), int(size), U(out)), int(whole));
            EXPECT_TRUE(same_bytes(expected + plain.substr(whole) + std::string(16, s_guard), out));
            EXPECT_EQ(decryptor.block_decrypt(U(out), int(size), U(out)), int(whole));
            EXPECT_TRUE(same_bytes(plain + std::string(16, s_guard), out));
            if (mode == CFB1)
                continue;
            out.assign(whole + 32, s_guard); // into another buffer
            EXPECT_EQ(encryptor.pad_encrypt(U(plain), int(size), U(out)), int(whole + 16));
            EXPECT_TRUE(same_bytes(padded + std::string(16, s_guard), out));
            EXPECT_EQ(decryptor.pad_decrypt(U(out), int(whole + 16), U(out)), int(size));
            EXPECT_TRUE(same_bytes(plain + padded.substr(size) + std::string(16, s_guard), out));
        }
}

// Every refusal, in the order the operations test for it; none writes to the output.
TEST(Aes, RefusalCodes)
{
    const std::string key(16, '\3'), in(32, '\x9');
    std::string out(32, s_guard), block(16, s_guard);
    unsigned char* const o = U(out);
    const unsigned char *const i = U(in), *const no = nullptr;
    NUV_AES fresh, failed = ready(CBC, DECRYPT, key);
    EXPECT_EQ(failed.init(ECB, ENCRYPT, nullptr, NUV_AES::KEY_128, nullptr), -4);
    EXPECT_EQ(failed.init(NUV_AES::MODE(3), ENCRYPT, U(key), NUV_AES::KEY_128, nullptr), -1);
    EXPECT_EQ(failed.init(ECB, NUV_AES::DIRECTION(2), U(key), NUV_AES::KEY_128, nullptr), -2);
    EXPECT_EQ(failed.init(ECB, ENCRYPT, U(key), NUV_AES::KEY_LENGTH(3), nullptr), -3);
    for (NUV_AES* aes : {&fresh, &failed}) // not ready
        EXPECT_EQ((std::vector<int>{aes->block_encrypt(i, 32, o), aes->block_decrypt(i, 32, o),
                                    aes->pad_encrypt(i, 32, o), aes->pad_decrypt(i, 32, o)}),
                  std::vector<int>(4, -5));
    for (NUV_AES::MODE mode : {ECB, CBC, CFB1}) {
        const int cfb1 = mode == CFB1 ? -1 : 0; // -1 in CFB1, 0 otherwise
        NUV_AES enc = ready(mode, ENCRYPT, key), dec = ready(mode, DECRYPT, key);
        EXPECT_EQ((std::vector<int>{dec.block_encrypt(i, 32, o), dec.pad_encrypt(i, 32, o),
                                    enc.pad_decrypt(i, 32, o), enc.block_decrypt(i, -1, o),
                                    cfb1 ? dec.pad_decrypt(i, 32, o) : -1}),
                  (std::vector<int>{-6, -5, -6, cfb1 ? 0 : -6, -1}));
        // Nothing to do: no input, length <= 0, under a block (bad for pad_decrypt), too long to pad.
        for (auto [input, bytes] :
             {std::pair(no, 32), std::pair(i, 0), std::pair(i, -16), std::pair(i, 1), std::pair(i, 15)}) {
            EXPECT_EQ(enc.block_encrypt(input, bytes, o), 0) << bytes;
            EXPECT_EQ(dec.block_decrypt(input, bytes, o), 0) << bytes;
            EXPECT_EQ(dec.pad_decrypt(input, bytes, o), bytes % 16 ? -7 : 0) << bytes;
        }
        for (auto [input, bytes] : {std::pair(no, 1), std::pair(i, -1), std::pair(i, INT_MAX - 15)})
            EXPECT_EQ(enc.pad_encrypt(input, bytes, o), cfb1) << bytes;
        EXPECT_EQ(enc.pad_encrypt(nullptr, 0, U(block)), cfb1 ? -1 : 16); // the input is not read
        EXPECT_EQ(out, std::string(32, s_guard));
    }
    // Last blocks with padding 0, 17, and 3 but byte 13 differing are refused; a good one is not.
    for (auto [position, value] : {std::pair(15, 0), std::pair(15, 17), std::pair(13, 4), std::pair(0, 4)}) {
        std::string text(32, '\3');
        text[16 + position] = char(value);
        ready(ECB, ENCRYPT, key).block_encrypt(U(text), 32, U(text));
        EXPECT_EQ(ready(ECB, DECRYPT, key).pad_decrypt(U(text), 32, U(text)), position ? -7 : 29) << position;
    }
}

} // namespace
