// Pieces shared by the writing and reading streams: zlib memory callbacks and set-up, the
// cipher's set-up, error translation and texts.
#include "nuv_zstream_internal.h"

#include <cstdlib>

void* NUV_ZIP_STREAMBUF::zstream_alloc(void*, unsigned items, unsigned size)
{
    unsigned bytes = items * size;
    if (bytes == 0)
        bytes = 8;
    void* block = std::malloc(bytes);
    if (!block)
        out_of_memory_handler();
    std::memset(block, 0, bytes);
    return block;
}

void NUV_ZIP_STREAMBUF::zstream_free(void*, void* address)
{
    std::free(address);
}

const char* nuv_zstream_error_text(NUV_ZSTREAM_ERROR_ENUM error)
{
    switch (error) {
    case NUV_ZSTREAM_OK:
        return "no error";
    case NUV_ZSTREAM_STREAM_ERROR:
        return "the compression library reported an inconsistent stream state";
    case NUV_ZSTREAM_DATA_ERROR:
        return "the compressed data is invalid";
    case NUV_ZSTREAM_MEM_ERROR:
        return "the compression library ran out of memory";
    case NUV_ZSTREAM_BUF_ERROR:
        return "no progress was possible (the output could not be written)";
    case NUV_ZSTREAM_VERSION_ERROR:
        return "the compression library's version does not match";
    case NUV_ZSTREAM_NO_KEY:
        return "the file is encrypted and no key was given";
    case NUV_ZSTREAM_CRYPT_ERROR:
        return "the cipher text does not decipher (wrong key, bad padding or length)";
    case NUV_ZSTREAM_AUTH_ERROR:
        return "authentication failed: wrong password or key, or the file was altered";
    case NUV_ZSTREAM_UNKNOWN_ERROR:
        return "the compression library gave an unexpected result";
    case NUV_ZSTREAM_SEAL_FORMAT_ERROR:
        return "the sealed container's version, algorithms or cost are not supported, or no password "
               "or key was given";
    }
    return "unknown error";
}

namespace nuv_zstream_detail {

void prepare_zlib_state(z_stream*& state, char* in, char* out, int out_size)
{
    allocate_zeroed(state, 1);
    state->zalloc = NUV_ZIP_STREAMBUF::zstream_alloc;
    state->zfree = NUV_ZIP_STREAMBUF::zstream_free;
    state->next_in = reinterpret_cast<Bytef*>(in);
    state->avail_in = 0;
    state->next_out = reinterpret_cast<Bytef*>(out);
    state->avail_out = static_cast<uInt>(out_size);
}

void prepare_cipher(NUV_AES*& aes, NUV_AES::DIRECTION direction, const unsigned char* key, int key_length)
{
    static const struct {
        int bytes;
        NUV_AES::KEY_LENGTH length;
    } s_key_lengths[] = {{16, NUV_AES::KEY_128}, {24, NUV_AES::KEY_192}, {32, NUV_AES::KEY_256}};
    if (!aes)
        aes = new NUV_AES;
    for (const auto& entry : s_key_lengths) {
        if (entry.bytes != key_length)
            continue;
        if (aes->init(NUV_AES::ECB, direction, key, entry.length, nullptr) != 0)
            NUV_ZSTREAM_INTERNAL_ERROR("Failed to initialize AES");
        return;
    }
    NUV_ZSTREAM_INTERNAL_ERROR("Bad key length, choose 16, 24, or 32");
}

NUV_ZSTREAM_ERROR_ENUM zlib_error(int zip_status)
{
    switch (zip_status) {
    case Z_OK:
    case Z_STREAM_END:
        return NUV_ZSTREAM_OK;
    case Z_STREAM_ERROR:
        return NUV_ZSTREAM_STREAM_ERROR;
    case Z_DATA_ERROR:
        return NUV_ZSTREAM_DATA_ERROR;
    case Z_MEM_ERROR:
        return NUV_ZSTREAM_MEM_ERROR;
    case Z_BUF_ERROR:
        return NUV_ZSTREAM_BUF_ERROR;
    case Z_VERSION_ERROR:
        return NUV_ZSTREAM_VERSION_ERROR;
    default:
        return NUV_ZSTREAM_UNKNOWN_ERROR;
    }
}

NUV_ZSTREAM_ERROR_ENUM crypt_error(int crypt_status)
{
    if (crypt_status == 0)
        return NUV_ZSTREAM_OK;
    const int error = crypt_status - seal_status(NUV_ZSTREAM_OK);
    return error > 0 ? static_cast<NUV_ZSTREAM_ERROR_ENUM>(error) : NUV_ZSTREAM_CRYPT_ERROR;
}

int zlib_level_for(int level)
{
    if (level == 0)
        return STORED_BLOCKS_LEVEL;
    return level < -1 ? -2 : level;
}

void store_le32(uint32_t value, unsigned char* bytes)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t load_le32(const unsigned char* bytes)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

} // namespace nuv_zstream_detail
