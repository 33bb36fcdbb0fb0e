// Writing stream: NUV_ZIP_STREAMBUF drains its put area through deflate and AES-ECB into
// the file; NUV_ZOFSTREAM writes the container header before the body and the gzip trailer
// after it.
#include "nuv_zstream_internal.h"
#include "nuv_zstream_parallel.h"

#include <algorithm>
#include <atomic>
#include <string>

using namespace nuv_zstream_detail;

namespace {

std::atomic<int> s_deflate_threads{0};
/// The most deflate threads a writer starts, whatever the setting asks.
const int MOST_DEFLATE_THREADS = 64;

} // namespace

void nuv_set_deflate_threads(int threads)
{
    s_deflate_threads.store(std::clamp(threads, 0, MOST_DEFLATE_THREADS));
}

int nuv_deflate_threads()
{
    return s_deflate_threads.load();
}

// ---------------------------------------------------------------------------------------
// NUV_ZIP_STREAMBUF

NUV_ZIP_STREAMBUF::NUV_ZIP_STREAMBUF()
    : m_ostream(nullptr), m_zip_state(nullptr), m_zip_status(0), m_crypt_status(0), m_write_buffer(nullptr),
      m_zipped_buffer(nullptr), m_crypt_buffer(nullptr), m_zip(false), m_crypt(false), m_aes(nullptr),
      m_crc(0), m_opened(false), m_crypt_leftover(0), m_parallel(nullptr)
{
}

NUV_ZIP_STREAMBUF::~NUV_ZIP_STREAMBUF()
{
    close(true);
}

