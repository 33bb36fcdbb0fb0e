// Bloom filter sizing in double precision. The two ln 2 constants differ on purpose
// (0.693147181 for the hash count, 0.693147 with 0.480453 = (ln 2)^2 for the sizing),
// and the results follow them exactly.
#include <nuv/nuv_bloom_filter.h>

#include <host/host_services.h>

#include <cmath>

namespace {

// The internal-error report of the sizing function carries a fixed line number,
// stable across edits of this file (not __LINE__).
const int s_rate_error_line = 20;

const uint64_t s_lcg_multiplier = 0x369DEA0F31A53F85ULL;
const uint64_t s_lcg_increment = 0x255992D382208B61ULL;

} // namespace

uint64_t NUV::bloom_filter_optimal_hash_count(uint64_t m, uint64_t n)
{
    double k = std::ceil(static_cast<double>(m) / static_cast<double>(n) * 0.693147181);
    return static_cast<uint64_t>(k);
}

std::tuple<size_t, int> NUV::bloom_filter_optimal_storage_size_and_hash_count(uint64_t n, double p)
{
    if (!(p < 1.0))
        report_internal_error("Target false positive rate should be less than 1.0", "NUV", "nuv_bloom_filter",
                              s_rate_error_line);
    double bits_per_item = std::log(p) / -0.480453;
    int hash_count = static_cast<int>(bits_per_item * 0.693147);
    uint64_t storage = static_cast<uint64_t>(std::ceil(static_cast<double>(n) * bits_per_item));
    return std::make_tuple(static_cast<size_t>(storage), hash_count);
}

double NUV::bloom_filter_false_positive_rate(uint64_t m, int k, int n)
{
    double q = 1.0 - 1.0 / static_cast<double>(m);
    double e = static_cast<double>(k * n);
    return std::pow(1.0 - std::pow(q, e), static_cast<double>(k));
}

unsigned int NUV::DETAIL::LCG_MOD64_HASH_GENERATOR::operator()()
{
    m_seed = m_seed * s_lcg_multiplier + s_lcg_increment;
    return static_cast<uint32_t>(m_seed >> 32) % m_modulus;
}
