// The oracle through libgcrypt. It has no CFB1, so that mode is built here from its ECB as
// SP 800-38A defines it; the published CFB1 vectors in aes_test check the result.
#include "oracle.h"

#include <gtest/gtest.h>

#include <gcrypt.h>

namespace oracle {
namespace {

// A libgcrypt AES handle for `mode` under `key`, the library initialised on first use.
gcry_cipher_hd_t open_cipher(int mode, const std::string& key, const std::string& iv)
{
    static const bool ready =
        gcry_check_version(nullptr) && !gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    const int algorithms[] = {GCRY_CIPHER_AES128, GCRY_CIPHER_AES192, GCRY_CIPHER_AES256};
    gcry_cipher_hd_t cipher = nullptr;
    EXPECT_TRUE(ready && !gcry_cipher_open(&cipher, algorithms[key.size() / 8 - 2], mode, 0) &&
                !gcry_cipher_setkey(cipher, key.data(), key.size()) &&
                (mode != GCRY_CIPHER_MODE_CBC || !gcry_cipher_setiv(cipher, iv.data(), 16)));
    return cipher;
}

// CFB1: each bit is the text bit XOR the first bit of the enciphered register, and the
// cipher-text bit then shifts into the register.
std::string cfb1(bool encrypt, const std::string& key, std::string iv, std::string text)
{
    gcry_cipher_hd_t ecb = open_cipher(GCRY_CIPHER_MODE_ECB, key, iv);
    unsigned char mask[16];
    const auto u = [](char c) { return static_cast<unsigned char>(c); };
    for (size_t bit = 0; bit < text.size() * 8; ++bit) {
        gcry_cipher_encrypt(ecb, mask, 16, iv.data(), 16);
        char& byte = text[bit / 8];
        const int shift = 7 - int(bit % 8), in = u(byte) >> shift & 1, out = in ^ mask[0] >> 7;
        byte = char((u(byte) & ~(1 << shift)) | out << shift);
        for (size_t i = 0; i < 16; ++i)
            iv[i] = char(u(iv[i]) << 1 | (i < 15 ? u(iv[i + 1]) >> 7 : encrypt ? out : in));
    }
    gcry_cipher_close(ecb);
    return text;
}

} // namespace

std::string aes(MODE mode, bool encrypt, const std::string& key, std::string iv, const std::string& in,
                bool pad)
{
    iv.resize(16);
    if (mode == CFB1)
        return cfb1(encrypt, key, iv, in);
    const size_t padding = encrypt && pad ? 16 - in.size() % 16 : 0;
    std::string text = in + std::string(padding, char(padding));
    gcry_cipher_hd_t cipher = open_cipher(mode == ECB ? GCRY_CIPHER_MODE_ECB : GCRY_CIPHER_MODE_CBC, key, iv);
    EXPECT_FALSE(encrypt ? gcry_cipher_encrypt(cipher, &text[0], text.size(), nullptr, 0)
                         : gcry_cipher_decrypt(cipher, &text[0], text.size(), nullptr, 0));
    gcry_cipher_close(cipher);
    if (encrypt || !pad)
        return text;
    const size_t n = text.empty() ? 0 : static_cast<unsigned char>(text.back());
    const bool padded = n >= 1 && n <= 16 && n <= text.size() &&
                        text.find_first_not_of(char(n), text.size() - n) == std::string::npos;
    EXPECT_TRUE(padded) << "padding rejected";
    return padded ? text.substr(0, text.size() - n) : text;
}

std::string md5(const char* data, size_t size)
{
    unsigned char digest[16];
    gcry_md_hash_buffer(GCRY_MD_MD5, digest, data, size);
    return std::string(digest, digest + 16);
}

} // namespace oracle
