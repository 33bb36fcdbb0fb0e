// MD5 of 256 MB in one buffer: NUV_MD5 beside OpenSSL's MD5 in the same run.
#include <nuv/nuv_md5.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

namespace {

const size_t s_size = size_t(256) << 20;

const std::vector<unsigned char>& data()
{
    static const std::vector<unsigned char> s_data = [] {
        std::vector<unsigned char> bytes(s_size);
        std::mt19937_64 random(1321);
        for (size_t i = 0; i < bytes.size(); i += 8) {
            const uint64_t word = random();
            for (size_t j = 0; j < 8; ++j)
                bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
        }
        return bytes;
    }();
    return s_data;
}

void BM_NuvMd5(benchmark::State& state)
{
    const auto& bytes = data();
    for (auto _ : state) {
        NUV_MD5 md5(bytes.data(), static_cast<unsigned int>(bytes.size()));
        unsigned char digest[16];
        md5.raw_digest(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_OpenSslMd5(benchmark::State& state)
{
    const auto& bytes = data();
    for (auto _ : state) {
        unsigned char digest[16];
        unsigned int length = 0;
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

// Alternate the two so that a noisy neighbour affects both alike.
BENCHMARK(BM_NuvMd5)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OpenSslMd5)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
