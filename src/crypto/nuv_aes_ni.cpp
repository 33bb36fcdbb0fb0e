// AES with the processor's AES instructions. Only these functions are compiled for the
// instruction set; the library chooses them at run time when the CPU has it. Independent
// blocks (ECB, CBC decryption) go through the rounds eight at a time to hide latency.
#include "nuv_aes_kernels.h"

#include "../host/host_cpu.h"

#include <immintrin.h>

#include <cstdint>

#define NUV_AES_NI __attribute__((target("aes,sse4.1")))

namespace {

constexpr int LANES = 8;

NUV_AES_NI inline __m128i load(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

NUV_AES_NI inline void store(unsigned char* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Round keys 0..rounds in registers (at most 15).
struct SCHEDULE {
    __m128i key[15];
    int rounds;
};

NUV_AES_NI inline SCHEDULE load_schedule(const unsigned char* round_keys, int rounds)
{
    SCHEDULE s;
    s.rounds = rounds;
    for (int r = 0; r <= rounds; ++r)
        s.key[r] = load(round_keys + 16 * r);
    return s;
}

template <int N> NUV_AES_NI inline void encrypt_n(const SCHEDULE& s, __m128i (&b)[N])
{
    for (int i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(b[i], s.key[0]);
    for (int r = 1; r < s.rounds; ++r)
        for (int i = 0; i < N; ++i)
            b[i] = _mm_aesenc_si128(b[i], s.key[r]);
    for (int i = 0; i < N; ++i)
        b[i] = _mm_aesenclast_si128(b[i], s.key[s.rounds]);
}

// The equivalent inverse cipher: the schedule's middle round keys are already mixed.
template <int N> NUV_AES_NI inline void decrypt_n(const SCHEDULE& s, __m128i (&b)[N])
{
    for (int i = 0; i < N; ++i)
        b[i] = _mm_xor_si128(b[i], s.key[s.rounds]);
    for (int r = s.rounds - 1; r > 0; --r)
        for (int i = 0; i < N; ++i)
            b[i] = _mm_aesdec_si128(b[i], s.key[r]);
    for (int i = 0; i < N; ++i)
        b[i] = _mm_aesdeclast_si128(b[i], s.key[0]);
}

// ECB in either direction: groups of LANES blocks, then the rest one by one.
template <bool ENCRYPTING>
NUV_AES_NI void ecb(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                    unsigned char* output)
{
    const SCHEDULE s = load_schedule(round_keys, rounds);
    int i = 0;
    for (; i + LANES <= blocks; i += LANES) {
        __m128i b[LANES];
        for (int j = 0; j < LANES; ++j)
            b[j] = load(input + 16 * (i + j));
        if constexpr (ENCRYPTING)
            encrypt_n(s, b);
        else
            decrypt_n(s, b);
        for (int j = 0; j < LANES; ++j)
            store(output + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i) {
        __m128i b[1] = {load(input + 16 * i)};
        if constexpr (ENCRYPTING)
            encrypt_n(s, b);
        else
            decrypt_n(s, b);
        store(output + 16 * i, b[0]);
    }
}

NUV_AES_NI void encrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input,
                               int blocks, unsigned char* output)
{
    ecb<true>(round_keys, rounds, input, blocks, output);
}

NUV_AES_NI void decrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input,
                               int blocks, unsigned char* output)
{
    ecb<false>(round_keys, rounds, input, blocks, output);
}

NUV_AES_NI void cbc_encrypt(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                            const unsigned char* input, int blocks, unsigned char* output)
{
    const SCHEDULE s = load_schedule(round_keys, rounds);
    __m128i chain[1] = {load(iv)};
    for (int i = 0; i < blocks; ++i) {
        chain[0] = _mm_xor_si128(chain[0], load(input + 16 * i));
        encrypt_n(s, chain);
        store(output + 16 * i, chain[0]);
    }
}

// Every input block of a group is read before any output block is written, so the
// ciphertext chain survives in-place operation.
NUV_AES_NI void cbc_decrypt(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                            const unsigned char* input, int blocks, unsigned char* output)
{
    const SCHEDULE s = load_schedule(round_keys, rounds);
    __m128i chain = load(iv);
    int i = 0;
    for (; i + LANES <= blocks; i += LANES) {
        __m128i cipher[LANES], b[LANES];
        for (int j = 0; j < LANES; ++j)
            b[j] = cipher[j] = load(input + 16 * (i + j));
        decrypt_n(s, b);
        store(output + 16 * i, _mm_xor_si128(b[0], chain));
        for (int j = 1; j < LANES; ++j)
            store(output + 16 * (i + j), _mm_xor_si128(b[j], cipher[j - 1]));
        chain = cipher[LANES - 1];
    }
    for (; i < blocks; ++i) {
        __m128i cipher = load(input + 16 * i);
        __m128i b[1] = {cipher};
        decrypt_n(s, b);
        store(output + 16 * i, _mm_xor_si128(b[0], chain));
        chain = cipher;
    }
}

// The shift register is kept as two big-endian 64-bit halves, byte 0 of the register
// being the top byte of `high`.
NUV_AES_NI void cfb1(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                     const unsigned char* input, int blocks, unsigned char* output, bool encrypting)
{
    const SCHEDULE s = load_schedule(round_keys, rounds);
    uint64_t high = 0, low = 0;
    for (int i = 0; i < 8; ++i) {
        high = (high << 8) | iv[i];
        low = (low << 8) | iv[8 + i];
    }
    for (int i = 0; i < 16 * blocks; ++i) {
        const unsigned in_byte = input[i];
        unsigned out_byte = 0;
        for (int bit = 7; bit >= 0; --bit) {
            __m128i reg[1] = {_mm_set_epi64x(static_cast<long long>(__builtin_bswap64(low)),
                                             static_cast<long long>(__builtin_bswap64(high)))};
            encrypt_n(s, reg);
            const unsigned in_bit = (in_byte >> bit) & 1;
            const unsigned out_bit = in_bit ^ ((_mm_cvtsi128_si32(reg[0]) >> 7) & 1);
            out_byte |= out_bit << bit;
            high = (high << 1) | (low >> 63);
            low = (low << 1) | (encrypting ? out_bit : in_bit);
        }
        output[i] = static_cast<unsigned char>(out_byte);
    }
}

} // namespace

namespace nuv_aes_kernels {

bool accelerated_available()
{
    return host_cpu::has_aes_ni();
}

const KERNELS s_accelerated = {encrypt_blocks, decrypt_blocks, cbc_encrypt, cbc_decrypt, cfb1};

} // namespace nuv_aes_kernels
