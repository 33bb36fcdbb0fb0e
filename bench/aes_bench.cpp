// NUV_AES beside OpenSSL's EVP AES, same data, same run. Each case is registered twice,
// "nuv/..." and "openssl/...", and reports bytes per second; compare medians.
// Run once as is and once with NUV_AES_PORTABLE=1 OPENSSL_ia32cap="~0x200000200000000"
// (both without AES instructions).
#include <nuv/nuv_aes.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

enum class OP { ENCRYPT, DECRYPT, PAD_ENCRYPT };

struct CASE {
    const char* name;
    NUV_AES::MODE mode;
    OP op;
    int bytes;
    const EVP_CIPHER* (*evp_128)();
    const EVP_CIPHER* (*evp_256)();
};

const CASE s_cases[] = {
    {"ecb_encrypt", NUV_AES::ECB, OP::ENCRYPT, 32768, EVP_aes_128_ecb, EVP_aes_256_ecb},
    {"ecb_decrypt", NUV_AES::ECB, OP::DECRYPT, 32768, EVP_aes_128_ecb, EVP_aes_256_ecb},
    {"cbc_encrypt", NUV_AES::CBC, OP::ENCRYPT, 32768, EVP_aes_128_cbc, EVP_aes_256_cbc},
    {"cbc_decrypt", NUV_AES::CBC, OP::DECRYPT, 32768, EVP_aes_128_cbc, EVP_aes_256_cbc},
    {"pad_encrypt", NUV_AES::CBC, OP::PAD_ENCRYPT, 32768, EVP_aes_128_cbc, EVP_aes_256_cbc},
    {"cfb1_encrypt", NUV_AES::CFB1, OP::ENCRYPT, 1024, EVP_aes_128_cfb1, EVP_aes_256_cfb1},
    {"cfb1_decrypt", NUV_AES::CFB1, OP::DECRYPT, 1024, EVP_aes_128_cfb1, EVP_aes_256_cfb1},
};

struct DATA {
    unsigned char key[32], iv[16];
    std::vector<unsigned char> input, output;
    explicit DATA(int bytes) : input(bytes), output(bytes + 16)
    {
        std::mt19937 random(42);
        for (auto& b : key)
            b = static_cast<unsigned char>(random());
        for (auto& b : iv)
            b = static_cast<unsigned char>(random());
        for (auto& b : input)
            b = static_cast<unsigned char>(random());
    }
};

NUV_AES::KEY_LENGTH key_length(int bits)
{
    return bits == 128 ? NUV_AES::KEY_128 : NUV_AES::KEY_256;
}

void run_nuv(benchmark::State& state, const CASE& c, int bits)
{
    DATA d(c.bytes);
    NUV_AES aes;
    // CFB1 deciphers with the ENCRYPT schedule.
    const bool decrypt_schedule = c.op == OP::DECRYPT && c.mode != NUV_AES::CFB1;
    aes.init(c.mode, decrypt_schedule ? NUV_AES::DECRYPT : NUV_AES::ENCRYPT, d.key, key_length(bits), d.iv);
    for (auto _ : state) {
        int written = c.op == OP::ENCRYPT   ? aes.block_encrypt(d.input.data(), c.bytes, d.output.data())
                      : c.op == OP::DECRYPT ? aes.block_decrypt(d.input.data(), c.bytes, d.output.data())
                                            : aes.pad_encrypt(d.input.data(), c.bytes, d.output.data());
        if (written < c.bytes)
            state.SkipWithError("cipher refused");
        benchmark::DoNotOptimize(d.output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * c.bytes);
}

void run_openssl(benchmark::State& state, const CASE& c, int bits)
{
    DATA d(c.bytes);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const int encrypting = c.op == OP::DECRYPT ? 0 : 1;
    EVP_CipherInit_ex(ctx.get(), bits == 128 ? c.evp_128() : c.evp_256(), nullptr, d.key, d.iv, encrypting);
    EVP_CIPHER_CTX_set_padding(ctx.get(), c.op == OP::PAD_ENCRYPT ? 1 : 0);
    for (auto _ : state) {
        // Restart the chain from the vector, as every NUV_AES call does; the key stays.
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, d.iv, encrypting);
        int written = 0, final_bytes = 0;
        EVP_CipherUpdate(ctx.get(), d.output.data(), &written, d.input.data(), c.bytes);
        if (c.op == OP::PAD_ENCRYPT)
            EVP_CipherFinal_ex(ctx.get(), d.output.data() + written, &final_bytes);
        if (written + final_bytes < c.bytes)
            state.SkipWithError("cipher refused");
        benchmark::DoNotOptimize(d.output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * c.bytes);
}

int register_all()
{
    for (const CASE& c : s_cases) {
        for (int bits : {128, 256}) {
            const std::string suffix = std::string(c.name) + "/" + std::to_string(bits);
            for (bool ours : {true, false}) {
                auto* b = benchmark::RegisterBenchmark(((ours ? "nuv/" : "openssl/") + suffix).c_str(),
                                                       ours ? run_nuv : run_openssl, c, bits);
                b->Repetitions(5)->ReportAggregatesOnly(true)->MinTime(0.05);
            }
        }
    }
    return 0;
}

const int s_registered = register_all();

} // namespace
