// Parallel deflate and streams used on several threads at once: joined pieces against zlib
// and our reader, the same bytes for every thread count, the size against one stream, a
// worker without memory. Built with ThreadSanitizer as well (NUV_SANITIZE_THREAD).
#include <nuv/nuv_zstream.h>

#include "../src/zstream/nuv_zstream_parallel.h"
#include "test_support.h"

#include <csignal>
#include <cstring>
#include <iterator>
#include <thread>
#include <zlib.h>

namespace {

using namespace test_support;
using Bytes = std::string;
const auto* const KEY = reinterpret_cast<const unsigned char*>("a 32-byte key for AES-256 tests.");
const int BIN = std::ios_base::out | std::ios_base::binary;
const int PIECE = NUV_DEFLATE_PIECE_SIZE;
enum KIND { ZIP, ZIP_CRYPT, GZIP };

// zlib as the oracle: the data of a zlib stream (window_bits 15) or gzip member (31), its
// check value and size verified; "!" when it does not inflate to its end.
Bytes inflated(const Bytes& stream, int window_bits)
{
    z_stream zs{};
    Bytes out(8 << 20, '\0');
    inflateInit2(&zs, window_bits);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data())),
    zs.avail_in = uInt(stream.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]), zs.avail_out = uInt(out.size());
    const bool ended = inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.avail_in == 0;
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return ended ? out : "!";
}

// Writes `data` with `threads` deflate threads (the setting as it stands for -1) at `level`,
// flushing at each of `flushes`; the file.
Bytes packed(const std::string& path, int threads, KIND kind, const Bytes& data,
             std::vector<size_t> flushes = {}, int level = -1)
{
    if (threads >= 0)
        nuv_set_deflate_threads(threads);
    NUV_ZOFSTREAM out;
    out.open(path.c_str(), BIN, true, kind == ZIP_CRYPT ? KEY : nullptr, 32, level, kind == GZIP);
    if (threads >= 0)
        nuv_set_deflate_threads(0); // read at open: the open writer keeps its threads
    flushes.push_back(data.size());
    for (size_t from = 0, i = 0; i < flushes.size(); from = flushes[i++])
        out.write(data.data() + from, std::streamsize(flushes[i] - from)) << std::flush;
    out.close();
    EXPECT_EQ(NUV_ZSTREAM_OK, out.last_error());
    return read_file(path);
}

// What our reader delivers from `path`, and whether its end checked out.
std::pair<Bytes, bool> unpacked(const std::string& path)
{
    NUV_ZIFSTREAM in(path.c_str(), std::ios_base::in | std::ios_base::binary, KEY, 32);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return {data, in.verified_end() && in.last_error() == NUV_ZSTREAM_OK};
}

TEST(ZstreamThreads, PiecesJoinIntoOneStreamWhateverTheThreadCount)
{
    const struct {
        Bytes data;
        std::vector<size_t> flushes; // a dictionary may span several short pieces
    } cases[] = {{"", {}},
                 {"x", {}},
                 {make_data(PIECE, true), {}},
                 {make_data(3 * PIECE + 12345, true, 3), {10000, 20000, 700000}},
                 {make_data(1200000, false, 4), {40000}}};
    TEMP_DIR dir;
    for (KIND kind : {ZIP, ZIP_CRYPT, GZIP}) {
        for (const auto& c : cases) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", " + std::to_string(c.data.size()) + " bytes");
            const Bytes file = packed(dir.file("2"), 2, kind, c.data, c.flushes);
            for (int threads : {3, 8})
                EXPECT_TRUE(same_bytes(file, packed(dir.file("n"), threads, kind, c.data, c.flushes)))
                    << threads;
            EXPECT_TRUE(kind == ZIP_CRYPT ||
                        c.data == inflated(file.substr(kind == GZIP ? 0 : 8), kind == GZIP ? 31 : 15));
            EXPECT_EQ(std::make_pair(c.data, true), unpacked(dir.file("2")));
            const Bytes one_stream = packed(dir.file("1"), 1, kind, c.data, c.flushes);
            EXPECT_LE(file.size(), one_stream.size() + one_stream.size() / 100 + 16);
        }
    }
    for (int level = 0; level <= 9; ++level) { // zlib's header for each level, 0 as stored blocks
        const Bytes one = packed(dir.file("1"), 1, ZIP, "abc", {}, level);
        const Bytes two = packed(dir.file("2"), 2, ZIP, "abc", {}, level);
        EXPECT_EQ(one.substr(0, 10), two.substr(0, 10)) << level;
        EXPECT_EQ("abc", inflated(two.substr(8), 15)) << level;
    }
    // Stored blocks: a 32757-byte piece is 32767 bytes of deflate data (a stored block and the
    // sync marker, 5 bytes each), one more than the cipher's buffer takes after the header.
    const Bytes stored = make_data(32757, true) + "tail";
    packed(dir.file("s"), 2, ZIP_CRYPT, stored, {32757}, 0);
    EXPECT_EQ(std::make_pair(stored, true), unpacked(dir.file("s")));
    nuv_set_deflate_threads(2); // a level zlib refuses keeps the one-stream path and its error
    NUV_ZOFSTREAM bad(nullptr);
    bad.open(dir.file("bad").c_str(), BIN, true, nullptr, 16, -5, false);
    bad << "x" << std::flush;
    EXPECT_EQ(NUV_ZSTREAM_STREAM_ERROR, bad.last_error());
    nuv_set_deflate_threads(100);
    EXPECT_EQ(64, nuv_deflate_threads());
    nuv_set_deflate_threads(-1);
    EXPECT_EQ(0, nuv_deflate_threads());
}

