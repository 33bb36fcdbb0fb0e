// NUV_AES against the FIPS-197 examples and OpenSSL's libcrypto, its refusal codes,
// in-place operation and copies. ctest runs this program twice: with whatever
// implementation the CPU selects, and with NUV_AES_PORTABLE=1 (the "portable." tests).
#include <nuv/nuv_aes.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using BYTES = std::vector<unsigned char>;

BYTES from_hex(const std::string& hex)
{
    BYTES out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

int key_bytes(NUV_AES::KEY_LENGTH length)
{
    return 16 + 8 * length;
}

const NUV_AES::KEY_LENGTH s_lengths[] = {NUV_AES::KEY_128, NUV_AES::KEY_192, NUV_AES::KEY_256};

const EVP_CIPHER* evp_cipher(NUV_AES::MODE mode, NUV_AES::KEY_LENGTH length)
{
    static const EVP_CIPHER* (*const s_table[3][3])() = {
        {EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb},
        {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc},
        {EVP_aes_128_cfb1, EVP_aes_192_cfb1, EVP_aes_256_cfb1},
    };
    return s_table[mode][length]();
}

// The oracle: one EVP pass over the whole input, with or without PKCS #7 padding.
BYTES openssl(NUV_AES::MODE mode, NUV_AES::KEY_LENGTH length, bool encrypting, const BYTES& key,
              const BYTES& iv, const BYTES& input, bool padding)
{
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), evp_cipher(mode, length), nullptr, key.data(), iv.data(),
                                encrypting ? 1 : 0),
              1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    BYTES out(input.size() + 32);
    int written = 0, final_bytes = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(), static_cast<int>(input.size())),
              1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + written, &final_bytes), 1);
    out.resize(static_cast<size_t>(written + final_bytes));
    return out;
}

class RANDOM {
public:
    explicit RANDOM(unsigned seed) : m_engine(seed) {}
    BYTES bytes(size_t n)
    {
        BYTES out(n);
        for (auto& b : out)
            b = static_cast<unsigned char>(m_engine());
        return out;
    }
    int below(int n) { return static_cast<int>(m_engine() % static_cast<unsigned>(n)); }

private:
    std::mt19937 m_engine;
};

NUV_AES ready(NUV_AES::MODE mode, NUV_AES::DIRECTION direction, const BYTES& key, NUV_AES::KEY_LENGTH length,
              BYTES iv = BYTES(16))
{
    NUV_AES aes;
    EXPECT_EQ(aes.init(mode, direction, key.data(), length, iv.data()), 0);
    return aes;
}

const unsigned char s_guard = 0xA5; // fills outputs so that stray writes show

TEST(Aes, Fips197AppendixC)
{
    const BYTES plain = from_hex("00112233445566778899aabbccddeeff");
    const BYTES key = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const char* cipher_hex[] = {"69c4e0d86a7b0430d8cdb78070b4c55a", "dda97ca4864cdfe06eaf70a0ec0d7191",
                                "8ea2b7ca516745bfeafc49904b496089"};
    for (auto length : s_lengths) {
        SCOPED_TRACE(length);
        const BYTES cipher = from_hex(cipher_hex[length]);
        NUV_AES encryptor, decryptor;
        ASSERT_EQ(encryptor.init(NUV_AES::ECB, NUV_AES::ENCRYPT, key.data(), length, nullptr), 0);
        ASSERT_EQ(decryptor.init(NUV_AES::ECB, NUV_AES::DECRYPT, key.data(), length, nullptr), 0);
        BYTES out(16);
        EXPECT_EQ(encryptor.block_encrypt(plain.data(), 16, out.data()), 16);
        EXPECT_EQ(out, cipher);
        EXPECT_EQ(decryptor.block_decrypt(cipher.data(), 16, out.data()), 16);
        EXPECT_EQ(out, plain);
    }
}

