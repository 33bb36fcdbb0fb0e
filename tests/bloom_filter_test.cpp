// Bloom filter sizing against documented values and Python 3 (where it runs), and the rate
// internal error.
#include <nuv/nuv_bloom_filter.h>

#include "test_support.h"

#include <cmath>
#include <sstream>

namespace {

TEST(BloomFilter, DocumentedSizingRateAndGenerator)
{
    EXPECT_NEAR(NUV::bloom_filter_false_positive_rate(959, 6, 100), 0.010143, 5e-7);
    EXPECT_EQ(std::make_tuple(size_t(959), 6),
              NUV::bloom_filter_optimal_storage_size_and_hash_count(100, 0.01));
    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR generator{0, 1000}, one{12345, 1};
    EXPECT_EQ(generator(), 283u);
    EXPECT_EQ(generator.m_seed, 0x255992D382208B61ULL);
    EXPECT_EQ((std::vector<unsigned int>{generator(), generator(), generator(), one(), one()}),
              (std::vector<unsigned int>{994, 737, 131, 0, 0}));
}

// Python's sizing, same doubles, on grids with counts from 2^53 and 2^63 up.
TEST(BloomFilter, SizingMatchesPython)
{
    if (test_support::WINDOWS)
        GTEST_SKIP() << "no Python on Windows: the Linux builds compare with it";
    const uint64_t counts[] = {
        0, 1, 7, 100, 959, 1000, 1024, 123456789, 1ULL << 53, (1ULL << 53) + 1, 1ULL << 63, ~0ULL};
    std::ostringstream script("import math\n", std::ios::ate);
    std::vector<double> ours;
    script.precision(17);
    for (uint64_t m : counts)
        for (uint64_t n : {1ULL, 3ULL, 100ULL, 1ULL << 32}) {
            script << "print(math.ceil(float(" << m << ") / float(" << n << ") * 0.693147181))\n";
            ours.push_back(double(NUV::bloom_filter_optimal_hash_count(m, n)));
        }
    for (uint64_t n : counts)
        for (double p : {0.999999, 0.5, 0.1, 0.01, 0.001, 1e-12, 1e-300})
            if (double(n) * std::log(p) / -0.480453 < 1.8e19) { // a size that 64 bits hold
                script << "c = math.log(" << p << ") / -0.480453\nprint(math.ceil(" << n
                       << " * c), int(c * 0.693147))\n";
                const auto [size, k] = NUV::bloom_filter_optimal_storage_size_and_hash_count(n, p);
                ours.insert(ours.end(), {double(size), double(k)});
            }
    test_support::TEMP_DIR dir;
    test_support::write_file(dir.file("grid.py"), script.str());
    FILE* out = popen(("python3 " + dir.file("grid.py")).c_str(), "r");
    ASSERT_NE(out, nullptr);
    size_t i = 0;
    for (double expected; i < ours.size() && std::fscanf(out, "%lf", &expected) == 1; ++i)
        EXPECT_DOUBLE_EQ(ours[i], expected) << "case " << i;
    EXPECT_EQ(pclose(out), 0);
    EXPECT_EQ(i, ours.size());
}

TEST(BloomFilterDeathTest, TargetRateOfOneOrMoreIsAnInternalError)
{
    const char* const message = "\\[NUV\\] Internal error in nuv_bloom_filter, line 20: Target false "
                                "positive rate should be less than 1.0";
    for (double p : {1.0, 1.5, HUGE_VAL, std::nan("")})
        EXPECT_DEATH(NUV::bloom_filter_optimal_storage_size_and_hash_count(100, p), message) << p;
}

} // namespace
