// A client of the installed library: enciphers and deciphers one block.
#include <nuv/nuv_aes.h>
#include <nuv/nuv_enum_base.h>

#include <cstdio>
#include <cstring>

int main()
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

    NUV_ENUM_BASE e(3);
    bool ok = std::memcmp(block, copy, 16) == 0 && 3 == e;
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
