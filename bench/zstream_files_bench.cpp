// Whole-file functions on a text-like file (NUV_BENCH_MB megabytes, default 256, in
// NUV_BENCH_DIR, default /tmp) beside the system's gzip on the same file:
// nuv_encrypt_and_compress_file (zlib default level, with and without a password, on one
// thread and with parallel deflate on every hardware thread) beside `gzip -6`, and
// nuv_decrypt_and_decompress_file beside `gzip -d`; `nuvz pack` (parallel deflate by default)
// beside `pigz -6` and `gzip -6`, and `nuvz unpack` of the gzip file beside `pigz -d`. The
// peers and nuvz run as child processes, so every figure is wall-clock time; the counter
// cpu_MB/s divides the bytes by the CPU time (user + system) that the work itself took, in
// this process or in the child, which is the fairer figure on a busy machine for one thread;
// "size" is the packed file's size in bytes.
#include <nuv/nuv_zstream.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const size_t s_size = size_t(std::getenv("NUV_BENCH_MB") ? std::atoi(std::getenv("NUV_BENCH_MB")) : 256)
                      << 20;

/// A scratch directory with the sample file, made once and removed at exit (never
/// destroyed, so that the exit handler can still use it).
const std::string& directory()
{
    static const std::string* const s_directory = [] {
        const char* base = std::getenv("NUV_BENCH_DIR");
        std::string pattern = std::string(base ? base : "/tmp") + "/nuv_files_bench_XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp"); // never fall back to a directory this run did not create
            std::exit(1);
        }
        auto* dir = new std::string(pattern);
        std::FILE* file = std::fopen((*dir + "/sample.txt").c_str(), "wb");
        if (!file) {
            std::perror("sample.txt");
            std::exit(1);
        }
        std::mt19937 random(2026);
        std::vector<std::string> words(4000);
        for (auto& word : words)
            for (size_t i = 0, n = 2 + random() % 9; i < n; ++i)
                word += char('a' + random() % 26);
        std::string line;
        for (size_t written = 0; written < s_size; written += line.size()) {
            line.clear();
            for (int i = 0; i < 10; ++i)
                line += words[random() % words.size()] + (i == 9 ? "\n" : " ");
            std::fwrite(line.data(), 1, line.size(), file);
        }
        std::fclose(file);
        std::atexit([] { std::system(("rm -rf '" + directory() + "'").c_str()); });
        return dir;
    }();
    return *s_directory;
}

std::string path(const char* name)
{
    return directory() + "/" + name;
}

/// CPU seconds (user + system) used so far by this process, or by its finished children.
double cpu_seconds(int who)
{
    rusage usage;
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Runs `job` once per iteration; `output` names the file whose size the counter "size" shows.
void run(benchmark::State& state, const std::function<bool()>& job, int who = RUSAGE_SELF,
         const char* output = nullptr)
{
    double cpu = 0;
    for (auto _ : state) {
        const double before = cpu_seconds(who);
        if (!job())
            state.SkipWithError("the job failed");
        cpu += cpu_seconds(who) - before;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s_size));
    state.counters["cpu_MB/s"] = double(state.iterations()) * double(s_size) / 1e6 / cpu;
    struct stat info;
    if (output && stat(path(output).c_str(), &info) == 0)
        state.counters["size"] = double(info.st_size);
}

/// Runs `command` in a shell; `output` as for run().
void shell(benchmark::State& state, const std::string& command, const char* output = nullptr)
{
    run(
        state, [&] { return std::system(command.c_str()) == 0; }, RUSAGE_CHILDREN, output);
}

void BM_NuvCompressFile(benchmark::State& state)
{
    run(
        state,
        [] {
            return nuv_encrypt_and_compress_file(path("sample.txt").c_str(), path("c.nuv").c_str(),
                                                 static_cast<const char*>(nullptr), true, true);
        },
        RUSAGE_SELF, "c.nuv");
}

// The same with deflate threads: wall clock is the figure (the CPU time is the workers').
void BM_NuvCompressFileThreads(benchmark::State& state)
{
    nuv_set_deflate_threads(static_cast<int>(std::thread::hardware_concurrency()));
    run(
        state,
        [] {
            return nuv_encrypt_and_compress_file(path("sample.txt").c_str(), path("t.nuv").c_str(),
                                                 static_cast<const char*>(nullptr), true, true);
        },
        RUSAGE_SELF, "t.nuv");
    nuv_set_deflate_threads(0);
}

void BM_NuvzPack(benchmark::State& state)
{
    shell(state, std::string(NUV_NUVZ) + " pack '" + path("sample.txt") + "' '" + path("nuvz.nuv") + "'",
          "nuvz.nuv");
}

void BM_NuvzPackGzip(benchmark::State& state)
{
    shell(state,
          std::string(NUV_NUVZ) + " pack --gzip '" + path("sample.txt") + "' '" + path("nuvz.gz") + "'",
          "nuvz.gz");
}

void BM_Pigz6(benchmark::State& state)
{
    shell(state, "pigz -6 -c '" + path("sample.txt") + "' >'" + path("pigz.gz") + "'", "pigz.gz");
}

void BM_NuvEncryptAndCompressFile(benchmark::State& state)
{
    run(state, [] {
        return nuv_encrypt_and_compress_file(path("sample.txt").c_str(), path("ce.nuv").c_str(), "password",
                                             true, true);
    });
}

void BM_Gzip6(benchmark::State& state)
{
    shell(state, "gzip -6 -c '" + path("sample.txt") + "' >'" + path("sample.gz") + "'", "sample.gz");
}

void BM_NuvDecompressFile(benchmark::State& state)
{
    run(state, [] {
        return nuv_decrypt_and_decompress_file(path("c.nuv").c_str(), path("c.out").c_str(), nullptr, true);
    });
}

void BM_NuvDecryptAndDecompressFile(benchmark::State& state)
{
    run(state, [] {
        return nuv_decrypt_and_decompress_file(path("ce.nuv").c_str(), path("ce.out").c_str(), "password",
                                               true);
    });
}

void BM_GzipDecompress(benchmark::State& state)
{
    shell(state, "gzip -d -c '" + path("sample.gz") + "' >'" + path("gz.out") + "'");
}

#ifdef NUV_NUVZ
void BM_NuvzUnpack(benchmark::State& state)
{
    shell(state, std::string(NUV_NUVZ) + " unpack '" + path("sample.gz") + "' '" + path("nuvz.out") + "'");
}

void BM_PigzDecompress(benchmark::State& state)
{
    shell(state, "pigz -d -c '" + path("sample.gz") + "' >'" + path("pigz.out") + "'");
}
#endif

// Writers first: the readers use their output. Bytes processed are plain bytes in every row.
BENCHMARK(BM_NuvCompressFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvCompressFileThreads)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvzPack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvzPackGzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Pigz6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvEncryptAndCompressFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Gzip6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvDecompressFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_NuvDecryptAndDecompressFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_GzipDecompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
#ifdef NUV_NUVZ
BENCHMARK(BM_NuvzUnpack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PigzDecompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
#endif

} // namespace
