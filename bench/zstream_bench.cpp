// Compressed and encrypted file streams beside hand-written zlib loops with the same level
// and buffer sizes (512 KiB plain side, 32 KiB compressed side), and OpenSSL's AES-ECB, in
// one run. Data: NUV_BENCH_MB megabytes (default 64) of text-like or random bytes.
//
// Ratios to read off: Write/<kind> against RawDeflateLoop, Read/<kind> against
// RawInflateLoop (same data), zip_crypt and sealed against compressed, crypt against OpenSSL
// ECB, WriteThreads/<kind> (parallel deflate, one thread per hardware thread; wall clock)
// against Write/<kind>. Sealed streams use a raw key, whose HKDF takes microseconds, so their
// figures are the stream's; SealedOpen times the key derivation apart.
// Memory/<stream> reports the bytes one open stream holds (counter "bytes") beside the
// 576 KiB of buffers (and a sealed stream's chunk) plus the zlib state measured alone, or
// ISA-L's inflate state for a reader decoding with it ("expected").
// Read/<kind>_zlib_engine reads with zlib's inflate.
#include <nuv/nuv_zstream.h>

#include <host/host_services.h>

#include <benchmark/benchmark.h>
#ifdef NUV_WITH_ISAL
#include <isa-l/igzip_lib.h>
#endif
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

const unsigned char KEY[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const unsigned char SEAL_KEY[NUV_SEALED_KEY_LENGTH] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                                       12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                                       23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const char PASSWORD[] = "correct horse battery staple";
const int BIN_OUT = std::ios_base::out | std::ios_base::binary;
const int BIN_IN = std::ios_base::in | std::ios_base::binary;

enum Kind { PLAIN, COMPRESSED, ZIP_CRYPT, CRYPT, GZIP, SEALED };
const char* const KIND_NAMES[] = {"plain", "compressed", "zip_crypt", "crypt", "gzip", "sealed"};
// A sealed stream's chunk buffer: one chunk with its tag (the reader's one byte more).
const uint64_t SEALED_CHUNK_BYTES = NUV_SEALED_CHUNK_SIZE + 16;

size_t data_size()
{
    const char* mb = std::getenv("NUV_BENCH_MB");
    return static_cast<size_t>(mb ? std::atoi(mb) : 64) << 20;
}

// Text-like data: words from a small vocabulary with skewed frequencies, in lines.
const std::string& text_data()
{
    static const std::string data = [] {
        static const char* const words[] = {
            "the", "stream", "of", "buffer", "deflate", "and",  "cipher", "block", "a",     "file", "header",
            "is",  "to",     "in", "output", "input",   "zlib", "key",    "data",  "write", "read"};
        std::mt19937 rng(42);
        std::string s;
        s.reserve(data_size() + 64);
        while (s.size() < data_size()) {
            const unsigned r = rng();
            s += words[(r >> 8) % 3 == 0 ? r % 21 : (r >> 16) % 7]; // the first seven are common
            s += (r >> 28) == 0 ? '\n' : ' ';
        }
        s.resize(data_size());
        return s;
    }();
    return data;
}

const std::string& random_data()
{
    static const std::string data = [] {
        std::mt19937_64 rng(7);
        std::string s(data_size(), '\0');
        for (size_t i = 0; i + 8 <= s.size(); i += 8) {
            const uint64_t v = rng();
            std::memcpy(&s[i], &v, 8);
        }
        return s;
    }();
    return data;
}

const std::string& data_for(int text)
{
    return text ? text_data() : random_data();
}

// Files go to NUV_BENCH_DIR (default /tmp); a tmpfs such as /dev/shm keeps the disk's
// writeback out of the figures.
std::string temp_name(const std::string& tag)
{
    const char* dir = std::getenv("NUV_BENCH_DIR");
    return std::string(dir ? dir : "/tmp") + "/nuv_zstream_bench_" + std::to_string(getpid()) + "_" + tag;
}

void open_writer(NUV_ZOFSTREAM& out, const std::string& name, Kind kind)
{
    if (kind == SEALED) {
        NUV_SEAL_OPTIONS seal;
        seal.key = SEAL_KEY;
        out.open(name.c_str(), seal);
        return;
    }
    const bool compress = kind == COMPRESSED || kind == ZIP_CRYPT || kind == GZIP;
    const bool crypt = kind == ZIP_CRYPT || kind == CRYPT;
    out.open(name.c_str(), BIN_OUT, compress, crypt ? KEY : nullptr, 16, -1, kind == GZIP);
}

void open_reader(NUV_ZIFSTREAM& in, const std::string& name, Kind kind)
{
    if (kind == SEALED)
        in.open(name.c_str(), BIN_IN, SEAL_KEY, NUV_SEALED_KEY_LENGTH);
    else
        in.open(name.c_str(), BIN_IN, KEY, 16);
}

// Writes the data in 32 KiB pieces, as the whole-file functions do.
void write_stream(const std::string& name, Kind kind, const std::string& data)
{
    NUV_ZOFSTREAM out;
    open_writer(out, name, kind);
    for (size_t pos = 0; pos < data.size(); pos += 32768)
        out.write(data.data() + pos,
                  static_cast<std::streamsize>(std::min<size_t>(32768, data.size() - pos)));
    out.close();
}

void BM_Write(benchmark::State& state, Kind kind)
{
    const std::string& data = data_for(static_cast<int>(state.range(0)));
    const std::string name = temp_name(std::string("w_") + KIND_NAMES[kind]);
    for (auto _ : state)
        write_stream(name, kind, data);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.SetLabel(state.range(0) ? "text" : "random");
    std::remove(name.c_str());
}

void BM_WriteThreads(benchmark::State& state, Kind kind)
{
    nuv_set_deflate_threads(static_cast<int>(std::thread::hardware_concurrency()));
    BM_Write(state, kind);
    nuv_set_deflate_threads(0);
}

// Peer: deflate straight from memory in 512 KiB steps into a 32 KiB buffer, to a file.
void BM_RawDeflateLoop(benchmark::State& state)
{
    const std::string& data = data_for(static_cast<int>(state.range(0)));
    const std::string name = temp_name("raw_deflate");
    std::vector<unsigned char> out_buffer(NUV_ZSTREAM_DEFAULT_BUFSZ);
    for (auto _ : state) {
        std::ofstream file(name, std::ios::binary | std::ios::trunc);
        z_stream zs{};
        deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
        size_t pos = 0;
        int flush = Z_NO_FLUSH;
        do {
            const size_t n = std::min<size_t>(NUV_ZSTREAM_PLAIN_BUFSZ, data.size() - pos);
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + pos));
            zs.avail_in = static_cast<uInt>(n);
            pos += n;
            flush = pos == data.size() ? Z_FINISH : Z_NO_FLUSH;
            do {
                zs.next_out = out_buffer.data();
                zs.avail_out = static_cast<uInt>(out_buffer.size());
                deflate(&zs, flush);
                file.write(reinterpret_cast<const char*>(out_buffer.data()),
                           static_cast<std::streamsize>(out_buffer.size() - zs.avail_out));
            } while (zs.avail_out == 0);
        } while (flush != Z_FINISH);
        deflateEnd(&zs);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.SetLabel(state.range(0) ? "text" : "random");
    std::remove(name.c_str());
}

