// Profiles a recursive merge sort: CPU time, wall-clock time and memory of the whole run and
// of the top levels of the recursion, as debug lines on stderr and as rows of a CSV file:
//
//   NUV_CONFIG=nuv_profiler_to_file NUV_OUTPUT_DIR=DIR profile [COUNT]
//
// writes DIR/nuv_profiler_output.csv (the directory must exist; without NUV_OUTPUT_DIR the
// current directory). The file is written as the process exits.
#include <nuv/nuv_profiler.h>

#include <host/host_services.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

static const unsigned MEASURED = NUV_PROFILER::CPU_TIME | NUV_PROFILER::WC_TIME | NUV_PROFILER::MEM;
static const char* const LEVEL_NAMES[] = {"merge_sort level 0", "merge_sort level 1", "merge_sort level 2"};
static const int PROFILED_LEVELS = 3;

static void merge_sort(std::vector<int>& values, size_t begin, size_t end, int level)
{
    // Every level joins the chain of recursive profilers; only the top ones report. A child's
    // times are added to its parent's, which reports them as its child time.
    const bool enabled = level < PROFILED_LEVELS;
    NUV_RECURSIVE_PROFILER profiler("EXAMPLE", LEVEL_NAMES[enabled ? level : 0], MEASURED, enabled);
    if (end - begin < 2)
        return;
    const size_t middle = begin + (end - begin) / 2;
    merge_sort(values, begin, middle, level + 1);
    merge_sort(values, middle, end, level + 1);
    std::inplace_merge(values.begin() + begin, values.begin() + middle, values.begin() + end);
}

int main(int argc, char** argv)
{
    const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    if (config_is_on("nuv_profiler_to_file", false))
        std::printf("rows go to %snuv_profiler_output.csv\n", get_project_output_directory());
    else
        std::printf("set NUV_CONFIG=nuv_profiler_to_file for the CSV file\n");

    std::vector<int> values(count);
    std::mt19937 random(1);
    for (int& value : values)
        value = static_cast<int>(random());
    {
        // A plain profiler measures one block: this one the whole sort.
        NUV_PROFILER whole("EXAMPLE", "sort everything", MEASURED, true);
        merge_sort(values, 0, values.size(), 0);
    }
    if (!std::is_sorted(values.begin(), values.end())) {
        std::fprintf(stderr, "not sorted\n");
        return 1;
    }
    std::printf("sorted %zu numbers\n", values.size());
    return 0;
}
