// AES ECB with the vector AES instructions on 512-bit registers: one instruction runs a
// round on four blocks. Only ECB, the cipher of the stream containers, goes this way:
// whole groups of GROUP_BLOCKS go through the wide rounds and the rest through the
// 128-bit kernels, which therefore stay in use on every processor that has these.
#include "nuv_aes_kernels.h"

#include "../host/host_cpu.h"

#include <immintrin.h>

#define NUV_AES_WIDE __attribute__((target("vaes,avx512f")))

namespace {

constexpr int REGISTERS = 8;
constexpr int GROUP_BLOCKS = 4 * REGISTERS;

// Round keys 0..rounds, each repeated in the four lanes of a register.
struct WIDE_SCHEDULE {
    __m512i key[15];
    int rounds;
};

NUV_AES_WIDE inline WIDE_SCHEDULE load_wide_schedule(const unsigned char* round_keys, int rounds)
{
    WIDE_SCHEDULE s;
    s.rounds = rounds;
    // The zero-masked broadcast: the plain one starts from an undefined register, which
    // GCC's own header turns into a maybe-uninitialized warning.
    for (int r = 0; r <= rounds; ++r) {
        const __m128i key = _mm_loadu_si128(reinterpret_cast<const __m128i*>(round_keys + 16 * r));
        s.key[r] = _mm512_maskz_broadcast_i32x4(0xFFFF, key);
    }
    return s;
}

NUV_AES_WIDE inline void encrypt_group(const WIDE_SCHEDULE& s, __m512i (&b)[REGISTERS])
{
    for (int i = 0; i < REGISTERS; ++i)
        b[i] = _mm512_xor_si512(b[i], s.key[0]);
    for (int r = 1; r < s.rounds; ++r)
        for (int i = 0; i < REGISTERS; ++i)
            b[i] = _mm512_aesenc_epi128(b[i], s.key[r]);
    for (int i = 0; i < REGISTERS; ++i)
        b[i] = _mm512_aesenclast_epi128(b[i], s.key[s.rounds]);
}

// The equivalent inverse cipher, as in the 128-bit kernels.
NUV_AES_WIDE inline void decrypt_group(const WIDE_SCHEDULE& s, __m512i (&b)[REGISTERS])
{
    for (int i = 0; i < REGISTERS; ++i)
        b[i] = _mm512_xor_si512(b[i], s.key[s.rounds]);
    for (int r = s.rounds - 1; r > 0; --r)
        for (int i = 0; i < REGISTERS; ++i)
            b[i] = _mm512_aesdec_epi128(b[i], s.key[r]);
    for (int i = 0; i < REGISTERS; ++i)
        b[i] = _mm512_aesdeclast_epi128(b[i], s.key[0]);
}

// Returns how many blocks it handled: every whole group.
template <bool ENCRYPTING>
NUV_AES_WIDE int wide_ecb(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                          unsigned char* output)
{
    const WIDE_SCHEDULE s = load_wide_schedule(round_keys, rounds);
    int i = 0;
    for (; i + GROUP_BLOCKS <= blocks; i += GROUP_BLOCKS) {
        __m512i b[REGISTERS];
        for (int j = 0; j < REGISTERS; ++j)
            b[j] = _mm512_loadu_si512(input + 16 * i + 64 * j);
        if constexpr (ENCRYPTING)
            encrypt_group(s, b);
        else
            decrypt_group(s, b);
        for (int j = 0; j < REGISTERS; ++j)
            _mm512_storeu_si512(output + 16 * i + 64 * j, b[j]);
    }
    return i;
}

} // namespace

namespace nuv_aes_kernels {

bool wide_available()
{
    return host_cpu::has_vaes512();
}

void wide_encrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                         unsigned char* output)
{
    const int done = wide_ecb<true>(round_keys, rounds, input, blocks, output);
    s_accelerated.encrypt_blocks(round_keys, rounds, input + 16 * done, blocks - done, output + 16 * done);
}

void wide_decrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                         unsigned char* output)
{
    const int done = wide_ecb<false>(round_keys, rounds, input, blocks, output);
    s_accelerated.decrypt_blocks(round_keys, rounds, input + 16 * done, blocks - done, output + 16 * done);
}

} // namespace nuv_aes_kernels
