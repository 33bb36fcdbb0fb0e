// The writer's body encoders (one zlib stream, parallel deflate, cipher only) and the sinks
// they send their output to (the file, AES-ECB, sealed chunks).
#include "nuv_zstream_body.h"
#include "nuv_zstream_parallel.h"

#include <algorithm>

namespace nuv_zstream_detail {

// ---------------------------------------------------------------------------------------
// CIPHER_SINK

CIPHER_SINK::CIPHER_SINK(std::ostream& file, NUV_AES& aes, unsigned char* crypt_buffer, int& status,
                         int& carried)
    : m_file(file), m_aes(aes), m_crypt_buffer(crypt_buffer), m_status(status), m_carried(carried)
{
}

bool CIPHER_SINK::send(char* buf, int length, bool final)
{
    int remaining = length;
    char* p = buf;
    while (remaining > 0) {
        const int chunk = std::min(remaining, NUV_ZSTREAM_DEFAULT_BUFSZ);
        const int done = m_aes.block_encrypt(reinterpret_cast<unsigned char*>(p), chunk, m_crypt_buffer);
        if (done < 0) {
            m_status = done;
            return false;
        }
        remaining -= done;
        p += done;
        m_carried = chunk - done;
        if (m_carried < 0)
            NUV_ZSTREAM_INTERNAL_ERROR("m_crypt_leftover >= 0");
        if (m_carried > NUV_MIN_ENCR_BLOCK_SIZE)
            NUV_ZSTREAM_INTERNAL_ERROR("m_crypt_leftover <= NUV_MIN_ENCR_BLOCK_SIZE");
        if (done > 0)
            write(done);
        if (m_carried > 0 && remaining == m_carried) {
            // Carry the incomplete block to the buffer's start for the next call.
            std::memmove(buf, p, static_cast<size_t>(m_carried));
            break;
        }
    }
    if (final) {
        const int out = m_aes.pad_encrypt(reinterpret_cast<unsigned char*>(buf), m_carried, m_crypt_buffer);
        if (out <= 0) {
            m_status = out;
            return false;
        }
        write(out);
        m_carried = 0;
    }
    return true;
}

void CIPHER_SINK::write(int length)
{
    if (m_file.good())
        m_file.write(reinterpret_cast<const char*>(m_crypt_buffer), length);
}

namespace {

// ---------------------------------------------------------------------------------------
// The file itself

class FILE_SINK : public BODY_SINK {
public:
    explicit FILE_SINK(std::ostream& file) : m_file(file) {}
    bool send(char* buf, int length, bool /*final*/) override
    {
        m_file.write(buf, length);
        return true;
    }

private:
    std::ostream& m_file;
};

// ---------------------------------------------------------------------------------------
// Sealed chunks

// Collects the body into chunks and seals each one when the next byte arrives, or as the
// last chunk when the body ends; a flush therefore writes whole chunks only.
class SEAL_SINK : public BODY_SINK {
public:
    SEAL_SINK(std::ostream& file, std::unique_ptr<SEAL_CIPHER> cipher, int& status)
        : m_file(file), m_cipher(std::move(cipher)), m_status(status),
          m_chunk(new unsigned char[m_cipher->chunk_size() + SEAL_TAG_LENGTH])
    {
    }
    bool send(char* buf, int length, bool final) override;

private:
    void seal(bool last);