void BM_Read(benchmark::State& state, Kind kind, NUV_INFLATE_ENGINE engine = NUV_INFLATE_FASTEST)
{
    const std::string& data = data_for(static_cast<int>(state.range(0)));
    const std::string name = temp_name(std::string("r_") + KIND_NAMES[kind]);
    write_stream(name, kind, data);
    std::vector<char> buffer(NUV_ZSTREAM_PLAIN_BUFSZ);
    for (auto _ : state) {
        NUV_ZIFSTREAM in;
        in.set_inflate_engine(engine);
        open_reader(in, name, kind);
        size_t total = 0;
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
            total += static_cast<size_t>(in.gcount());
        if (total != data.size())
            state.SkipWithError("read back a different size");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.SetLabel(state.range(0) ? "text" : "random");
    std::remove(name.c_str());
}

// Peer: read the compressed file in 32 KiB pieces and inflate into a 512 KiB buffer.
void BM_RawInflateLoop(benchmark::State& state)
{
    const std::string& data = data_for(static_cast<int>(state.range(0)));
    const std::string name = temp_name("raw_inflate");
    write_stream(name, COMPRESSED, data);
    std::vector<char> in_buffer(NUV_ZSTREAM_DEFAULT_BUFSZ);
    std::vector<unsigned char> out_buffer(NUV_ZSTREAM_PLAIN_BUFSZ);
    for (auto _ : state) {
        std::ifstream file(name, std::ios::binary);
        file.ignore(8);
        z_stream zs{};
        inflateInit2(&zs, 15);
        int status = Z_OK;
        size_t total = 0;
        while (status == Z_OK) {
            if (zs.avail_in == 0) {
                file.read(in_buffer.data(), static_cast<std::streamsize>(in_buffer.size()));
                zs.next_in = reinterpret_cast<Bytef*>(in_buffer.data());
                zs.avail_in = static_cast<uInt>(file.gcount());
                if (zs.avail_in == 0)
                    break;
            }
            zs.next_out = out_buffer.data();
            zs.avail_out = static_cast<uInt>(out_buffer.size());
            status = inflate(&zs, Z_SYNC_FLUSH);
            total += out_buffer.size() - zs.avail_out;
        }
        inflateEnd(&zs);
        if (total != data.size())
            state.SkipWithError("inflated a different size");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.SetLabel(state.range(0) ? "text" : "random");
    std::remove(name.c_str());
}

// Peer for the cipher: OpenSSL AES-128-ECB with PKCS #7 over the data in 32 KiB pieces.
void BM_OpenSslEcb(benchmark::State& state)
{
    const std::string& data = random_data();
    std::vector<unsigned char> out(NUV_ZSTREAM_DEFAULT_BUFSZ + 16);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, KEY, nullptr);
        int n = 0;
        for (size_t pos = 0; pos < data.size(); pos += NUV_ZSTREAM_DEFAULT_BUFSZ) {
            EVP_EncryptUpdate(
                ctx, out.data(), &n, reinterpret_cast<const unsigned char*>(data.data() + pos),
                static_cast<int>(std::min<size_t>(NUV_ZSTREAM_DEFAULT_BUFSZ, data.size() - pos)));
            benchmark::DoNotOptimize(out.data());
        }
        EVP_EncryptFinal_ex(ctx, out.data(), &n);
        EVP_CIPHER_CTX_free(ctx);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

uint64_t in_use()
{
    return memory_global_current().memory_in_use;
}

// zlib's own state for the writer's parameters, measured alone.
uint64_t deflate_state_bytes()
{
    const uint64_t before = in_use();
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    const uint64_t bytes = in_use() - before;
    deflateEnd(&zs);
    return bytes;
}

uint64_t inflate_state_bytes()
{
    // The inflate window is allocated by the first call that stops inside the data.
    const std::string& text = text_data();
    std::vector<unsigned char> packed(compressBound(65536));
    uLongf length = packed.size();
    compress(packed.data(), &length, reinterpret_cast<const Bytef*>(text.data()), 65536);
    const uint64_t before = in_use();
    z_stream zs{};
    inflateInit2(&zs, 15);
    unsigned char out[16];
    zs.next_in = packed.data();
    zs.avail_in = static_cast<uInt>(length);
    zs.next_out = out;
    zs.avail_out = sizeof(out);
    inflate(&zs, Z_SYNC_FLUSH);
    const uint64_t bytes = in_use() - before;
    inflateEnd(&zs);
    return bytes;
}

// ISA-L's inflate state, one block the reader allocates once and reuses.
uint64_t isal_state_bytes()
{
#ifdef NUV_WITH_ISAL
    return sizeof(inflate_state);
#else
    return 0;
#endif
}

// Bytes one open writing stream holds after 1 MB was written, beside the expected figure.
void BM_MemoryWriter(benchmark::State& state, Kind kind)
{
    const std::string name = temp_name("mem");
    const std::string chunk = text_data().substr(0, 1 << 20);
    uint64_t held = 0;
    for (auto _ : state) {
        const uint64_t before = in_use();
        auto* out = new NUV_ZOFSTREAM;
        open_writer(*out, name, kind);
        out->write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        held = in_use() - before;
        delete out;
    }
    const uint64_t buffers = NUV_ZSTREAM_PLAIN_BUFSZ +
                             (kind == CRYPT || kind == PLAIN ? 0 : NUV_ZSTREAM_DEFAULT_BUFSZ) +
                             (kind == ZIP_CRYPT || kind == CRYPT ? NUV_ZSTREAM_DEFAULT_BUFSZ : 0) +
                             (kind == SEALED ? SEALED_CHUNK_BYTES : 0);
    const uint64_t zlib = kind == CRYPT ? 0 : deflate_state_bytes();
    state.counters["bytes"] = static_cast<double>(held);
    state.counters["expected"] = static_cast<double>(buffers + zlib);
    state.counters["ratio"] = static_cast<double>(held) / static_cast<double>(buffers + zlib);
    std::remove(name.c_str());
}

void BM_MemoryReader(benchmark::State& state, Kind kind, NUV_INFLATE_ENGINE engine)
{
    const std::string name = temp_name("memr");
    write_stream(name, kind, text_data().substr(0, 1 << 20));
    uint64_t held = 0;
    bool isal = false;
    for (auto _ : state) {
        const uint64_t before = in_use();
        auto* in = new NUV_ZIFSTREAM;
        in->set_inflate_engine(engine);
        open_reader(*in, name, kind);
        isal = in->inflate_engine() == NUV_INFLATE_ISAL;
        char buffer[4096];
        in->read(buffer, sizeof(buffer));
        held = in_use() - before;
        delete in;
    }
    // The compressed kinds read 32 KiB pieces; a sealed body's pieces are its chunks.
    const bool pieces = kind != CRYPT && kind != SEALED;
    const uint64_t buffers = NUV_ZSTREAM_PLAIN_BUFSZ + (pieces ? NUV_ZSTREAM_DEFAULT_BUFSZ : 0) +
                             (kind == ZIP_CRYPT || kind == CRYPT ? NUV_ZSTREAM_DEFAULT_BUFSZ : 0) +
                             (kind == SEALED ? SEALED_CHUNK_BYTES + 1 : 0);
    const uint64_t inflater = kind == CRYPT ? 0 : isal ? isal_state_bytes() : inflate_state_bytes();
    state.counters["bytes"] = static_cast<double>(held);
    state.counters["expected"] = static_cast<double>(buffers + inflater);
    state.counters["ratio"] = static_cast<double>(held) / static_cast<double>(buffers + inflater);
    state.SetLabel(isal ? "ISA-L" : "zlib");
    std::remove(name.c_str());
}

// The key derivation alone: creating an empty sealed file (open and close) or opening one
// for reading, with a password at the default cost (Argon2id t=3, 64 MiB, 4 lanes) or with a
// raw key (HKDF-SHA-256). Wall clock: Argon2id runs its lanes on threads of their own.
void BM_SealedOpen(benchmark::State& state, bool password, bool read)
{
    const std::string name = temp_name("open");
    NUV_SEAL_OPTIONS seal;
    if (password)
        seal.password = PASSWORD;
    else
        seal.key = SEAL_KEY;
    const auto* secret = password ? reinterpret_cast<const unsigned char*>(PASSWORD) : SEAL_KEY;
    const int length = password ? static_cast<int>(sizeof PASSWORD - 1) : NUV_SEALED_KEY_LENGTH;
    NUV_ZOFSTREAM empty;
    empty.open(name.c_str(), seal);
    empty.close();
    for (auto _ : state) {
        if (read) {
            NUV_ZIFSTREAM in(name.c_str(), BIN_IN, secret, length);
            if (in.get() != std::char_traits<char>::eof() || !in.verified_end())
                state.SkipWithError("the empty sealed file did not verify");
        } else {
            NUV_ZOFSTREAM out;
            out.open(name.c_str(), seal);
            out.close();
            if (out.last_error() != NUV_ZSTREAM_OK)
                state.SkipWithError("sealing an empty file failed");
        }
    }
    std::remove(name.c_str());
}

void data_args(benchmark::internal::Benchmark* b)
{
    b->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
}

BENCHMARK(BM_RawDeflateLoop)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Write, compressed, COMPRESSED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Write, gzip, GZIP)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Write, zip_crypt, ZIP_CRYPT)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Write, sealed, SEALED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_WriteThreads, compressed, COMPRESSED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_WriteThreads, zip_crypt, ZIP_CRYPT)->Apply(data_args);
BENCHMARK_CAPTURE(BM_WriteThreads, sealed, SEALED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Write, crypt, CRYPT)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
BENCHMARK_CAPTURE(BM_Write, plain, PLAIN)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
BENCHMARK(BM_RawInflateLoop)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, compressed, COMPRESSED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, compressed_zlib_engine, COMPRESSED, NUV_INFLATE_ZLIB)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, gzip, GZIP)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, zip_crypt, ZIP_CRYPT)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, sealed, SEALED)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, sealed_zlib_engine, SEALED, NUV_INFLATE_ZLIB)->Apply(data_args);
BENCHMARK_CAPTURE(BM_Read, crypt, CRYPT)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
BENCHMARK_CAPTURE(BM_Read, plain, PLAIN)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
BENCHMARK(BM_OpenSslEcb)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.1);
BENCHMARK_CAPTURE(BM_MemoryWriter, compressed, COMPRESSED)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryWriter, zip_crypt, ZIP_CRYPT)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryWriter, crypt, CRYPT)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryWriter, sealed, SEALED)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, compressed, COMPRESSED, NUV_INFLATE_FASTEST)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, compressed_zlib_engine, COMPRESSED, NUV_INFLATE_ZLIB)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, zip_crypt, ZIP_CRYPT, NUV_INFLATE_FASTEST)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, crypt, CRYPT, NUV_INFLATE_FASTEST)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, sealed, SEALED, NUV_INFLATE_FASTEST)->Iterations(1);
BENCHMARK_CAPTURE(BM_MemoryReader, sealed_zlib_engine, SEALED, NUV_INFLATE_ZLIB)->Iterations(1);
BENCHMARK_CAPTURE(BM_SealedOpen, write_password, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SealedOpen, write_key, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SealedOpen, read_password, true, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SealedOpen, read_key, false, true)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
