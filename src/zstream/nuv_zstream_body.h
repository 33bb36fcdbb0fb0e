// The body encoders of the writing stream buffer: one per way a body is encoded (one zlib
// stream, parallel deflate, cipher only), chosen once at open, each sending its output to
// a sink (the file, AES-ECB or sealed chunks); internal to the library.
#pragma once

#include "nuv_sealed.h"
#include "nuv_zstream_internal.h"

#include <cstdint>
#include <memory>

namespace nuv_zstream_detail {

/// Where an encoder's output goes: the file itself, AES-ECB, or sealed chunks.
class BODY_SINK {
public:
    virtual ~BODY_SINK() = default;
    /// Sends `length` bytes at `buf` on; `final` ends the body. False when the cipher failed.
    virtual bool send(char* buf, int length, bool final) = 0;
    /// Bytes of an incomplete cipher block carried to the start of the last `buf`, which
    /// the next call sends first.
    virtual int carried() const { return 0; }
};

/// AES-ECB on the way to the file: encrypts whole blocks into the crypt buffer and writes
/// them, carrying an incomplete block to the start of the caller's buffer for its next call.
class CIPHER_SINK : public BODY_SINK {
public:
    /// Writes to `file` through `aes`; `crypt_buffer` holds NUV_ZSTREAM_DEFAULT_BUFSZ bytes.
    /// A cipher failure lands in `status`; `carried` counts the bytes of an incomplete block.
    CIPHER_SINK(std::ostream& file, NUV_AES& aes, unsigned char* crypt_buffer, int& status, int& carried);

    /// Encrypts and writes; `final` pads.
    bool send(char* buf, int length, bool final) override;
    int carried() const override { return m_carried; }

private:
    void write(int length);

    std::ostream& m_file;
    NUV_AES& m_aes;
    unsigned char* m_crypt_buffer;
    int& m_status;
    int& m_carried;
};

/// What an encoder works with; the buffers and statuses belong to the stream buffer, so they
/// are reused across close(false) and last_error() reads them.
struct BODY_PARTS {
    std::ostream* file;
    char* write_buffer;    ///< NUV_ZSTREAM_PLAIN_BUFSZ bytes; unused by parallel deflate.
    char* zipped_buffer;   ///< NUV_ZSTREAM_DEFAULT_BUFSZ bytes; unused without compression.
    z_stream_s* zip_state; ///< The one-stream encoder's.
    int* zip_status;
    uint32_t* crc;
    NUV_AES* aes; ///< Null without a key.
    unsigned char* crypt_buffer;
    int* crypt_status;
    int* crypt_leftover;
    SEAL_CIPHER* seal; ///< Null unless sealing; the encoder takes it over.
};

/// The put area an encoder offers: [begin, end), of which the first `filled` bytes are
/// already taken.
struct PUT_AREA {
    char* begin;
    char* end;
    int filled;
};

/// One way of turning the written bytes into the body; the stream buffer drives it.
class BODY_ENCODER {
public:
    virtual ~BODY_ENCODER() = default;
    /// Where the next written bytes go.
    virtual PUT_AREA put_area() = 0;
    /// Encodes the full put area's `length` bytes; false when a step failed.
    virtual bool write(char* bytes, int length) = 0;
    /// Encodes the put area's `length` bytes and drains with a zlib flush mode: Z_SYNC_FLUSH,
    /// or Z_FINISH to end the body.
    virtual void flush(char* bytes, int length, int flush_mode) = 0;
    /// The gzip trailer's CRC-32 of the input.
    virtual uint32_t check() const { return *m_parts.crc; }
    /// The gzip trailer's input length (modulo 2^32).
    virtual uint32_t total_in() const { return 0; }

protected:
    /// Keeps `parts` and sends the body to the sink they ask for: sealed chunks, AES-ECB or
    /// the file.
    explicit BODY_ENCODER(const BODY_PARTS& parts);

    BODY_PARTS m_parts;
    std::unique_ptr<BODY_SINK> m_sink;
};

/// One zlib stream on the caller's thread into the zipped buffer: `parts.zip_state` readied
/// by prepare_zlib_state; a failing deflateInit2 stays in the zip status.
BODY_ENCODER* one_stream_encoder(const BODY_PARTS& parts, int zlib_level, int window_bits);
/// Parallel deflate on `threads` workers at a valid `zlib_level`; the put area is its piece.
BODY_ENCODER* parallel_encoder(const BODY_PARTS& parts, int threads, int zlib_level, bool zlib_wrapper);
/// No compression: the write buffer goes through the cipher, which a key must give.
BODY_ENCODER* cipher_encoder(const BODY_PARTS& parts);

} // namespace nuv_zstream_detail
