// Pieces shared by the writing and reading streams: zlib memory callbacks, error
// translation and key sizes.
#include "nuv_zstream_internal.h"

#include <host/host_services.h>

#include <cstdlib>
#include <cstring>

voidpf NUV_ZIP_STREAMBUF::zstream_alloc(voidpf, uInt items, uInt size)
{
    uInt bytes = items * size;
    if (bytes == 0)
        bytes = 8;
    void* block = std::malloc(bytes);
    if (!block)
        out_of_memory_handler();
    std::memset(block, 0, bytes);
    return block;
}

void NUV_ZIP_STREAMBUF::zstream_free(voidpf, voidpf address)
{
    std::free(address);
}

namespace nuv_zstream_detail {

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

NUV_AES::KEY_LENGTH aes_key_length(int key_length)
{
    switch (key_length) {
    case 16:
        return NUV_AES::KEY_128;
    case 24:
        return NUV_AES::KEY_192;
    case 32:
        return NUV_AES::KEY_256;
    default:
        report_internal_error("Bad key length, choose 16, 24, or 32", "NUV", "nuv_zstream", __LINE__);
    }
}

} // namespace nuv_zstream_detail
