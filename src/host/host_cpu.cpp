// CPUID and XGETBV. A feature counts only when the system saves its registers: XCR0 says
// which register states the system enabled, and a processor with AVX-512 under a system
// that does not save the 512-bit state must not run AVX-512 code.
#include "host_cpu.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstdint>

// _xgetbv is the compilers' common spelling; GCC and clang want the XSAVE target for it.
#define NUV_XSAVE __attribute__((target("xsave")))

namespace {

struct REGISTERS {
    uint32_t eax, ebx, ecx, edx;
};

// CPUID of `leaf` and `subleaf`; all zero for a leaf the processor does not have.
REGISTERS cpuid(uint32_t leaf, uint32_t subleaf)
{
    REGISTERS r{0, 0, 0, 0};
    if (static_cast<uint32_t>(__get_cpuid_max(0, nullptr)) >= leaf)
        __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

// XCR0: the register states the system saves; only callable when CPUID says OSXSAVE.
NUV_XSAVE uint64_t enabled_register_states()
{
    return _xgetbv(0);
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
