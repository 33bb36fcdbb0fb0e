// Adler-32 (RFC 1950) for the ISA-L reader; internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuv_zstream_detail {

/// The Adler-32 of `length` bytes at `data`, continuing `adler` (1 for a new stream), as
/// zlib's adler32() gives it. Runs 64 bytes at a time where the processor has AVX-512BW,
/// else through ISA-L's own.
uint32_t adler32_update(uint32_t adler, const unsigned char* data, size_t length);

} // namespace nuv_zstream_detail
