// The oracle through OpenSSL's EVP interface.
#include "oracle.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

namespace oracle {

std::string aes(MODE mode, bool encrypt, const std::string& key, std::string iv, const std::string& in,
                bool pad)
{
    const char* const modes[] = {"-ecb", "-cbc", "-cfb1"};
    const std::string name = "aes-" + std::to_string(key.size() * 8) + modes[mode];
    const auto* const k = reinterpret_cast<const unsigned char*>(key.data());
    iv.resize(16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(in.size() + 16, '\0');
    auto* const o = reinterpret_cast<unsigned char*>(&out[0]);
    int written = 0, last = 0;
    EVP_CipherInit_ex(ctx, EVP_get_cipherbyname(name.c_str()), nullptr, k,
                      reinterpret_cast<const unsigned char*>(iv.data()), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    EVP_CipherUpdate(ctx, o, &written, reinterpret_cast<const unsigned char*>(in.data()), int(in.size()));
    EXPECT_EQ(EVP_CipherFinal_ex(ctx, o + written, &last), 1) << name << ": padding rejected";
    EVP_CIPHER_CTX_free(ctx);
    return out.substr(0, size_t(written + last));
}

std::string md5(const char* data, size_t size)
{
    unsigned char digest[16];
    EVP_Digest(data, size, digest, nullptr, EVP_md5(), nullptr);
    return std::string(digest, digest + 16);
}

} // namespace oracle
