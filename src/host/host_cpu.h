// What the processor offers and the operating system has enabled, read once through
// CPUID and XGETBV. The cipher's and the reader's fast paths ask here before they run.
#pragma once

namespace host_cpu {

/// The AES instructions and SSE4.1.
bool has_aes_ni();

/// AVX-512F and AVX-512BW, with the 512-bit register state enabled by the system.
bool has_avx512bw();

/// The vector AES instructions on 512-bit registers (VAES, AVX-512F and the AES
/// instructions), with the 512-bit register state enabled by the system.
bool has_vaes512();

} // namespace host_cpu