void NUV_ZIP_STREAMBUF::open(std::ostream* os, const unsigned char* key, int key_length, int level,
                             int window_bits)
{
    if (!os)
        NUV_ZSTREAM_INTERNAL_ERROR("Do not open to NULL ostream!");
    if (m_opened)
        NUV_ZSTREAM_INTERNAL_ERROR("!m_opened");
    m_zip_status = m_crypt_status = 0;
    m_crc = 0;
    m_crypt_leftover = 0;
    m_zip = m_crypt = false;
    m_ostream = os;

    const int zlib_level = level == STORED_BLOCKS_LEVEL ? Z_NO_COMPRESSION : std::min(level, 9);
    const int threads = nuv_deflate_threads();
    m_zip = level != 0;
    // A level zlib refuses stays on the one-stream path, whose init reports it.
    const bool parallel = m_zip && threads > 1 && zlib_level >= Z_DEFAULT_COMPRESSION;
    if (m_zip)
        allocate_zeroed(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
    if (parallel) {
        m_parallel = new PARALLEL_DEFLATE(threads, zlib_level, window_bits > 0); // owns the put area
    } else {
        allocate_zeroed(m_write_buffer, NUV_ZSTREAM_PLAIN_BUFSZ);
    }
    restart_put_area();
    if (m_zip && !parallel) {
        prepare_zlib_state(m_zip_state, m_write_buffer, m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        // A failing init (a level below -1) stays in m_zip_status; writes then fail.
        m_zip_status = deflateInit2(m_zip_state, zlib_level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    }
    if (key) {
        m_crypt = true;
        allocate_zeroed(m_crypt_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        prepare_cipher(m_aes, NUV_AES::ENCRYPT, key, key_length);
    }
    m_opened = true;
}

void NUV_ZIP_STREAMBUF::close(bool free_buffers)
{
    // The zlib state lives from open to close only; a second close leaves the status alone.
    if (m_opened && m_zip && !m_parallel)
        m_zip_status = deflateEnd(m_zip_state);
    delete m_parallel;
    m_parallel = nullptr;
    m_opened = false;
    setp(m_write_buffer, m_write_buffer);
    if (!free_buffers)
        return;
    delete[] m_write_buffer;
    delete[] m_zipped_buffer;
    delete[] m_zip_state;
    m_write_buffer = m_zipped_buffer = nullptr;
    m_zip_state = nullptr;
    if (m_crypt_buffer) {
        delete[] m_crypt_buffer;
        delete m_aes;
        m_crypt_buffer = nullptr;
        m_aes = nullptr;
    }
    setp(nullptr, nullptr);
}

void NUV_ZIP_STREAMBUF::restart_put_area()
{
    if (m_parallel) {
        setp(m_parallel->piece_begin(), m_parallel->piece_end());
        return;
    }
    setp(m_write_buffer, m_write_buffer + NUV_ZSTREAM_PLAIN_BUFSZ);
    // When only encrypting, the carried bytes of an incomplete block stand at the start.
    if (m_crypt && !m_zip)
        pbump(m_crypt_leftover);
}

int NUV_ZIP_STREAMBUF::overflow(int c)
{
    if (!m_opened)
        return traits_type::eof();
    if (pptr() < pbase())
        NUV_ZSTREAM_INTERNAL_ERROR("this->pptr() >= this->pbase()");
    const int n = static_cast<int>(pptr() - pbase());
    if (!m_zip && !m_crypt)
        NUV_ZSTREAM_INTERNAL_ERROR("Non-zip AND non-crypt buffer should not be here!");
    if (m_parallel) {
        if (!send_piece(n, false))
            return traits_type::eof();
    } else if (m_zip) {
        if (!compress_buffer(pbase(), n, Z_NO_FLUSH))
            return traits_type::eof();
    } else if (!encrypt_buffer(pbase(), n, false)) {
        return traits_type::eof();
    }
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::eof();
    restart_put_area();
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int NUV_ZIP_STREAMBUF::underflow()
{
    return 0;
}

int NUV_ZIP_STREAMBUF::sync()
{
    // Failures show through last_error() and the file's state, not the result.
    flush(Z_SYNC_FLUSH);
    return 0;
}

// The one deflate loop, for writes (Z_NO_FLUSH), flushes (Z_SYNC_FLUSH) and the end of the
// body (Z_FINISH). A write sends the zipped buffer on whenever it is full; a flush sends
// every call's output at once, and only the call that ends the zlib stream lets the cipher
// pad. As zlib asks, a flush or finish calls deflate again for as long as a call filled the
// output buffer: deflate may still hold output then, and stopping would leave written data
// out of the file.
bool NUV_ZIP_STREAMBUF::compress_buffer(const char* buf, int length, int flush_mode)
{
    z_stream& zs = *m_zip_state;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(buf));
    zs.avail_in = static_cast<uInt>(length);
    m_crc = static_cast<uint32_t>(crc32(m_crc, zs.next_in, zs.avail_in));
    bool output_pending = flush_mode == Z_FINISH;
    while (m_zip_status == Z_OK && (zs.avail_in > 0 || output_pending)) {
        m_zip_status = deflate(&zs, flush_mode);
        if (m_zip_status != Z_OK && m_zip_status != Z_STREAM_END)
            break;
        if (zs.avail_out > static_cast<uInt>(NUV_ZSTREAM_DEFAULT_BUFSZ))
            NUV_ZSTREAM_INTERNAL_ERROR("NUV_ZSTREAM_DEFAULT_BUFSZ >= m_zip_state.avail_out");
        const bool filled = zs.avail_out == 0;
        output_pending = flush_mode == Z_FINISH || (flush_mode != Z_NO_FLUSH && filled);
        if (flush_mode != Z_NO_FLUSH || filled)
            flush_zipped_buffer(NUV_ZSTREAM_DEFAULT_BUFSZ - static_cast<int>(zs.avail_out),
                                m_zip_status == Z_STREAM_END);
    }
    return m_zip_status == Z_OK;
}

void NUV_ZIP_STREAMBUF::flush_zipped_buffer(int length, bool final)
{
    if (!m_ostream)
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream is invalid (NULL) in flush");
    // A failed file keeps the zipped buffer full, so the next deflate reports Z_BUF_ERROR.
    if (!m_ostream->good())
        return;
    if (m_crypt)
        encrypt_buffer(m_zipped_buffer, length, final);
    else
        m_ostream->write(m_zipped_buffer, length);
    m_zip_state->avail_out = static_cast<uInt>(NUV_ZSTREAM_DEFAULT_BUFSZ - m_crypt_leftover);
    m_zip_state->next_out = reinterpret_cast<Bytef*>(m_zipped_buffer + m_crypt_leftover);
}

bool NUV_ZIP_STREAMBUF::encrypt_buffer(char* buf, int length, bool final)
{
    if (buf != m_write_buffer && buf != m_zipped_buffer)
        NUV_ZSTREAM_INTERNAL_ERROR("buf == m_write_buffer || buf == m_zipped_buffer");
    int remaining = length;
    char* p = buf;
    while (remaining > 0) {
        const int chunk = std::min(remaining, NUV_ZSTREAM_DEFAULT_BUFSZ);
        const int done = m_aes->block_encrypt(reinterpret_cast<unsigned char*>(p), chunk, m_crypt_buffer);
        if (done < 0) {
            m_crypt_status = done;
            return false;
        }
        remaining -= done;
        p += done;
        m_crypt_leftover = chunk - done;
        if (m_crypt_leftover < 0)
            NUV_ZSTREAM_INTERNAL_ERROR("m_crypt_leftover >= 0");
        if (m_crypt_leftover > NUV_MIN_ENCR_BLOCK_SIZE)
            NUV_ZSTREAM_INTERNAL_ERROR("m_crypt_leftover <= NUV_MIN_ENCR_BLOCK_SIZE");
        if (done > 0)
            flush_cryptic_buffer(done);
        if (m_crypt_leftover > 0 && remaining == m_crypt_leftover) {
            // Carry the incomplete block to the buffer's start for the next drain.
            std::memmove(buf, p, static_cast<size_t>(m_crypt_leftover));
            break;
        }
    }
    if (final) {
        const int out =
            m_aes->pad_encrypt(reinterpret_cast<unsigned char*>(buf), m_crypt_leftover, m_crypt_buffer);
        if (out <= 0) {
            m_crypt_status = out;
            return false;
        }
        flush_cryptic_buffer(out);
        m_crypt_leftover = 0;
    }
    return true;
}

void NUV_ZIP_STREAMBUF::flush_cryptic_buffer(int length)
{
    if (!m_ostream)
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream is invalid (NULL) in flush");
    if (m_ostream->good())
        m_ostream->write(reinterpret_cast<const char*>(m_crypt_buffer), length);
}

void NUV_ZIP_STREAMBUF::flush(int flush_mode)
{
    if (!m_opened)
        NUV_ZSTREAM_INTERNAL_ERROR("Trying to flush closed buffer");
    if (!m_ostream)
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream is invalid (NULL) in flush");
    if (pptr() < pbase())
        NUV_ZSTREAM_INTERNAL_ERROR("this->pptr() >= this->pbase()");
    const int n = static_cast<int>(pptr() - pbase());

    if (m_parallel) {
        if (n > 0 || flush_mode == Z_FINISH)
            send_piece(n, flush_mode == Z_FINISH);
        if (m_zip_status == Z_OK)
            m_parallel->drain(body_sink());
        m_zip_status = m_zip_status == Z_OK ? m_parallel->status() : m_zip_status;
    } else if (m_zip) {
        compress_buffer(pbase(), n, flush_mode);
    } else {
        if (!m_crypt)
            NUV_ZSTREAM_INTERNAL_ERROR("flush: Non-zip AND non-crypt buffer should not be here!");
        encrypt_buffer(pbase(), n, flush_mode == Z_FINISH);
    }

    restart_put_area();
    if (!m_ostream->good())
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream not good anymore in flush");
    m_ostream->flush();
    if (m_zip_status == Z_STREAM_END)
        m_zip_status = Z_OK;
}

// Parallel deflate: hands the put area's `length` bytes over as a piece (`last` ends the
// body) and writes the pieces that are done; the next piece becomes the put area.
bool NUV_ZIP_STREAMBUF::send_piece(int length, bool last)
{
    if (m_zip_status != Z_OK)
        return false;
    if (!m_parallel->submit(static_cast<size_t>(length), last, body_sink()))
        m_zip_status = m_parallel->status();
    return m_zip_status == Z_OK;
}

// Where parallel deflate hands the joined body: write_body.
std::function<void(const char*, size_t, bool)> NUV_ZIP_STREAMBUF::body_sink()
{
    return [this](const char* bytes, size_t length, bool final) { write_body(bytes, length, final); };
}

// The joined body on its way to the file: through the cipher in pieces of the zipped
// buffer, as the one-stream path sends it, or straight on. A file that failed stops the
// body as deflate's Z_BUF_ERROR does there.
void NUV_ZIP_STREAMBUF::write_body(const char* bytes, size_t length, bool final)
{
    if (!m_ostream->good()) {
        m_zip_status = Z_BUF_ERROR;
        return;
    }
    if (!m_crypt) {
        m_ostream->write(bytes, static_cast<std::streamsize>(length));
        return;
    }
    do {
        const size_t chunk =
            std::min(length, static_cast<size_t>(NUV_ZSTREAM_DEFAULT_BUFSZ - m_crypt_leftover));
        std::memcpy(m_zipped_buffer + m_crypt_leftover, bytes, chunk);
        bytes += chunk;
        length -= chunk;
        if (!encrypt_buffer(m_zipped_buffer, m_crypt_leftover + static_cast<int>(chunk),
                            final && length == 0))
            return;
    } while (length > 0);
}

uint32_t NUV_ZIP_STREAMBUF::gzip_crc() const
{
    return m_parallel ? m_parallel->check() : m_crc;
}

uint32_t NUV_ZIP_STREAMBUF::total_in() const
{
    return static_cast<uint32_t>(m_parallel ? m_parallel->total_in() : m_zip_state->total_in);
}

// ---------------------------------------------------------------------------------------
// NUV_ZOFSTREAM

NUV_ZOFSTREAM::NUV_ZOFSTREAM(const char* filename, int mode)
    : std::basic_ostream<char>(nullptr), m_zip_buf(nullptr), m_gzip(false)
{
    if (filename)
        open(filename, mode, true, nullptr, 16, -1, false);
}

NUV_ZOFSTREAM::NUV_ZOFSTREAM(const char* filename, int mode, bool compress, const unsigned char* key,
                             int key_length)
    : std::basic_ostream<char>(nullptr), m_zip_buf(nullptr), m_gzip(false)
{
    if (filename)
        open(filename, mode, compress, key, key_length, -1, false);
}

NUV_ZOFSTREAM::~NUV_ZOFSTREAM()
{
    if (m_file.is_open())
        close(true);
    if (m_zip_buf) {
        init(nullptr);
        delete m_zip_buf;
        m_zip_buf = nullptr;
    }
}

void NUV_ZOFSTREAM::open(const char* filename, int mode)
{
    open(filename, mode, true, nullptr, 16, -1, false);
}

void NUV_ZOFSTREAM::open(const char* filename, int mode, bool compress, const unsigned char* key,
                         int key_length, int level, bool gzip)
{
    if (!filename)
        NUV_ZSTREAM_INTERNAL_ERROR("NULL output stream filename");
    if (mode & std::ios_base::in)
        NUV_ZSTREAM_INTERNAL_ERROR("Input mode is illegal for output stream");
    m_gzip = false;
    const bool encrypt = key != nullptr;
    if (!compress) {
        level = 0;
        gzip = false;
    } else if (level == 0) {
        level = STORED_BLOCKS_LEVEL;
    } else if (level < -1) {
        level = -2; // stays invalid for deflateInit2, never the stored-blocks marker
    }
    if (m_file.is_open()) {
        std::string text;
        string_printf(&text, "Close the previously opened stream before reopening as %s!", filename);
        NUV_ZSTREAM_INTERNAL_ERROR(text.c_str());
    }
    if (gzip && encrypt)
        NUV_ZSTREAM_INTERNAL_ERROR("Gzip framing cannot be combined with a key");

    m_file.clear();
    clear();
    if (!compress && !encrypt) {
        m_file.open(filename, mode);
        init(m_file.rdbuf());
        clear(m_file.rdstate());
        return;
    }

    m_file.open(filename, std::ios_base::binary);
    if (m_file.good()) {
        if (!m_zip_buf)
            m_zip_buf = new NUV_ZIP_STREAMBUF;
        init(m_zip_buf);
        m_zip_buf->open(&m_file, key, key_length, level, gzip ? RAW_DEFLATE_WINDOW_BITS : ZLIB_WINDOW_BITS);
        add_header(compress, encrypt, gzip);
    }
    clear(m_file.rdstate());
}

void NUV_ZOFSTREAM::close()
{
    close(false);
}

void NUV_ZOFSTREAM::close(bool free_buffers)
{
    if (m_zip_buf && rdbuf() == m_zip_buf) {
        if (m_file.is_open()) {
            m_zip_buf->flush(Z_FINISH);
            add_footer();
        }
        m_zip_buf->close(free_buffers);
    }
    m_file.close(); // a failing close sets failbit on m_file only
}

int NUV_ZOFSTREAM::is_open() const
{
    return m_file.is_open() ? 1 : 0;
}

std::ostream& NUV_ZOFSTREAM::endl(std::ostream& os)
{
    return os << '\n';
}

NUV_ZSTREAM_ERROR_ENUM NUV_ZOFSTREAM::last_error()
{
    if (!m_zip_buf || rdbuf() != m_zip_buf)
        return NUV_ZSTREAM_OK;
    const int zip_status = m_zip_buf->m_zip_status;
    if (zip_status == Z_OK || zip_status == Z_STREAM_END)
        return m_zip_buf->m_crypt_status != 0 ? NUV_ZSTREAM_CRYPT_ERROR : NUV_ZSTREAM_OK;
    return zlib_error(zip_status);
}

void NUV_ZOFSTREAM::add_header(bool compress, bool encrypt, bool gzip)
{
    if (!m_file.good())
        return;
    if (gzip) {
        m_gzip = true;
        m_file.write(reinterpret_cast<const char*>(NUV_ZSTREAM_GZIP_HEADER), sizeof(NUV_ZSTREAM_GZIP_HEADER));
        return;
    }
    const unsigned char* header = compress ? (encrypt ? NUV_ZSTREAM_ZIP_CRYPT_HEADER : NUV_ZSTREAM_ZIP_HEADER)
                                           : NUV_ZSTREAM_CRYPT_HEADER;
    m_file.write(reinterpret_cast<const char*>(header), 8);
}

NUV_ZOFSTREAM& NUV_ZOFSTREAM::add_footer()
{
    if (m_gzip) {
        unsigned char trailer[GZIP_TRAILER_LENGTH];
        store_le32(m_zip_buf->gzip_crc(), trailer);
        store_le32(m_zip_buf->total_in(), trailer + 4);
        m_file.write(reinterpret_cast<const char*>(trailer), sizeof trailer);
    }
    return *this;
}
