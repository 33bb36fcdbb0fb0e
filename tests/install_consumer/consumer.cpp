// A client of the installed library: one block through the cipher and a short text
// through an encrypted, compressed file, using only the installed headers.
#include <nuv/nuv_toolkit.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

bool cipher_round_trip()
{
    unsigned char key[16] = {1, 2, 3};
    unsigned char block[16] = "installed ok";
    unsigned char copy[16];
    std::memcpy(copy, block, sizeof block);

    NUV_AES encryptor, decryptor;
    encryptor.init(NUV_AES::ECB, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128, nullptr);
    decryptor.init(NUV_AES::ECB, NUV_AES::DECRYPT, key, NUV_AES::KEY_128, nullptr);
    encryptor.block_encrypt(block, 16, block);
    decryptor.block_decrypt(block, 16, block);
    return std::memcmp(block, copy, 16) == 0;
}

bool stream_round_trip()
{
    const char* name = "consumer_sample.nuv";
    const std::string text = "a line for the installed streams\n";
    NUV_MD5 digest("password");
    unsigned char key[16];
    digest.raw_digest(key);

    NUV_ZOFSTREAM out;
    out.open(name, std::ios_base::binary, true, key, 16, -1, false);
    out << text;
    out.close();

    NUV_ZIFSTREAM in(name, std::ios_base::binary, key, 16);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bool ok = back == text && in.last_error() == NUV_ZSTREAM_OK && nuv_is_file_encrypted(name);
    in.close();
    std::remove(name);
    return ok;
}

} // namespace

int main()
{
    bool ok = cipher_round_trip() && stream_round_trip();
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