// Random keys, vectors and lengths (long enough for several groups of blocks and odd
// remainders); whole blocks only, the bytes after them stay untouched.
TEST(Aes, BlockModesMatchOpenssl)
{
    RANDOM random(1);
    for (auto mode : {NUV_AES::ECB, NUV_AES::CBC, NUV_AES::CFB1}) {
        for (auto length : s_lengths) {
            for (int round = 0; round < 25; ++round) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " key " << length << " round " << round);
                const BYTES key = random.bytes(static_cast<size_t>(key_bytes(length)));
                const BYTES iv = random.bytes(16);
                const int bytes = random.below(mode == NUV_AES::CFB1 ? 100 : 2000);
                const BYTES plain = random.bytes(static_cast<size_t>(bytes));
                const int whole = bytes / 16 * 16;
                const BYTES plain_whole(plain.begin(), plain.begin() + whole);
                const BYTES expected = openssl(mode, length, true, key, iv, plain_whole, false);

                NUV_AES encryptor = ready(mode, NUV_AES::ENCRYPT, key, length, iv);
                BYTES cipher(static_cast<size_t>(bytes) + 16, s_guard);
                ASSERT_EQ(encryptor.block_encrypt(plain.data(), bytes, cipher.data()), whole);
                EXPECT_EQ(BYTES(cipher.begin(), cipher.begin() + whole), expected);
                EXPECT_EQ(BYTES(cipher.begin() + whole, cipher.end()), BYTES(cipher.size() - whole, s_guard));

                // CFB1 deciphers with the ENCRYPT schedule.
                NUV_AES decryptor =
                    ready(mode, mode == NUV_AES::CFB1 ? NUV_AES::ENCRYPT : NUV_AES::DECRYPT, key, length, iv);
                BYTES back(static_cast<size_t>(whole), s_guard);
                ASSERT_EQ(decryptor.block_decrypt(expected.data(), whole, back.data()), whole);
                EXPECT_EQ(back, plain_whole);
            }
        }
    }
}

TEST(Aes, PaddingMatchesOpenssl)
{
    RANDOM random(2);
    for (auto mode : {NUV_AES::ECB, NUV_AES::CBC}) {
        for (auto length : s_lengths) {
            for (int round = 0; round < 25; ++round) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " key " << length << " round " << round);
                const BYTES key = random.bytes(static_cast<size_t>(key_bytes(length)));
                const BYTES iv = random.bytes(16);
                const int bytes = round < 3 ? 16 * round : random.below(1000);
                const BYTES plain = random.bytes(static_cast<size_t>(bytes));
                const BYTES expected = openssl(mode, length, true, key, iv, plain, true);

                NUV_AES encryptor = ready(mode, NUV_AES::ENCRYPT, key, length, iv);
                BYTES cipher(static_cast<size_t>(bytes / 16 * 16 + 16 + 16), s_guard);
                ASSERT_EQ(encryptor.pad_encrypt(plain.data(), bytes, cipher.data()), bytes / 16 * 16 + 16);
                EXPECT_EQ(BYTES(cipher.begin(), cipher.end() - 16), expected);
                EXPECT_EQ(BYTES(cipher.end() - 16, cipher.end()), BYTES(16, s_guard));

                NUV_AES decryptor = ready(mode, NUV_AES::DECRYPT, key, length, iv);
                BYTES back(expected.size(), s_guard);
                ASSERT_EQ(
                    decryptor.pad_decrypt(expected.data(), static_cast<int>(expected.size()), back.data()),
                    bytes);
                EXPECT_EQ(BYTES(back.begin(), back.begin() + bytes), plain);
            }
        }
    }
}

TEST(Aes, PaddingSizes)
{
    const BYTES key(16, 7);
    NUV_AES encryptor = ready(NUV_AES::ECB, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128);
    NUV_AES decryptor = ready(NUV_AES::ECB, NUV_AES::DECRYPT, key, NUV_AES::KEY_128);
    const BYTES plain(17, 1);
    BYTES out(48, s_guard);
    EXPECT_EQ(encryptor.pad_encrypt(nullptr, 0, out.data()), 16); // the input is not read
    EXPECT_EQ(decryptor.block_decrypt(out.data(), 16, out.data()), 16);
    EXPECT_EQ(BYTES(out.begin(), out.begin() + 16), BYTES(16, 16));
    EXPECT_EQ(encryptor.pad_encrypt(plain.data(), 16, out.data()), 32);
    EXPECT_EQ(encryptor.pad_encrypt(plain.data(), 17, out.data()), 32);
}

