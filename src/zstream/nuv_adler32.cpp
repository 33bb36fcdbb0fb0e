// Adler-32 over 512-bit registers. Each 64-byte step adds the bytes into s1 (by lane, with
// a sum of absolute differences against zero) and their weights 64..1 into s2; s2 also gains
// 64 times s1 as it stood before the step. The sums are reduced modulo 65521 every
// MOST_BEFORE_MODULO bytes, zlib's bound for 32-bit sums that cannot overflow.
#include "nuv_adler32.h"

#include "../host/host_cpu.h"

#include <immintrin.h>
#include <isa-l/igzip_lib.h>

#define NUV_ADLER_WIDE __attribute__((target("avx512f,avx512bw")))

namespace nuv_zstream_detail {

namespace {

constexpr uint32_t MODULUS = 65521;
constexpr size_t MOST_BEFORE_MODULO = 5552 / 64 * 64; // 5504: whole 64-byte steps
constexpr size_t STEP = 64;

// Once per run of steps; through memory, as GCC's own reduction and plain shift start from
// undefined registers, which its headers turn into maybe-uninitialized warnings.
NUV_ADLER_WIDE uint32_t sum_lanes(__m512i v)
{
    alignas(64) uint32_t lanes[16];
    _mm512_store_si512(lanes, v);
    uint32_t sum = 0;
    for (uint32_t lane : lanes)
        sum += lane;
    return sum;
}

NUV_ADLER_WIDE uint32_t wide_adler32(uint32_t adler, const unsigned char* data, size_t length)
{
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    const __m512i weights =
        _mm512_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                        25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45,
                        46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
    const __m512i ones = _mm512_set1_epi16(1);
    const __m512i zero = _mm512_setzero_si512();
    while (length >= STEP) {
        size_t run = length < MOST_BEFORE_MODULO ? length / STEP * STEP : MOST_BEFORE_MODULO;
        length -= run;
        __m512i v1 = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(s1)));
        __m512i v2 = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(s2)));
        __m512i s1_before_steps = zero;
        for (; run > 0; run -= STEP, data += STEP) {
            const __m512i bytes = _mm512_loadu_si512(data);
            s1_before_steps = _mm512_add_epi32(s1_before_steps, v1);
            v1 = _mm512_add_epi32(v1, _mm512_sad_epu8(bytes, zero));
            v2 = _mm512_add_epi32(v2, _mm512_madd_epi16(_mm512_maddubs_epi16(bytes, weights), ones));
        }
        v2 = _mm512_add_epi32(v2, _mm512_maskz_slli_epi32(0xFFFF, s1_before_steps, 6));
        s1 = sum_lanes(v1) % MODULUS;
        s2 = sum_lanes(v2) % MODULUS;
    }
    for (; length > 0; --length, ++data) {
        s1 += *data;
        s2 += s1;
    }
    return (s2 % MODULUS) << 16 | (s1 % MODULUS);
}

bool wide_available()
{
    return host_cpu::has_avx512bw();
}

} // namespace

uint32_t adler32_update(uint32_t adler, const unsigned char* data, size_t length)
{
    static const bool s_wide = wide_available();
    return s_wide ? wide_adler32(adler, data, length) : isal_adler32(adler, data, length);
}

} // namespace nuv_zstream_detail
