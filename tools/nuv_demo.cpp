// Demo: enciphers and deciphers a 64 MiB buffer with NUV_AES in ECB mode and prints the
// throughput of each direction.
#include <nuv/nuv_aes.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    const int size = 64 << 20;
    std::vector<unsigned char> original(size), buffer(size);
    std::mt19937 random(2026);
    for (auto& byte : original)
        byte = static_cast<unsigned char>(random());
    unsigned char key[16];
    for (auto& byte : key)
        byte = static_cast<unsigned char>(random());

    NUV_AES encryptor, decryptor;
    encryptor.init(NUV_AES::ECB, NUV_AES::ENCRYPT, key, NUV_AES::KEY_128, nullptr);
    decryptor.init(NUV_AES::ECB, NUV_AES::DECRYPT, key, NUV_AES::KEY_128, nullptr);

    auto start = std::chrono::steady_clock::now();
    encryptor.block_encrypt(original.data(), size, buffer.data());
    double encrypt_seconds = seconds_since(start);
    start = std::chrono::steady_clock::now();
    decryptor.block_decrypt(buffer.data(), size, buffer.data());
    double decrypt_seconds = seconds_since(start);

    bool same = buffer == original;
    std::printf("AES-128 ECB on %d MiB: encrypt %.0f MB/s, decrypt %.0f MB/s, round trip %s\n", size >> 20,
                size / encrypt_seconds / 1e6, size / decrypt_seconds / 1e6, same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
}
