// Packs a file into a compressed and encrypted container under a password, and unpacks it
// again with the whole-file functions:
//
//   pack_file pack   INPUT CONTAINER PASSWORD
//   pack_file unpack CONTAINER OUTPUT PASSWORD
//
// Unpacking reports a wrong password or a damaged container as success (the data simply
// ends early), so the container is read through NUV_ZIFSTREAM first and its last_error()
// and verified_end() decide whether the output is trusted.
#include <nuv/nuv_zstream.h>

#include <cstdio>
#include <cstring>
#include <limits>

// Reads the container to its end and tells whether it decoded cleanly and completely.
static bool container_checks_out(const char* container, const char* password)
{
    unsigned char key[NUV_PASSWORD_KEY_LENGTH];
    nuv_key_from_password(password, key);
    NUV_ZIFSTREAM in(container, std::ios_base::in | std::ios_base::binary, key, NUV_PASSWORD_KEY_LENGTH);
    if (!in.is_open()) {
        std::fprintf(stderr, "%s: cannot open\n", container);
        return false;
    }
    in.ignore(std::numeric_limits<std::streamsize>::max()); // decode everything, keep nothing
    const NUV_ZSTREAM_ERROR_ENUM error = in.last_error();
    const bool complete = in.verified_end();
    if (error != NUV_ZSTREAM_OK) {
        std::fprintf(stderr, "%s: %s (wrong password?)\n", container, nuv_zstream_error_text(error));
        return false;
    }
    if (!complete) {
        std::fprintf(stderr, "%s: cut short, not a container, or followed by other data\n", container);
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 5 || (std::strcmp(argv[1], "pack") != 0 && std::strcmp(argv[1], "unpack") != 0)) {
        std::fprintf(stderr, "usage: pack_file pack|unpack FROM TO PASSWORD\n");
        return 2;
    }
    const char* from = argv[2];
    const char* to = argv[3];
    const char* password = argv[4];

    if (std::strcmp(argv[1], "pack") == 0) {
        // compress = true, binary = true: the input is read byte for byte.
        if (!nuv_encrypt_and_compress_file(from, to, password, true, true)) {
            std::fprintf(stderr, "%s: could not pack into %s\n", from, to);
            return 1;
        }
        std::printf("%s: packed into %s (encrypted: %s)\n", from, to,
                    nuv_is_file_encrypted(to) ? "yes" : "no");
        return 0;
    }

    if (!container_checks_out(from, password))
        return 1;
    if (!nuv_decrypt_and_decompress_file(from, to, password, true)) {
        std::fprintf(stderr, "%s: could not unpack into %s\n", from, to);
        return 1;
    }
    std::printf("%s: unpacked into %s\n", from, to);
    return 0;
}
