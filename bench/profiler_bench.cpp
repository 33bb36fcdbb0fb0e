// Cost of a profiler scope: disabled (beside a pair of clock readings, the cheapest
// timing a caller could write), and enabled with all four kinds reporting to a null
// debug sink (beside the host readings such a report takes, without composing it).
#include <nuv/nuv_profiler.h>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

const unsigned int s_all =
    NUV_PROFILER::CPU_TIME | NUV_PROFILER::WC_TIME | NUV_PROFILER::MEM | NUV_PROFILER::VMEM;

// Log lines go nowhere and the CSV file stays off, so only the profiler is measured.
void quiet_host()
{
    host_test::set_config("nuv_profiler_to_file", false);
    host_test::set_debug_sink([](const char*, const char*) {});
}

void BM_DisabledProfilerScope(benchmark::State& state)
{
    quiet_host();
    for (auto _ : state) {
        NUV_PROFILER profiler("BENCH", "scope", s_all, false);
        benchmark::DoNotOptimize(&profiler);
    }
}
BENCHMARK(BM_DisabledProfilerScope);

void BM_DisabledRecursiveProfilerScope(benchmark::State& state)
{
    quiet_host();
    for (auto _ : state) {
        NUV_RECURSIVE_PROFILER profiler("BENCH", "scope", s_all, false);
        benchmark::DoNotOptimize(&profiler);
    }
}
BENCHMARK(BM_DisabledRecursiveProfilerScope);

void BM_PeerSteadyClockPair(benchmark::State& state)
{
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(std::chrono::steady_clock::now() - start);
    }
}
BENCHMARK(BM_PeerSteadyClockPair);

void BM_EnabledProfilerAllKinds(benchmark::State& state)
{
    quiet_host();
    for (auto _ : state) {
        NUV_PROFILER profiler("BENCH", "scope", s_all, true);
        benchmark::DoNotOptimize(&profiler);
    }
}
BENCHMARK(BM_EnabledProfilerAllKinds);

void BM_EnabledRecursiveProfilerAllKinds(benchmark::State& state)
{
    quiet_host();
    for (auto _ : state) {
        NUV_RECURSIVE_PROFILER profiler("BENCH", "scope", s_all, true);
        benchmark::DoNotOptimize(&profiler);
    }
}
BENCHMARK(BM_EnabledRecursiveProfilerAllKinds);

// The host readings of one enabled report with all four kinds: both memory figures
// twice, the stopwatch started, stopped and read.
void BM_PeerHostReadingsOnly(benchmark::State& state)
{
    for (auto _ : state) {
        uint64_t vmem = memory_process_virtual_used();
        uint64_t mem = memory_global_current().memory_in_use;
        STOPWATCH stopwatch(false, 7);
        stopwatch.start();
        vmem = memory_process_virtual_used() - vmem;
        mem = memory_global_current().memory_in_use - mem;
        stopwatch.stop();
        benchmark::DoNotOptimize(stopwatch.lap_sec(6) + stopwatch.lap_sec(1) + double(vmem) + double(mem));
    }
}
BENCHMARK(BM_PeerHostReadingsOnly);

} // namespace
