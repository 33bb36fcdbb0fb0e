// Bloom filter sizing and the index generator: the documented values, the formulas
// recomputed by Python over a grid (same doubles, an independent implementation), the
// generator against Python's big integers, and the internal error for bad rates.
#include <nuv/nuv_bloom_filter.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs a Python script and returns its output split into whitespace-separated words.
std::vector<std::string> python_words(const std::string& script)
{
    char path[] = "/tmp/nuv_bloom_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(fd);
    std::vector<std::string> words;
    FILE* out = popen(("python3 " + std::string(path)).c_str(), "r");
    EXPECT_NE(out, nullptr);
    if (out) {
        char word[128];
        while (std::fscanf(out, "%127s", word) == 1)
            words.emplace_back(word);
        EXPECT_EQ(pclose(out), 0);
    }
    unlink(path);
    return words;
}

const uint64_t s_big_counts[] = {0,          1,
                                 7,          100,
                                 959,        1000,
                                 1024,       123456789,
                                 1ULL << 53, (1ULL << 53) + 1,
                                 1ULL << 63, 18446744073709551615ULL};

TEST(BloomFilter, OptimalHashCountDocumentedValues)
{
    EXPECT_EQ(NUV::bloom_filter_optimal_hash_count(1000, 100), 7u);
    EXPECT_EQ(NUV::bloom_filter_optimal_hash_count(1024, 100), 8u);
    EXPECT_EQ(NUV::bloom_filter_optimal_hash_count(100, 100), 1u);
    EXPECT_EQ(NUV::bloom_filter_optimal_hash_count(1, 100), 1u);
    EXPECT_EQ(NUV::bloom_filter_optimal_hash_count(0, 100), 0u);
}

TEST(BloomFilter, OptimalHashCountMatchesPythonOverAGrid)
{
    std::ostringstream script;
    script << "import math\nfor m in [";
    for (uint64_t m : s_big_counts)
        script << m << ",";
    script << "]:\n  for n in [1,3,100,1000,4294967296]:\n    print(int(math.ceil(float(m) / float(n) * "
              "0.693147181)))\n";
    std::vector<std::string> expected = python_words(script.str());
    ASSERT_EQ(expected.size(), std::size(s_big_counts) * 5);
    size_t i = 0;
    for (uint64_t m : s_big_counts)
        for (uint64_t n : {1ULL, 3ULL, 100ULL, 1000ULL, 4294967296ULL})
            EXPECT_EQ(std::to_string(NUV::bloom_filter_optimal_hash_count(m, n)), expected[i++])
                << m << " / " << n;
    // Results from 2^63 up are converted by value.
    EXPECT_GT(NUV::bloom_filter_optimal_hash_count(18446744073709551615ULL, 1), 1ULL << 63);
}

TEST(BloomFilter, StorageSizeAndHashCountDocumentedValues)
{
    using RESULT = std::tuple<size_t, int>;
    EXPECT_EQ(NUV::bloom_filter_optimal_storage_size_and_hash_count(100, 0.01), RESULT(959, 6));
    EXPECT_EQ(NUV::bloom_filter_optimal_storage_size_and_hash_count(1000, 0.001), RESULT(14378, 9));
    EXPECT_EQ(NUV::bloom_filter_optimal_storage_size_and_hash_count(100, 0.1), RESULT(480, 3));
    EXPECT_EQ(NUV::bloom_filter_optimal_storage_size_and_hash_count(0, 0.01), RESULT(0, 6));
    // Truncation, not rounding: a rate of one half gives no hash function at all.
    EXPECT_EQ(NUV::bloom_filter_optimal_storage_size_and_hash_count(1, 0.5), RESULT(2, 0));
    // Just below 1.0 is accepted.
    EXPECT_EQ(std::get<1>(NUV::bloom_filter_optimal_storage_size_and_hash_count(10, 0.999999)), 0);
}

TEST(BloomFilter, StorageSizeAndHashCountMatchPythonOverAGrid)
{
    // Every count with every rate, as long as n * c stays below 2^64; beyond 2^63 too.
    std::vector<std::pair<uint64_t, double>> cases;
    for (uint64_t n : s_big_counts)
        if (n <= (1ULL << 53) + 1)
            for (double p : {0.9, 0.5, 0.25, 0.1, 0.01, 0.001, 1e-6, 1e-12, 1e-300})
                cases.emplace_back(n, p);
    cases.emplace_back(1ULL << 63, 0.5);
    cases.emplace_back(1ULL << 63, 0.9);
    cases.emplace_back(12345678901234567890ULL, 0.5);

    std::ostringstream script;
    script.precision(17);
    script << "import math\nfor n, p in [";
    for (const auto& c : cases)
        script << "(" << c.first << "," << c.second << "),";
    script << "]:\n  c = math.log(p) / -0.480453\n  print(int(math.ceil(float(n) * c)), int(c * 0.693147))\n";
    std::vector<std::string> expected = python_words(script.str());
    ASSERT_EQ(expected.size(), 2 * cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        auto result = NUV::bloom_filter_optimal_storage_size_and_hash_count(cases[i].first, cases[i].second);
        EXPECT_EQ(std::to_string(std::get<0>(result)), expected[2 * i])
            << cases[i].first << " at " << cases[i].second;
        EXPECT_EQ(std::to_string(std::get<1>(result)), expected[2 * i + 1])
            << cases[i].first << " at " << cases[i].second;
    }
    EXPECT_GT(std::get<0>(NUV::bloom_filter_optimal_storage_size_and_hash_count(1ULL << 63, 0.5)),
              1ULL << 63);
}

