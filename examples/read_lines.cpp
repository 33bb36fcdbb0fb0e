// Reads a file line by line whatever its kind: plain text, a gzip file, or one of the
// library's containers (an encrypted one with its password), and counts the lines:
//
//   read_lines FILE [PASSWORD]
//
// NUV_ZIFSTREAM recognises the kind by the file's first bytes, so the reading loop is the
// same std::getline loop for every kind.
#include <nuv/nuv_zstream.h>

#include <cstdint>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: read_lines FILE [PASSWORD]\n");
        return 2;
    }
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    const bool keyed = argc == 3;
    if (keyed)
        nuv_key_from_password(argv[2], key);

    NUV_ZIFSTREAM in(argv[1], std::ios_base::in | std::ios_base::binary, keyed ? key : nullptr,
                     NUV_PASSWORD_KEY_LENGTH);
    if (!in.is_open()) {
        std::fprintf(stderr, "%s: cannot open\n", argv[1]);
        return 1;
    }
    static const char* const kind_names[] = {"plain", "compressed", "compressed and encrypted", "encrypted",
                                             "gzip"};
    const char* kind = kind_names[in.kind()];

    uint64_t lines = 0;
    size_t longest = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
        if (line.size() > longest)
            longest = line.size();
    }

    // The end of the data is also where decoding stops on a wrong key or damage: a
    // container counts as read only with no error and a verified end.
    const NUV_ZSTREAM_ERROR_ENUM error = in.last_error();
    if (error != NUV_ZSTREAM_OK) {
        std::fprintf(stderr, "%s: %s after %llu lines\n", argv[1], nuv_zstream_error_text(error),
                     static_cast<unsigned long long>(lines));
        return 1;
    }
    if (in.kind() != NUV_ZSTREAM_KIND_PLAIN && !in.verified_end()) {
        std::fprintf(stderr, "%s: the %s data ends early or has data after it\n", argv[1], kind);
        return 1;
    }
    std::printf("%s: %s, %llu lines, the longest %zu bytes\n", argv[1], kind,
                static_cast<unsigned long long>(lines), longest);
    return 0;
}
