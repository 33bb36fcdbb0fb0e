// Pieces shared by the writing and reading stream sources; not part of the public interface.
#pragma once

#include <nuv/nuv_aes.h>
#include <nuv/nuv_zstream.h>

namespace nuv_zstream_detail {

/// The error enumeration for a zlib result: Z_OK and Z_STREAM_END give NUV_ZSTREAM_OK,
/// Z_STREAM_ERROR to Z_VERSION_ERROR give 1 to 5, anything else NUV_ZSTREAM_UNKNOWN_ERROR.
NUV_ZSTREAM_ERROR_ENUM zlib_error(int zip_status);

/// The AES key size for a key length in bytes; an internal error for anything but 16, 24, 32.
NUV_AES::KEY_LENGTH aes_key_length(int key_length);

} // namespace nuv_zstream_detail