TEST(BloomFilter, SizedFilterReachesItsTargetRate)
{
    // Independent of the formulas' constants: the configuration chosen for a target
    // rate has about that rate.
    for (double p : {0.1, 0.01, 0.001, 1e-4, 1e-6}) {
        auto [m, k] = NUV::bloom_filter_optimal_storage_size_and_hash_count(1000, p);
        double rate = NUV::bloom_filter_false_positive_rate(m, k, 1000);
        EXPECT_GT(rate, 0.8 * p) << p;
        EXPECT_LT(rate, 1.5 * p) << p;
        double classic = std::pow(1.0 - std::exp(-double(k) * 1000.0 / double(m)), k);
        EXPECT_NEAR(rate, classic, classic * 1e-2) << p;
    }
}

TEST(BloomFilter, FalsePositiveRateValues)
{
    EXPECT_NEAR(NUV::bloom_filter_false_positive_rate(959, 6, 100), 0.010143, 5e-7);
    EXPECT_EQ(NUV::bloom_filter_false_positive_rate(1, 1, 1), 1.0);
    EXPECT_EQ(NUV::bloom_filter_false_positive_rate(1000, 0, 100), 1.0); // pow(0, 0)

    const int cases[][3] = {{959, 6, 100}, {14378, 9, 1000}, {480, 3, 100}, {1 << 30, 7, 100000}, {2, 2, 3}};
    std::ostringstream script;
    script << "for m, k, n in [";
    for (const auto& c : cases)
        script << "(" << c[0] << "," << c[1] << "," << c[2] << "),";
    script << "]:\n  q = 1.0 - 1.0 / float(m)\n  print(repr((1.0 - q ** float(k * n)) ** float(k)))\n";
    std::vector<std::string> expected = python_words(script.str());
    ASSERT_EQ(expected.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_DOUBLE_EQ(NUV::bloom_filter_false_positive_rate(cases[i][0], cases[i][1], cases[i][2]),
                         std::strtod(expected[i].c_str(), nullptr))
            << i;
}

TEST(BloomFilter, GeneratorFirstValues)
{
    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR generator{0, 1000};
    EXPECT_EQ(generator(), 283u);
    EXPECT_EQ(generator.m_seed, 0x255992D382208B61ULL);
    EXPECT_EQ(generator(), 994u);
    EXPECT_EQ(generator(), 737u);
    EXPECT_EQ(generator(), 131u);

    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR one{12345, 1};
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(one(), 0u);

    // Assignment copies both fields: the copy continues the same sequence.
    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR copy{1, 1};
    copy = generator;
    EXPECT_EQ(copy.m_modulus, 1000u);
    EXPECT_EQ(copy(), generator());
}

TEST(BloomFilter, GeneratorMatchesPython)
{
    std::vector<std::string> expected =
        python_words("s = 0xFEDCBA9876543210\nfor m in [7, 1000, 4294967295, 4294967291]:\n"
                     "  for i in range(50):\n"
                     "    s = (s * 0x369DEA0F31A53F85 + 0x255992D382208B61) % 2**64\n"
                     "    print((s >> 32) % m)\n"
                     "print(s)\n");
    ASSERT_EQ(expected.size(), 201u);
    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR generator{0xFEDCBA9876543210ULL, 0};
    size_t i = 0;
    for (uint32_t m : {7u, 1000u, 4294967295u, 4294967291u}) {
        generator.m_modulus = m;
        for (int k = 0; k < 50; ++k)
            EXPECT_EQ(std::to_string(generator()), expected[i++]) << m << " call " << k;
    }
    EXPECT_EQ(std::to_string(generator.m_seed), expected[i]);
}

TEST(BloomFilterDeathTest, TargetRateOfOneOrMoreIsAnInternalError)
{
    const char* message = "\\[NUV\\] Internal error in nuv_bloom_filter, line 20: "
                          "Target false positive rate should be less than 1.0";
    for (double p :
         {1.0, 1.5, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_DEATH(NUV::bloom_filter_optimal_storage_size_and_hash_count(100, p), message) << p;
}

} // namespace
