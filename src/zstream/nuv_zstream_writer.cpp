// Writing stream: NUV_ZIP_STREAMBUF drains its put area into the file through the body
// encoder open() chose (nuv_zstream_body.h); NUV_ZOFSTREAM writes the container header (and
// a sealed file's parameters) before the body and the gzip trailer after it.
#include "nuv_sealed.h"
#include "nuv_zstream_body.h"
#include "nuv_zstream_internal.h"

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
      m_crc(0), m_opened(false), m_crypt_leftover(0), m_body(nullptr)
{
}

NUV_ZIP_STREAMBUF::~NUV_ZIP_STREAMBUF()
{
    close(true);
}

void NUV_ZIP_STREAMBUF::open(std::ostream* os, const unsigned char* key, int key_length, int level,
                             int window_bits)
{
    start(os, key, key_length, level, window_bits, nullptr);
}

// Opens for any kind: `seal` (taken over) seals the compressed body in chunks.
void NUV_ZIP_STREAMBUF::start(std::ostream* os, const unsigned char* key, int key_length, int level,
                              int window_bits, SEAL_CIPHER* seal)
{
    if (!os)
        NUV_ZSTREAM_INTERNAL_ERROR("Do not open to NULL ostream!");
    if (m_opened)
        NUV_ZSTREAM_INTERNAL_ERROR("!m_opened");
    m_zip_status = m_crypt_status = 0;
    m_crc = 0;
    m_crypt_leftover = 0;
    m_ostream = os;

    const int zlib_level = level == STORED_BLOCKS_LEVEL ? Z_NO_COMPRESSION : std::min(level, 9);
    const int threads = nuv_deflate_threads();
    m_zip = level != 0;
    m_crypt = key != nullptr;
    // A level zlib refuses stays on the one-stream path, whose init reports it.
    const bool parallel = m_zip && threads > 1 && zlib_level >= Z_DEFAULT_COMPRESSION;
    if (m_zip)
        allocate_zeroed(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
    if (!parallel) // parallel deflate owns the put area
        allocate_zeroed(m_write_buffer, NUV_ZSTREAM_PLAIN_BUFSZ);
    if (m_zip && !parallel)
        prepare_zlib_state(m_zip_state, m_write_buffer, m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
    if (m_crypt) {
        allocate_zeroed(m_crypt_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        prepare_cipher(m_aes, NUV_AES::ENCRYPT, key, key_length);
    }
    const BODY_PARTS parts{m_ostream,
                           m_write_buffer,
                           m_zipped_buffer,
                           m_zip_state,
                           &m_zip_status,
                           &m_crc,
                           m_crypt ? m_aes : nullptr,
                           m_crypt_buffer,
                           &m_crypt_status,
                           &m_crypt_leftover,
                           seal};
    if (parallel)
        m_body = parallel_encoder(parts, threads, zlib_level, window_bits > 0);
    else if (m_zip)
        m_body = one_stream_encoder(parts, zlib_level, window_bits);
    else
        m_body = cipher_encoder(parts);
    restart_put_area();
    m_opened = true;
}

void NUV_ZIP_STREAMBUF::close(bool free_buffers)
{
    delete m_body; // ends the zlib state and joins the workers
    m_body = nullptr;
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
    const PUT_AREA area = m_body->put_area();
    setp(area.begin, area.end);
    pbump(area.filled);
}

int NUV_ZIP_STREAMBUF::overflow(int c)
{
    if (!m_opened)
        return traits_type::eof();
    if (pptr() < pbase())
        NUV_ZSTREAM_INTERNAL_ERROR("this->pptr() >= this->pbase()");
    if (!m_body->write(pbase(), static_cast<int>(pptr() - pbase())))
        return traits_type::eof();
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

void NUV_ZIP_STREAMBUF::flush(int flush_mode)
{
    if (!m_opened)
        NUV_ZSTREAM_INTERNAL_ERROR("Trying to flush closed buffer");
    if (!m_ostream)
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream is invalid (NULL) in flush");
    if (pptr() < pbase())
        NUV_ZSTREAM_INTERNAL_ERROR("this->pptr() >= this->pbase()");
    m_body->flush(pbase(), static_cast<int>(pptr() - pbase()), flush_mode);
    restart_put_area();
    if (!m_ostream->good())
        NUV_ZSTREAM_INTERNAL_ERROR("File output stream not good anymore in flush");
    m_ostream->flush();
    if (m_zip_status == Z_STREAM_END)
        m_zip_status = Z_OK;
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
    if (mode & std::ios_base::in)
        NUV_ZSTREAM_INTERNAL_ERROR("Input mode is illegal for output stream");
    const bool encrypt = key != nullptr;
    if (!compress) {
        level = 0;
        gzip = false;
    } else {
        level = zlib_level_for(level);
    }
    check_closed(filename);
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

void NUV_ZOFSTREAM::open(const char* filename, const NUV_SEAL_OPTIONS& seal)
{
    check_closed(filename);
    m_file.clear();
    clear();
    SEAL_PARAMETERS parameters;
    NUV_ZSTREAM_ERROR_ENUM error = SEAL_PARAMETERS::choose(seal, &parameters);
    std::unique_ptr<SEAL_CIPHER> cipher;
    if (error == NUV_ZSTREAM_OK) {
        const bool password = seal.password != nullptr;
        cipher =
            SEAL_CIPHER::create(parameters, password ? static_cast<const void*>(seal.password) : seal.key,
                                password ? std::strlen(seal.password) : NUV_SEALED_KEY_LENGTH, &error);
    }
    if (!m_zip_buf)
        m_zip_buf = new NUV_ZIP_STREAMBUF;
    init(m_zip_buf);
    if (!cipher) {
        // No file: the stream is failed, and last_error() says why.
        m_zip_buf->m_crypt_status = seal_status(error);
        setstate(std::ios_base::failbit);
        return;
    }
    m_file.open(filename, std::ios_base::binary);
    if (m_file.good()) {
        unsigned char prefix[NUV_SEALED_PREFIX_LENGTH];
        parameters.write(prefix);
        m_zip_buf->start(&m_file, nullptr, 0, zlib_level_for(seal.level), ZLIB_WINDOW_BITS, cipher.release());
        m_file.write(reinterpret_cast<const char*>(prefix), sizeof prefix);
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
        return crypt_error(m_zip_buf->m_crypt_status);
    return zlib_error(zip_status);
}

void NUV_ZOFSTREAM::check_closed(const char* filename)
{
    if (!filename)
        NUV_ZSTREAM_INTERNAL_ERROR("NULL output stream filename");
    m_gzip = false;
    if (m_file.is_open()) {
        std::string text;
        string_printf(&text, "Close the previously opened stream before reopening as %s!", filename);
        NUV_ZSTREAM_INTERNAL_ERROR(text.c_str());
    }
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
        store_le32(m_zip_buf->m_body->check(), trailer);
        store_le32(m_zip_buf->m_body->total_in(), trailer + 4);
        m_file.write(reinterpret_cast<const char*>(trailer), sizeof trailer);
    }
    return *this;
}
