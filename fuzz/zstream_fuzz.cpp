// Feeds arbitrary bytes as a file to NUV_ZIFSTREAM and reads it to the end.
// The first input byte chooses the key: none, or a 16-, 24- or 32-byte key; the rest is
// the file. The stream must end (no crash, no hang) and report a defined last_error().
#include <nuv/nuv_zstream.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One temporary file per fuzzing process, rewritten for every input.
const std::string& temp_file()
{
    static const std::string name = [] {
        char path[] = "/tmp/nuv_zstream_fuzz_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0)
            abort();
        close(fd);
        return std::string(path);
    }();
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const unsigned char key[32] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                                          0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                                          0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
    static const int key_lengths[4] = {0, 16, 24, 32};
    const int key_length = key_lengths[data[0] & 3];

    FILE* file = std::fopen(temp_file().c_str(), "wb");
    if (!file)
        abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1)
        abort();
    std::fclose(file);

    NUV_ZIFSTREAM in(temp_file().c_str(), std::ios_base::in | std::ios_base::binary,
                     key_length ? key : nullptr, key_length ? key_length : 16);
    char buffer[4096];
    size_t total = 0;
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0)
        total += static_cast<size_t>(in.gcount());
    const NUV_ZSTREAM_ERROR_ENUM error = in.last_error();
    if (error < NUV_ZSTREAM_OK || error > NUV_ZSTREAM_UNKNOWN_ERROR || error == 8)
        abort();
    in.close();
    // Plain and gzip bodies can never deliver more than a fixed multiple of their size;
    // a runaway reader shows up here rather than as a timeout.
    if (!in.is_gzip() && !in.is_zstream(nullptr) && total != size - 1)
        abort();
    in.is_zstream(temp_file().c_str());
    in.is_encrypted(temp_file().c_str());
    return 0;
}
