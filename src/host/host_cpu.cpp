// CPUID and XGETBV. A feature counts only when the system saves its registers: XCR0 says
// which register states the system enabled, and a processor with AVX-512 under a system
// that does not save the 512-bit state must not run AVX-512 code.
#include "host_cpu.h"

#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace {

struct REGISTERS {
    uint32_t eax, ebx, ecx, edx;
};

// CPUID of `leaf` and `subleaf`; all zero for a leaf the processor does not have.
REGISTERS cpuid(uint32_t leaf, uint32_t subleaf)
{
    REGISTERS r{0, 0, 0, 0};
#if defined(_MSC_VER)
    int values[4];
    __cpuid(values, 0);
    if (uint32_t(values[0]) < leaf)
        return r;
    __cpuidex(values, int(leaf), int(subleaf));
    r = {uint32_t(values[0]), uint32_t(values[1]), uint32_t(values[2]), uint32_t(values[3])};
#else
    if (__get_cpuid_max(0, nullptr) < leaf)
        return r;
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
    return r;
}

// XCR0: the register states the system saves; only callable when CPUID says OSXSAVE.
uint64_t enabled_register_states()
{
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t(high) << 32) | low;
#endif
}

bool bit(uint32_t value, int index)
{
    return (value >> index) & 1;
}

struct FEATURES {
    bool aes_ni = false;
    bool avx512bw = false;
    bool vaes512 = false;
};

FEATURES read_features()
{
    const REGISTERS basic = cpuid(1, 0), extended = cpuid(7, 0);
    FEATURES f;
    f.aes_ni = bit(basic.ecx, 25) && bit(basic.ecx, 19); // AES, SSE4.1
    // XCR0 bits 1-2 (SSE, AVX) and 5-7 (opmask, upper halves of ZMM0-15, ZMM16-31).
    const uint64_t zmm_states = 0xE6;
    const bool zmm_saved = bit(basic.ecx, 27) && (enabled_register_states() & zmm_states) == zmm_states;
    const bool avx512f = zmm_saved && bit(extended.ebx, 16);
    f.avx512bw = avx512f && bit(extended.ebx, 30);
    f.vaes512 = avx512f && f.aes_ni && bit(extended.ecx, 9);
    return f;
}

const FEATURES& features()
{
    static const FEATURES s_features = read_features();
    return s_features;
}

} // namespace

bool host_cpu::has_aes_ni()
{
    return features().aes_ni;
}

bool host_cpu::has_avx512bw()
{
    return features().avx512bw;
}

bool host_cpu::has_vaes512()
{
    return features().vaes512;
}