// Every refusal, in the order the operations test for it, with outputs left untouched.
TEST(Aes, RefusalCodes)
{
    const BYTES key(32, 3), input(32, 9);
    BYTES out(32, s_guard);
    const BYTES untouched(32, s_guard);

    NUV_AES fresh;
    EXPECT_EQ(fresh.block_encrypt(input.data(), 32, out.data()), -5);
    EXPECT_EQ(fresh.block_decrypt(input.data(), 32, out.data()), -5);
    EXPECT_EQ(fresh.pad_encrypt(input.data(), 32, out.data()), -5);
    EXPECT_EQ(fresh.pad_decrypt(input.data(), 32, out.data()), -5);

    NUV_AES aes = ready(NUV_AES::ECB, NUV_AES::ENCRYPT, key, NUV_AES::KEY_256);
    EXPECT_EQ(
        aes.init(static_cast<NUV_AES::MODE>(3), NUV_AES::ENCRYPT, key.data(), NUV_AES::KEY_128, nullptr), -1);
    EXPECT_EQ(aes.block_encrypt(input.data(), 32, out.data()), -5); // a failed init leaves it not ready
    EXPECT_EQ(
        aes.init(NUV_AES::ECB, static_cast<NUV_AES::DIRECTION>(2), key.data(), NUV_AES::KEY_128, nullptr),
        -2);
    EXPECT_EQ(
        aes.init(NUV_AES::ECB, NUV_AES::ENCRYPT, key.data(), static_cast<NUV_AES::KEY_LENGTH>(3), nullptr),
        -3);
    EXPECT_EQ(aes.init(NUV_AES::ECB, NUV_AES::ENCRYPT, nullptr, NUV_AES::KEY_128, nullptr), -4);
    EXPECT_EQ(aes.pad_encrypt(input.data(), 32, out.data()), -5);

    for (auto mode : {NUV_AES::ECB, NUV_AES::CBC, NUV_AES::CFB1}) {
        SCOPED_TRACE(mode);
        NUV_AES encryptor = ready(mode, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128);
        NUV_AES decryptor = ready(mode, NUV_AES::DECRYPT, key, NUV_AES::KEY_128);
        EXPECT_EQ(decryptor.block_encrypt(input.data(), 32, out.data()), -6);
        EXPECT_EQ(decryptor.pad_encrypt(input.data(), 32, out.data()), -5);
        EXPECT_EQ(encryptor.pad_decrypt(input.data(), 32, out.data()), -6);
        if (mode != NUV_AES::CFB1) {
            EXPECT_EQ(encryptor.block_decrypt(input.data(), 32, out.data()), -6);
        }
        EXPECT_EQ(decryptor.pad_decrypt(input.data(), 20, out.data()), -7); // before the mode test
        if (mode == NUV_AES::CFB1) {
            EXPECT_EQ(encryptor.pad_encrypt(input.data(), 32, out.data()), -1);
            EXPECT_EQ(decryptor.pad_decrypt(input.data(), 32, out.data()), -1);
        }

        // Nothing to do: null input, zero or negative length.
        for (int bytes : {0, -16}) {
            EXPECT_EQ(encryptor.block_encrypt(input.data(), bytes, out.data()), 0);
            EXPECT_EQ(decryptor.pad_decrypt(input.data(), bytes, out.data()), 0);
        }
        EXPECT_EQ(encryptor.block_encrypt(nullptr, 32, out.data()), 0);
        EXPECT_EQ(decryptor.block_decrypt(nullptr, 32, out.data()), 0);
        EXPECT_EQ(encryptor.block_decrypt(input.data(), -1, out.data()), mode == NUV_AES::CFB1 ? 0 : -6);
        EXPECT_EQ(decryptor.pad_decrypt(nullptr, 32, out.data()), 0);
        if (mode != NUV_AES::CFB1) {
            EXPECT_EQ(decryptor.block_decrypt(input.data(), -16, out.data()), 0);
            EXPECT_EQ(encryptor.pad_encrypt(input.data(), -1, out.data()), 0);
            EXPECT_EQ(encryptor.pad_encrypt(nullptr, 5, out.data()), 0);
        }
        // Less than a block.
        EXPECT_EQ(encryptor.block_encrypt(input.data(), 15, out.data()), 0);
        EXPECT_EQ(out, untouched);
    }
}

TEST(Aes, WholeBlocksOnly)
{
    const BYTES key(16, 5), input(20, 1);
    for (auto mode : {NUV_AES::ECB, NUV_AES::CBC}) {
        NUV_AES aes = ready(mode, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128);
        BYTES out(20, s_guard);
        EXPECT_EQ(aes.block_encrypt(input.data(), 20, out.data()), 16);
        EXPECT_EQ(BYTES(out.begin() + 16, out.end()), BYTES(4, s_guard));
    }
}

// Deciphered last blocks whose padding is wrong: 0, 17, and 3 with byte 13 differing.
TEST(Aes, BadPadding)
{
    const BYTES key(16, 8);
    NUV_AES encryptor = ready(NUV_AES::ECB, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128);
    NUV_AES decryptor = ready(NUV_AES::ECB, NUV_AES::DECRYPT, key, NUV_AES::KEY_128);
    BYTES good(16, 3), zero(16, 3), big(16, 3), uneven(16, 3);
    zero[15] = 0;
    big[15] = 17;
    uneven[13] = 4;
    for (const BYTES* plain : {&zero, &big, &uneven, &good}) {
        BYTES cipher(32), out(32);
        std::copy(plain->begin(), plain->end(), cipher.begin() + 16);
        encryptor.block_encrypt(cipher.data(), 32, cipher.data());
        EXPECT_EQ(decryptor.pad_decrypt(cipher.data(), 32, out.data()), plain == &good ? 29 : -7);
    }
}

