// Pieces shared by the writing and reading stream buffers; internal to the library.
#pragma once

#include <nuv/nuv_aes.h>
#include <nuv/nuv_zstream.h>

#include <host/host_services.h>

#include <zlib.h>

#include <cstring>

/// Internal errors of the stream family all name the unit nuv_zstream.
#define NUV_ZSTREAM_INTERNAL_ERROR(message) report_internal_error(message, "NUV", "nuv_zstream", __LINE__)

namespace nuv_zstream_detail {

/// zlib level the writer passes for "compress at level 0": deflate emitting stored blocks.
/// (Level 0 itself tells the stream buffer to run no zlib at all.)
const int STORED_BLOCKS_LEVEL = -1000;

/// zlib window bits of the two compressed framings.
const int ZLIB_WINDOW_BITS = 15;
const int RAW_DEFLATE_WINDOW_BITS = -15;

/// Flag bits of a gzip member header (RFC 1952) that announce optional fields.
enum GZIP_FLAG { GZIP_FHCRC = 2, GZIP_FEXTRA = 4, GZIP_FNAME = 8, GZIP_FCOMMENT = 16 };

/// Length of the gzip member trailer: CRC-32 and ISIZE, 4 bytes each.
const int GZIP_TRAILER_LENGTH = 8;

/// Allocates `buffer` (`size` elements) when it is null, then fills it with zeros.
template <class T> void allocate_zeroed(T*& buffer, int size)
{
    if (!buffer)
        buffer = new T[size];
    std::memset(buffer, 0, sizeof(T) * static_cast<size_t>(size));
}

/// Readies `state` (allocated when null, zeroed) for deflateInit2 or inflateInit2: the
/// library's memory callbacks, input at `in` with nothing available yet, and `out_size`
/// bytes of output room at `out`.
void prepare_zlib_state(z_stream*& state, char* in, char* out, int out_size);

/// Readies `aes` (created when null) for ECB in `direction` with a key of `key_length`
/// bytes: 16, 24 or 32, anything else being an internal error.
void prepare_cipher(NUV_AES*& aes, NUV_AES::DIRECTION direction, const unsigned char* key, int key_length);

/// The error enumeration for a zlib result: Z_OK and Z_STREAM_END give NUV_ZSTREAM_OK,
/// Z_STREAM_ERROR to Z_VERSION_ERROR give 1 to 5, anything else NUV_ZSTREAM_UNKNOWN_ERROR.
NUV_ZSTREAM_ERROR_ENUM zlib_error(int zip_status);

/// The crypt status of either stream buffer: 0, a negative NUV_AES failure, or a sealed
/// kind's failure as seal_status(error).
inline int seal_status(NUV_ZSTREAM_ERROR_ENUM error)
{
    return 1000 + error;
}
/// The error enumeration for a crypt status: NUV_ZSTREAM_OK for 0, the error of a
/// seal_status, NUV_ZSTREAM_CRYPT_ERROR for the rest.
NUV_ZSTREAM_ERROR_ENUM crypt_error(int crypt_status);

/// zlib level for a writer's level when compressing: 0 asks for stored blocks, levels below
/// -1 stay invalid for deflateInit2.
int zlib_level_for(int level);

/// `value` as 4 bytes, least significant first, and back.
void store_le32(uint32_t value, unsigned char* bytes);
uint32_t load_le32(const unsigned char* bytes);

} // namespace nuv_zstream_detail
