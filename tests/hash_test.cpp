// Hash table sizes: the prime list read back, every function against a walk over it around every
// listed value, and running past the last value.
#include <nuv/nuv_hash_helper.h>
#include <nuv/nuv_hash_lite.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

const unsigned int s_largest = 4294967291u; // the largest prime below 2^32

TEST(HashSizes, PrimeListAndEveryFunctionWalkingIt)
{
    std::vector<unsigned int> list{nuv_hash_lite_get_next_prime(0)};
    while (list.back() != s_largest && list.size() < 200)
        list.push_back(nuv_hash_lite_get_next_prime(list.back()));
    ASSERT_EQ(list.size(), 113u);
    for (unsigned int prime : list)
        for (uint64_t d = 2; d * d <= prime; ++d)
            ASSERT_NE(prime % d, 0u) << prime;
    auto walk = [&](size_t step, uint64_t least) { // the first value (all, or even indices) >= least
        size_t i = 0;
        while (list[i] < least)
            i += step;
        return list[i];
    };
    for (size_t i = 0; i < list.size(); ++i)
        for (unsigned int n : {list[i] - 1, list[i], list[i] + 1, list[i - (i > 0)] / 2 + list[i] / 2}) {
            if (n >= s_largest) // the last value: below
                continue;
            EXPECT_EQ(nuv_hash_lite_get_next_prime(n), walk(1, n + 1ULL)) << n;
            EXPECT_EQ(nuv_hash_lite_25_percent_increase_size(n), walk(1, n + 1ULL)) << n;
            EXPECT_EQ(nuv_hash_lite_50_percent_increase_size(n), walk(2, n + 1ULL)) << n;
            EXPECT_EQ(nuv_hash_50_percent_increase_size(n), walk(2, n)) << n;
        }
    EXPECT_EQ(nuv_hash_50_percent_increase_size(s_largest), s_largest); // the lite functions give up
}

TEST(HashSizesDeathTest, RunningPastTheLastValueIsAnInternalError)
{
    const std::string error = "\\[NUV\\] Internal error in nuv_hash_";
    for (unsigned int n : {s_largest, s_largest + 1, 0xFFFFFFFFu}) {
        EXPECT_DEATH(nuv_hash_lite_get_next_prime(n), error + "lite, line 232: rval != 0");
        EXPECT_DEATH(nuv_hash_lite_25_percent_increase_size(n), error + "lite, line 232: rval != 0");
        EXPECT_DEATH(nuv_hash_lite_50_percent_increase_size(n), error + "lite, line 266: rval != 0");
        EXPECT_DEATH(nuv_hash_50_percent_increase_size(n + (n == s_largest)),
                     error + "helper, line 208: rval != 0");
    }
}

} // namespace
