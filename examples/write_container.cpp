// Writes a file into a compressed container through NUV_ZOFSTREAM, showing progress:
//
//   write_container INPUT OUTPUT
//
// An OUTPUT name ending in ".gz" gets a gzip member that gzip itself reads; any other name
// the library's compressed kind, both at zlib's default compression level.
#include <nuv/nuv_fstream.h>
#include <nuv/nuv_zstream.h>

#include <cstdint>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_container INPUT OUTPUT\n");
        return 2;
    }
    const std::string output_name = argv[2];
    const bool gzip = output_name.size() > 3 && output_name.compare(output_name.size() - 3, 3, ".gz") == 0;

    // The library's file streams take UTF-8 names on every platform. (Windows hands main()
    // its arguments in the ANSI code page: names beyond it need the wide command line.)
    std::tenvik_ifstream input;
    input.open(argv[1], std::ios_base::binary);
    if (!input) {
        std::fprintf(stderr, "%s: cannot open\n", argv[1]);
        return 1;
    }
    input.seekg(0, std::ios_base::end);
    const uint64_t total = static_cast<uint64_t>(input.tellg());
    input.seekg(0);

    NUV_ZOFSTREAM output;
    // compress = true, no key (a gzip member cannot be encrypted), level -1: the default.
    output.open(output_name.c_str(), std::ios_base::binary, true, nullptr, 0, -1, gzip);
    if (!output.good()) {
        std::fprintf(stderr, "%s: cannot create\n", output_name.c_str());
        return 1;
    }

    // nuv_copy_stream calls back after every 32 KiB piece; print whole percents only.
    int shown = -1;
    const bool copied = nuv_copy_stream(input, output, [&](uint64_t done) {
        const int percent = total ? static_cast<int>(done * 100 / total) : 100;
        if (percent != shown)
            std::fprintf(stderr, "\r%3d %%", shown = percent);
    });
    std::fprintf(stderr, "\n");

    // close() writes the end of the container: check the stream after it, not before.
    output.close();
    const NUV_ZSTREAM_ERROR_ENUM error = output.last_error();
    if (error != NUV_ZSTREAM_OK) {
        std::fprintf(stderr, "%s: %s\n", output_name.c_str(), nuv_zstream_error_text(error));
        return 1;
    }
    if (!copied || output.bad()) {
        std::fprintf(stderr, "%s: reading %s or writing failed\n", output_name.c_str(), argv[1]);
        return 1;
    }
    std::printf("%s: %llu bytes written as %s\n", output_name.c_str(), static_cast<unsigned long long>(total),
                gzip ? "a gzip member" : "a compressed container");
    return 0;
}