// Every mode and operation gives the same bytes in place as into another buffer.
TEST(Aes, InPlace)
{
    RANDOM random(3);
    const BYTES key = random.bytes(32), iv = random.bytes(16);
    const int bytes = 16 * 37;
    const BYTES plain = random.bytes(bytes);
    for (auto mode : {NUV_AES::ECB, NUV_AES::CBC, NUV_AES::CFB1}) {
        SCOPED_TRACE(mode);
        const int size = mode == NUV_AES::CFB1 ? 48 : bytes;
        NUV_AES encryptor = ready(mode, NUV_AES::ENCRYPT, key, NUV_AES::KEY_256, iv);
        NUV_AES decryptor = ready(mode, mode == NUV_AES::CFB1 ? NUV_AES::ENCRYPT : NUV_AES::DECRYPT, key,
                                  NUV_AES::KEY_256, iv);
        BYTES apart(size + 16), inplace(plain.begin(), plain.begin() + size);
        inplace.resize(size + 16);
        EXPECT_EQ(encryptor.block_encrypt(plain.data(), size, apart.data()), size);
        EXPECT_EQ(encryptor.block_encrypt(inplace.data(), size, inplace.data()), size);
        EXPECT_EQ(inplace, apart);
        EXPECT_EQ(decryptor.block_decrypt(inplace.data(), size, inplace.data()), size);
        EXPECT_EQ(BYTES(inplace.begin(), inplace.begin() + size), BYTES(plain.begin(), plain.begin() + size));
        if (mode == NUV_AES::CFB1)
            continue;
        const int odd = size - 5;
        std::copy(plain.begin(), plain.begin() + odd, inplace.begin());
        EXPECT_EQ(encryptor.pad_encrypt(plain.data(), odd, apart.data()), size);
        EXPECT_EQ(encryptor.pad_encrypt(inplace.data(), odd, inplace.data()), size);
        EXPECT_EQ(BYTES(inplace.begin(), inplace.begin() + size), BYTES(apart.begin(), apart.begin() + size));
        EXPECT_EQ(decryptor.pad_decrypt(inplace.data(), size, inplace.data()), odd);
        EXPECT_EQ(BYTES(inplace.begin(), inplace.begin() + odd), BYTES(plain.begin(), plain.begin() + odd));
    }
}

// A copy carries the whole key schedule and vector and stays valid when the original
// is set up again.
TEST(Aes, CopiesAreIndependentReadyCiphers)
{
    RANDOM random(4);
    const BYTES key = random.bytes(24), other_key = random.bytes(24), iv = random.bytes(16);
    const BYTES plain = random.bytes(160);
    NUV_AES original = ready(NUV_AES::CBC, NUV_AES::DECRYPT, key, NUV_AES::KEY_192, iv);
    NUV_AES copied(original);
    NUV_AES assigned;
    assigned = original;
    BYTES expected(160), out(160);
    original.block_decrypt(plain.data(), 160, expected.data());
    ASSERT_EQ(original.init(NUV_AES::ECB, NUV_AES::DECRYPT, other_key.data(), NUV_AES::KEY_192, nullptr), 0);
    for (NUV_AES* aes : {&copied, &assigned}) {
        EXPECT_EQ(aes->block_decrypt(plain.data(), 160, out.data()), 160);
        EXPECT_EQ(out, expected);
    }
    EXPECT_EQ(original.block_decrypt(plain.data(), 160, out.data()), 160);
    EXPECT_NE(out, expected);
}

// Every CBC call starts again from the instance's vector.
TEST(Aes, CbcCallsRestartFromVector)
{
    const BYTES key(16, 1), iv(16, 2), plain(32, 3);
    NUV_AES aes = ready(NUV_AES::CBC, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128, iv);
    BYTES whole(32), split(32);
    aes.block_encrypt(plain.data(), 32, whole.data());
    aes.block_encrypt(plain.data(), 16, split.data());
    aes.block_encrypt(plain.data() + 16, 16, split.data() + 16);
    EXPECT_EQ(BYTES(split.begin(), split.begin() + 16), BYTES(whole.begin(), whole.begin() + 16));
    EXPECT_EQ(BYTES(split.begin() + 16, split.end()), BYTES(whole.begin(), whole.begin() + 16));
    EXPECT_NE(split, whole);
}

} // namespace
