// Hash table sizes: the prime list read back through the functions, checked for
// primality, order and layout, and every function compared with a linear walk around
// every listed value.
#include <nuv/nuv_hash_helper.h>
#include <nuv/nuv_hash_lite.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const unsigned int s_largest = 4294967291u;

bool is_prime(uint64_t n)
{
    if (n < 2)
        return false;
    for (uint64_t d = 2; d * d <= n; d += (d == 2 ? 1 : 2))
        if (n % d == 0)
            return false;
    return true;
}

// The list as nuv_hash_lite_get_next_prime walks it: 13, then the successor of each value.
std::vector<unsigned int> listed_primes()
{
    std::vector<unsigned int> list{nuv_hash_lite_get_next_prime(0)};
    while (list.back() != s_largest)
        list.push_back(nuv_hash_lite_get_next_prime(list.back()));
    return list;
}

// Reference walks: the first value (of every value, or of the even indices) that passes.
unsigned int walk(const std::vector<unsigned int>& list, size_t step, unsigned int n, bool or_equal)
{
    for (size_t i = 0; i < list.size(); i += step)
        if (list[i] > n || (or_equal && list[i] == n))
            return list[i];
    ADD_FAILURE() << "walk ran past the list for " << n;
    return 0;
}

TEST(HashSizes, ListHas113IncreasingPrimesFourPerPowerOfTwo)
{
    std::vector<unsigned int> list = listed_primes();
    ASSERT_EQ(list.size(), 113u);
    EXPECT_EQ(list.front(), 13u);
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_TRUE(is_prime(list[i])) << list[i];
        if (i > 0) {
            // About a quarter more per step (a little less or more among the small primes).
            double growth = double(list[i]) / double(list[i - 1]);
            EXPECT_GT(growth, 1.05) << list[i];
            EXPECT_LT(growth, 1.36) << list[i];
        }
    }
    // Group k, column j holds the prime chosen near (1 + j / 4) * 2^k.
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        int k = 4 + int(i / 4);
        double target = std::ldexp(1.0 + double(i % 4) / 4.0, k);
        double tolerance = k < 8 ? 0.2 : 0.02;
        EXPECT_NEAR(list[i], target, target * tolerance) << "k " << k << " column " << i % 4;
    }
    // The last value is the largest prime below 2^32.
    EXPECT_EQ(list.back(), s_largest);
    for (uint64_t n = uint64_t(s_largest) + 1; n < (uint64_t(1) << 32); ++n)
        EXPECT_FALSE(is_prime(n)) << n;
    // Fixed data, not a rule: some values are not the nearest or the largest prime below.
    EXPECT_EQ(list[19], 449u);
    EXPECT_EQ(list[23], 907u);
    EXPECT_TRUE(is_prime(17) && is_prime(887) && is_prime(443));
}

TEST(HashSizes, EveryFunctionMatchesTheWalkAroundEveryValue)
{
    std::vector<unsigned int> list = listed_primes();
    std::vector<unsigned int> probes{0, 1, 12};
    for (size_t i = 0; i < list.size(); ++i) {
        unsigned int v = list[i];
        for (unsigned int n : {v - 1, v, v + 1, i > 0 ? list[i - 1] + (v - list[i - 1]) / 2 : v})
            if (n <= s_largest)
                probes.push_back(n);
    }
    for (unsigned int n : probes) {
        if (n < s_largest) {
            unsigned int next = walk(list, 1, n, false);
            EXPECT_EQ(nuv_hash_lite_get_next_prime(n), next) << n;
            EXPECT_EQ(nuv_hash_lite_25_percent_increase_size(n), next) << n;
            EXPECT_EQ(nuv_hash_lite_50_percent_increase_size(n), walk(list, 2, n, false)) << n;
        }
        EXPECT_EQ(nuv_hash_50_percent_increase_size(n), walk(list, 2, n, true)) << n;
    }
}

TEST(HashSizes, EveryOtherSublistHas57Values)
{
    std::vector<unsigned int> sublist{nuv_hash_50_percent_increase_size(0)};
    while (sublist.back() != s_largest)
        sublist.push_back(nuv_hash_lite_50_percent_increase_size(sublist.back()));
    ASSERT_EQ(sublist.size(), 57u);
    std::vector<unsigned int> list = listed_primes();
    for (size_t i = 0; i < sublist.size(); ++i) {
        EXPECT_EQ(sublist[i], list[2 * i]);
        EXPECT_EQ(nuv_hash_50_percent_increase_size(sublist[i]), sublist[i]); // listed values stay
    }
    EXPECT_EQ(sublist[55], 3221225461u);
}

TEST(HashSizes, DocumentedEdgeValues)
{
    for (unsigned int n = 0; n <= 12; ++n) {
        EXPECT_EQ(nuv_hash_lite_get_next_prime(n), 13u);
        EXPECT_EQ(nuv_hash_lite_25_percent_increase_size(n), 13u);
        EXPECT_EQ(nuv_hash_lite_50_percent_increase_size(n), 13u);
        EXPECT_EQ(nuv_hash_50_percent_increase_size(n), 13u);
    }
    struct {
        unsigned int n, next, lite_50, helper_50;
    } const cases[] = {
        {13, 17, 23, 13},
        {14, 17, 23, 23},
        {448, 449, 509, 509},
        {449, 509, 509, 509},
        {4294967290u, s_largest, s_largest, s_largest},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nuv_hash_lite_get_next_prime(c.n), c.next) << c.n;
        EXPECT_EQ(nuv_hash_lite_50_percent_increase_size(c.n), c.lite_50) << c.n;
        EXPECT_EQ(nuv_hash_50_percent_increase_size(c.n), c.helper_50) << c.n;
    }
    EXPECT_EQ(nuv_hash_50_percent_increase_size(s_largest), s_largest);
}

TEST(HashSizesDeathTest, RunningPastTheLastValueIsAnInternalError)
{
    const char* lite_232 = "\\[NUV\\] Internal error in nuv_hash_lite, line 232: rval != 0";
    const char* lite_266 = "\\[NUV\\] Internal error in nuv_hash_lite, line 266: rval != 0";
    const char* helper_208 = "\\[NUV\\] Internal error in nuv_hash_helper, line 208: rval != 0";
    for (unsigned int n : {s_largest, s_largest + 1, 0xFFFFFFFFu}) {
        EXPECT_DEATH(nuv_hash_lite_get_next_prime(n), lite_232);
        EXPECT_DEATH(nuv_hash_lite_25_percent_increase_size(n), lite_232);
        EXPECT_DEATH(nuv_hash_lite_50_percent_increase_size(n), lite_266);
    }
    EXPECT_DEATH(nuv_hash_50_percent_increase_size(s_largest + 1), helper_208);
    EXPECT_DEATH(nuv_hash_50_percent_increase_size(0xFFFFFFFFu), helper_208);
}

} // namespace
