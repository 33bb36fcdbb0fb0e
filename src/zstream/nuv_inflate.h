// One inflate stream behind a small interface, so that the reader decodes with zlib or with
// ISA-L alike; internal to the library.
#pragma once

#include <nuv/nuv_zstream.h>

#include <cstdint>

namespace nuv_zstream_detail {

/// A decoder of one zlib stream (RFC 1950) or raw deflate data (RFC 1951). Both engines
/// answer with zlib's result codes and behave as zlib's inflate does, so the reader sees
/// the same bytes and the same result whichever one runs.
class NUV_INFLATER {
public:
    /// A decoder of `engine` (NUV_INFLATE_FASTEST resolved to what the build has); its state
    /// comes from the stream buffers' allocation callback.
    static NUV_INFLATER* create(NUV_INFLATE_ENGINE engine);
    /// The engine NUV_INFLATE_FASTEST and NUV_INFLATE_ISAL stand for in this build.
    static NUV_INFLATE_ENGINE resolve(NUV_INFLATE_ENGINE engine);

    virtual ~NUV_INFLATER() = default;
    /// NUV_INFLATE_ZLIB or NUV_INFLATE_ISAL.
    virtual NUV_INFLATE_ENGINE engine() const = 0;
    /// Starts a new stream: `window_bits` 15 for the zlib wrapper, -15 for raw deflate.
    /// Z_OK, or the zlib code of a failed start. Clears the fields below except the buffers.
    virtual int start(int window_bits) = 0;
    /// Inflates from next_in into next_out as far as both allow: Z_OK, Z_STREAM_END (raw
    /// data ended, or the wrapper's Adler-32 matched), Z_NEED_DICT (the header asks for a
    /// preset dictionary), Z_DATA_ERROR, or Z_BUF_ERROR when no progress was possible
    /// although input and output room were given (none without input is Z_OK).
    virtual int run() = 0;
    /// CRC-32 of everything produced by raw deflate since start().
    virtual uint32_t crc() const = 0;

    /// Moves up to `most` unread input bytes into `to`, those read ahead past the end of
    /// the data first, then from next_in; returns how many.
    unsigned take(unsigned char* to, unsigned most);
    /// How many input bytes are unread: read ahead and kept, and avail_in.
    unsigned unread() const { return m_kept - m_kept_taken + avail_in; }

    const unsigned char* next_in = nullptr;
    unsigned avail_in = 0;
    unsigned char* next_out = nullptr;
    unsigned avail_out = 0;
    /// Bytes produced since start().
    uint64_t total_out = 0;

protected:
    /// Clears total_out and the kept bytes for a new stream.
    void restart();

    /// Input bytes a decoder took past the end of the data and gives back through take().
    unsigned char m_kept_bytes[8] = {};
    unsigned m_kept = 0;
    unsigned m_kept_taken = 0;
};

#ifdef NUV_WITH_ISAL
/// The ISA-L decoder (nuv_inflate_isal.cpp).
NUV_INFLATER* create_isal_inflater();
#endif

} // namespace nuv_zstream_detail