TEST(ZstreamThreads, OneStreamPerThreadAtOnce)
{
    TEMP_DIR dir;
    std::vector<std::thread> threads;
    std::vector<int> good(6, 0);
    nuv_set_deflate_threads(2);
    for (int i = 0; i < 6; ++i) // a writer with deflate threads of its own, then a reader
        threads.emplace_back([&, i] {
            const Bytes data = make_data(PIECE + 1000 * i, i % 2 == 0, i);
            const std::string path = dir.file(std::to_string(i));
            const Bytes file = packed(path, -1, KIND(i % 3), data);
            good[i] = !file.empty() && unpacked(path) == std::make_pair(data, true);
        });
    for (auto& thread : threads)
        thread.join();
    nuv_set_deflate_threads(0);
    EXPECT_EQ(std::vector<int>(6, 1), good);
}

// Parallel deflate into sealed chunks: the seal sink takes the joined pieces (TSan runs this).
TEST(ZstreamThreads, ParallelDeflateIntoSealedChunks)
{
    TEMP_DIR dir;
    NUV_SEAL_OPTIONS seal;
    seal.key = reinterpret_cast<const unsigned char*>("0123456789abcdef0123456789ABCDEF");
    seal.level = 1;
    const Bytes data = make_data(3 * PIECE, false, 3);
    nuv_set_deflate_threads(2);
    NUV_ZOFSTREAM out;
    out.open(dir.file("sealed").c_str(), seal);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    nuv_set_deflate_threads(0);
    NUV_ZIFSTREAM in(dir.file("sealed").c_str(), std::ios_base::in | std::ios_base::binary, seal.key,
                     NUV_SEALED_KEY_LENGTH);
    EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(in), {}) == data);
    EXPECT_TRUE(in.verified_end());
}

// The thread that writes, for the abort handler below.
std::thread::id s_writer;

TEST(ZstreamThreadsDeathTest, WorkerWithoutMemoryEndsOnTheWritingThread)
{
    for (int workers : {2, 0}) // a worker's deflate state, or the writing thread's own
        EXPECT_DEATH(
            {
                s_writer = std::this_thread::get_id();
                std::signal(SIGABRT, [](int) { // says which thread aborts
                    if (std::this_thread::get_id() == s_writer)
                        std::fputs("on the writing thread\n", stderr);
                    std::_Exit(1);
                });
                nuv_zstream_detail::PARALLEL_DEFLATE deflater(
                    workers, 6, true, [](void*, unsigned, unsigned) -> void* { return nullptr; });
                std::memset(deflater.piece_begin(), 'a', 100);
                deflater.submit(100, true, [](const char*, size_t, bool) {});
                deflater.drain([](const char*, size_t, bool) {});
            },
            "Out of memory\n.*on the writing thread");
}

} // namespace
