// Prime bucket sizes by binary search beside a linear walk of the same list, and the
// LCG index generator beside std::mt19937_64 reduced to the same range.
#include <nuv/nuv_bloom_filter.h>
#include <nuv/nuv_hash_helper.h>
#include <nuv/nuv_hash_lite.h>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

// Sizes spread over the whole 32-bit range (below the last listed prime).
std::vector<unsigned int> probe_sizes()
{
    std::mt19937 random(42);
    std::vector<unsigned int> sizes(1024);
    for (auto& n : sizes)
        n = (random() >> (random() % 28)) % 4294967291u;
    return sizes;
}

// The list as the functions give it, for the reference walk.
std::vector<unsigned int> listed_primes()
{
    std::vector<unsigned int> list{nuv_hash_lite_get_next_prime(0)};
    while (list.back() != 4294967291u)
        list.push_back(nuv_hash_lite_get_next_prime(list.back()));
    return list;
}

template <unsigned int (*FUNCTION)(unsigned int)> void BM_PrimeSize(benchmark::State& state)
{
    std::vector<unsigned int> sizes = probe_sizes();
    for (auto _ : state)
        for (unsigned int n : sizes)
            benchmark::DoNotOptimize(FUNCTION(n));
    state.SetItemsProcessed(state.iterations() * int64_t(sizes.size()));
}
BENCHMARK_TEMPLATE(BM_PrimeSize, nuv_hash_lite_get_next_prime);
BENCHMARK_TEMPLATE(BM_PrimeSize, nuv_hash_lite_50_percent_increase_size);
BENCHMARK_TEMPLATE(BM_PrimeSize, nuv_hash_50_percent_increase_size);

void BM_PeerLinearWalk(benchmark::State& state)
{
    std::vector<unsigned int> sizes = probe_sizes();
    std::vector<unsigned int> list = listed_primes();
    for (auto _ : state) {
        for (unsigned int n : sizes) {
            size_t i = 0;
            while (list[i] <= n)
                ++i;
            benchmark::DoNotOptimize(list[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(sizes.size()));
}
BENCHMARK(BM_PeerLinearWalk);

void BM_LcgGenerator(benchmark::State& state)
{
    NUV::DETAIL::LCG_MOD64_HASH_GENERATOR generator{12345, 1000003};
    for (auto _ : state)
        benchmark::DoNotOptimize(generator());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LcgGenerator);

void BM_PeerMt19937_64(benchmark::State& state)
{
    std::mt19937_64 random(12345);
    for (auto _ : state)
        benchmark::DoNotOptimize(static_cast<uint32_t>(random() >> 32) % 1000003u);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerMt19937_64);

} // namespace