    std::ostream& m_file;
    std::unique_ptr<SEAL_CIPHER> m_cipher;
    int& m_status;
    std::unique_ptr<unsigned char[]> m_chunk; ///< The chunk being filled, room for its tag.
    size_t m_filled = 0;
    uint32_t m_index = 0;
};

bool SEAL_SINK::send(char* buf, int length, bool final)
{
    const size_t chunk_size = m_cipher->chunk_size();
    for (size_t left = static_cast<size_t>(length); left > 0 && m_status == 0;) {
        if (m_filled == chunk_size)
            seal(false);
        const size_t part = std::min(left, chunk_size - m_filled);
        std::memcpy(m_chunk.get() + m_filled, buf, part);
        m_filled += part;
        buf += part;
        left -= part;
    }
    if (final && m_status == 0)
        seal(true);
    return m_status == 0;
}

void SEAL_SINK::seal(bool last)
{
    // 2^32 chunks is where the nonce's counter would repeat.
    if (!last && m_index == UINT32_MAX) {
        m_status = seal_status(NUV_ZSTREAM_CRYPT_ERROR);
        return;
    }
    m_cipher->seal(m_index++, last, m_chunk.get(), m_filled);
    m_file.write(reinterpret_cast<const char*>(m_chunk.get()),
                 static_cast<std::streamsize>(m_filled + SEAL_TAG_LENGTH));
    m_filled = 0;
}

} // namespace

// ---------------------------------------------------------------------------------------
// BODY_ENCODER

BODY_ENCODER::BODY_ENCODER(const BODY_PARTS& parts) : m_parts(parts)
{
    if (m_parts.seal)
        m_sink = std::make_unique<SEAL_SINK>(*m_parts.file, std::unique_ptr<SEAL_CIPHER>(m_parts.seal),
                                             *m_parts.crypt_status);
    else if (m_parts.aes)
        m_sink = std::make_unique<CIPHER_SINK>(*m_parts.file, *m_parts.aes, m_parts.crypt_buffer,
                                               *m_parts.crypt_status, *m_parts.crypt_leftover);
    else
        m_sink = std::make_unique<FILE_SINK>(*m_parts.file);
    m_parts.seal = nullptr;
}

namespace {

// ---------------------------------------------------------------------------------------
// One zlib stream

class ONE_STREAM_ENCODER : public BODY_ENCODER {
public:
    ONE_STREAM_ENCODER(const BODY_PARTS& parts, int zlib_level, int window_bits) : BODY_ENCODER(parts)
    {
        // A failing init (a level below -1) stays in the zip status; writes then fail.
        *m_parts.zip_status =
            deflateInit2(m_parts.zip_state, zlib_level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    }
    // The zlib state lives from open to close only.
    ~ONE_STREAM_ENCODER() override { *m_parts.zip_status = deflateEnd(m_parts.zip_state); }

    PUT_AREA put_area() override
    {
        return {m_parts.write_buffer, m_parts.write_buffer + NUV_ZSTREAM_PLAIN_BUFSZ, 0};
    }
    bool write(char* bytes, int length) override { return compress(bytes, length, Z_NO_FLUSH); }
    void flush(char* bytes, int length, int flush_mode) override { compress(bytes, length, flush_mode); }
    uint32_t total_in() const override { return static_cast<uint32_t>(m_parts.zip_state->total_in); }

private:
    bool compress(const char* buf, int length, int flush_mode);
    void send_zipped(int length, bool final);
};

// The one deflate loop, for writes (Z_NO_FLUSH), flushes (Z_SYNC_FLUSH) and the end of the
// body (Z_FINISH). A write sends the zipped buffer on whenever it is full; a flush sends
// every call's output at once, and only the call that ends the zlib stream lets the cipher
// pad. As zlib asks, a flush or finish calls deflate again for as long as a call filled the
// output buffer: deflate may still hold output then, and stopping would leave written data
// out of the file.
bool ONE_STREAM_ENCODER::compress(const char* buf, int length, int flush_mode)
{
    z_stream& zs = *m_parts.zip_state;
    int& status = *m_parts.zip_status;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(buf));
    zs.avail_in = static_cast<uInt>(length);
    *m_parts.crc = static_cast<uint32_t>(crc32(*m_parts.crc, zs.next_in, zs.avail_in));
    bool output_pending = flush_mode == Z_FINISH;
    while (status == Z_OK && (zs.avail_in > 0 || output_pending)) {
        status = deflate(&zs, flush_mode);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        if (zs.avail_out > static_cast<uInt>(NUV_ZSTREAM_DEFAULT_BUFSZ))
            NUV_ZSTREAM_INTERNAL_ERROR("NUV_ZSTREAM_DEFAULT_BUFSZ >= m_zip_state.avail_out");
        const bool filled = zs.avail_out == 0;
        output_pending = flush_mode == Z_FINISH || (flush_mode != Z_NO_FLUSH && filled);
        if (flush_mode != Z_NO_FLUSH || filled)
            send_zipped(NUV_ZSTREAM_DEFAULT_BUFSZ - static_cast<int>(zs.avail_out), status == Z_STREAM_END);
    }
    return status == Z_OK;
}

void ONE_STREAM_ENCODER::send_zipped(int length, bool final)
{
    // A failed file keeps the zipped buffer full, so the next deflate reports Z_BUF_ERROR.
    if (!m_parts.file->good())
        return;
    char* zipped = m_parts.zipped_buffer;
    m_sink->send(zipped, length, final);
    const int carried = m_sink->carried();
    m_parts.zip_state->avail_out = static_cast<uInt>(NUV_ZSTREAM_DEFAULT_BUFSZ - carried);
    m_parts.zip_state->next_out = reinterpret_cast<Bytef*>(zipped + carried);
}

// ---------------------------------------------------------------------------------------
// Parallel deflate

class PARALLEL_ENCODER : public BODY_ENCODER {
public:
    PARALLEL_ENCODER(const BODY_PARTS& parts, int threads, int zlib_level, bool zlib_wrapper)
        : BODY_ENCODER(parts), m_deflate(threads, zlib_level, zlib_wrapper),
          m_joined([this](const char* bytes, size_t length, bool final) { write_body(bytes, length, final); })
    {
    }

