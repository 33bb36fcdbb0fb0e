// Bloom filter sizing (hash count, storage size, false-positive rate) and a small
// generator of bit indices from one 64-bit seed. Storage sizes count bits.
#pragma once

#include <nuv/nuv_export.h>

#include <cstddef>
#include <cstdint>
#include <tuple>

namespace NUV {

/// Hash count for `m` bits holding `n` items: ceil(m / n * 0.693147181). Needs n > 0.
NUV_EXPORT uint64_t bloom_filter_optimal_hash_count(uint64_t m, uint64_t n);

/// Storage size in bits and hash count for `n` items at false-positive rate `p`:
/// c = log(p) / -0.480453 bits per item, size ceil(n * c), hash count c * 0.693147
/// truncated toward zero (0 for p = 0.5). A rate of 1.0 or more, or NaN, is an internal
/// error; 0 < p < 1 gives defined results.
NUV_EXPORT std::tuple<size_t, int> bloom_filter_optimal_storage_size_and_hash_count(uint64_t n, double p);

/// False-positive rate of `m` bits, `k` hashes and `n` items: (1 - (1 - 1/m)^(k n))^k.
/// Needs m > 0 and k * n within the int range.
NUV_EXPORT double bloom_filter_false_positive_rate(uint64_t m, int k, int n);

namespace DETAIL {

/// Linear congruential generator modulo 2^64 turning one seed into a sequence of bit
/// indices below `m_modulus`. Set both fields before the first call.
struct NUV_EXPORT LCG_MOD64_HASH_GENERATOR {
    uint64_t m_seed;    ///< State: seeded by the caller, advanced by every call.
    uint32_t m_modulus; ///< Range of the indices; must not be zero.

    /// Advances the state and returns its upper 32 bits modulo m_modulus.
    unsigned int operator()();
};

} // namespace DETAIL
} // namespace NUV