    PUT_AREA put_area() override { return {m_deflate.piece_begin(), m_deflate.piece_end(), 0}; }
    bool write(char* /*bytes*/, int length) override { return send_piece(length, false); }
    void flush(char* bytes, int length, int flush_mode) override;
    uint32_t check() const override { return m_deflate.check(); }
    uint32_t total_in() const override { return static_cast<uint32_t>(m_deflate.total_in()); }

private:
    bool send_piece(int length, bool last);
    void write_body(const char* bytes, size_t length, bool final);

    PARALLEL_DEFLATE m_deflate;
    const PARALLEL_DEFLATE::SINK m_joined; ///< write_body.
};

void PARALLEL_ENCODER::flush(char* /*bytes*/, int length, int flush_mode)
{
    int& status = *m_parts.zip_status;
    if (length > 0 || flush_mode == Z_FINISH)
        send_piece(length, flush_mode == Z_FINISH);
    if (status == Z_OK)
        m_deflate.drain(m_joined);
    status = status == Z_OK ? m_deflate.status() : status;
}

// Hands the put area's `length` bytes over as a piece (`last` ends the body) and writes the
// pieces that are done; the next piece becomes the put area.
bool PARALLEL_ENCODER::send_piece(int length, bool last)
{
    int& status = *m_parts.zip_status;
    if (status != Z_OK)
        return false;
    if (!m_deflate.submit(static_cast<size_t>(length), last, m_joined))
        status = m_deflate.status();
    return status == Z_OK;
}

// The joined body on its way to the sink in pieces of the zipped buffer, as the one-stream
// path sends it. A file that failed stops the body as deflate's Z_BUF_ERROR does there.
void PARALLEL_ENCODER::write_body(const char* bytes, size_t length, bool final)
{
    if (!m_parts.file->good()) {
        *m_parts.zip_status = Z_BUF_ERROR;
        return;
    }
    char* zipped = m_parts.zipped_buffer;
    do {
        const int carried = m_sink->carried();
        const size_t piece = std::min(length, static_cast<size_t>(NUV_ZSTREAM_DEFAULT_BUFSZ - carried));
        std::memcpy(zipped + carried, bytes, piece);
        bytes += piece;
        length -= piece;
        if (!m_sink->send(zipped, carried + static_cast<int>(piece), final && length == 0))
            return;
    } while (length > 0);
}

// ---------------------------------------------------------------------------------------
// Cipher only

class CIPHER_ENCODER : public BODY_ENCODER {
public:
    explicit CIPHER_ENCODER(const BODY_PARTS& parts) : BODY_ENCODER(parts) {}

    // The carried bytes of an incomplete block stand at the start of the put area.
    PUT_AREA put_area() override
    {
        return {m_parts.write_buffer, m_parts.write_buffer + NUV_ZSTREAM_PLAIN_BUFSZ,
                *m_parts.crypt_leftover};
    }
    bool write(char* bytes, int length) override { return cipher().send(bytes, length, false); }
    void flush(char* bytes, int length, int flush_mode) override
    {
        cipher().send(bytes, length, flush_mode == Z_FINISH);
    }

private:
    BODY_SINK& cipher()
    {
        if (!m_parts.aes)
            NUV_ZSTREAM_INTERNAL_ERROR("Non-zip AND non-crypt buffer should not be here!");
        return *m_sink;
    }
};

} // namespace

BODY_ENCODER* one_stream_encoder(const BODY_PARTS& parts, int zlib_level, int window_bits)
{
    return new ONE_STREAM_ENCODER(parts, zlib_level, window_bits);
}

BODY_ENCODER* parallel_encoder(const BODY_PARTS& parts, int threads, int zlib_level, bool zlib_wrapper)
{
    return new PARALLEL_ENCODER(parts, threads, zlib_level, zlib_wrapper);
}

BODY_ENCODER* cipher_encoder(const BODY_PARTS& parts)
{
    return new CIPHER_ENCODER(parts);
}

} // namespace nuv_zstream_detail
