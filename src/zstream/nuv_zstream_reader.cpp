// Reading stream: NUV_ZIFSTREAM recognises the container kind by its header and reads the
// body through NUV_UNZIP_STREAMBUF, which deciphers and/or inflates it into its get area.
#include "nuv_zstream_internal.h"

#include <host/host_services.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#define ZSTREAM_INTERNAL_ERROR(message) report_internal_error(message, "NUV", "nuv_zstream", __LINE__)

namespace {

// Bad padding or a cipher text that is not a whole number of blocks, as NUV_AES reports it.
const int CRYPT_DAMAGED = -7;

uint32_t read_le32(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) |
           (uint32_t(bytes[3]) << 24);
}

} // namespace

// ---------------------------------------------------------------------------------------
// NUV_UNZIP_STREAMBUF

NUV_UNZIP_STREAMBUF::NUV_UNZIP_STREAMBUF()
    : m_istream(nullptr), m_zip_status(0), m_crypt_status(0), m_read_buffer(nullptr),
      m_zipped_buffer(nullptr), m_crypt_buffer(nullptr), m_zip(false), m_crypt(false), m_aes(nullptr),
      m_opened(false), m_crypt_next_in(nullptr), m_crypt_avail_in(0), m_crypt_ended(false)
{
    std::memset(&m_zip_state, 0, sizeof(m_zip_state));
}

NUV_UNZIP_STREAMBUF::~NUV_UNZIP_STREAMBUF()
{
    close(true);
}

void NUV_UNZIP_STREAMBUF::open(std::istream* source, const unsigned char* key, int key_length, bool zipped,
                               int window_bits)
{
    if (m_opened)
        ZSTREAM_INTERNAL_ERROR("!m_opened");
    if (!source)
        ZSTREAM_INTERNAL_ERROR("Tried to open streambuf with NULL istream");
    m_zip_status = m_crypt_status = 0;
    m_crypt_next_in = nullptr;
    m_crypt_avail_in = 0;
    m_crypt_ended = false;
    m_zip = m_crypt = false;
    m_istream = source;

    if (!m_read_buffer)
        m_read_buffer = new char[NUV_ZSTREAM_PLAIN_BUFSZ];
    std::memset(m_read_buffer, 0, NUV_ZSTREAM_PLAIN_BUFSZ);
    setg(m_read_buffer, m_read_buffer, m_read_buffer);

    if (zipped) {
        m_zip = true;
        if (!m_zipped_buffer)
            m_zipped_buffer = new char[NUV_ZSTREAM_DEFAULT_BUFSZ];
        std::memset(m_zipped_buffer, 0, NUV_ZSTREAM_DEFAULT_BUFSZ);
        std::memset(&m_zip_state, 0, sizeof(m_zip_state));
        m_zip_state.zalloc = NUV_ZIP_STREAMBUF::zstream_alloc;
        m_zip_state.zfree = NUV_ZIP_STREAMBUF::zstream_free;
        m_zip_state.next_in = reinterpret_cast<Bytef*>(m_zipped_buffer);
        m_zip_state.avail_in = 0;
        m_zip_state.next_out = reinterpret_cast<Bytef*>(m_read_buffer);
        m_zip_state.avail_out = NUV_ZSTREAM_PLAIN_BUFSZ;
        // A failing init stays in m_zip_status: nothing is inflated and last_error() says why.
        m_zip_status = inflateInit2(&m_zip_state, window_bits);
    }
    if (!key) {
        m_opened = true;
        return;
    }

    m_crypt = true;
    if (!m_crypt_buffer)
        m_crypt_buffer = new char[NUV_ZSTREAM_DEFAULT_BUFSZ];
    std::memset(m_crypt_buffer, 0, NUV_ZSTREAM_DEFAULT_BUFSZ);
    m_crypt_next_in = m_crypt_buffer;
    m_crypt_avail_in = 0;
    if (!m_aes)
        m_aes = new NUV_AES;
    const NUV_AES::KEY_LENGTH size = nuv_zstream_detail::aes_key_length(key_length);
    if (m_aes->init(NUV_AES::ECB, NUV_AES::DECRYPT, key, size, nullptr) != 0)
        ZSTREAM_INTERNAL_ERROR("Failed to initialize AES");
    m_opened = true;
}

void NUV_UNZIP_STREAMBUF::close(bool free_buffers)
{
    if (m_opened) {
        if (m_zip)
            inflateEnd(&m_zip_state);
        m_opened = false;
    }
    setg(m_read_buffer, m_read_buffer, m_read_buffer);
    if (!free_buffers)
        return;
    delete[] m_read_buffer;
    delete[] m_zipped_buffer;
    delete[] m_crypt_buffer;
    delete m_aes;
    m_read_buffer = m_zipped_buffer = m_crypt_buffer = nullptr;
    m_crypt_next_in = nullptr;
    m_aes = nullptr;
    setg(nullptr, nullptr, nullptr);
}

int NUV_UNZIP_STREAMBUF::overflow(int)
{
    return 0;
}

int NUV_UNZIP_STREAMBUF::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (!m_opened)
        return traits_type::eof();
    int n = 0;
    if (m_zip)
        n = decompress_buffer(m_read_buffer);
    else if (m_crypt)
        n = fill_cryptic_buffer(m_read_buffer, NUV_ZSTREAM_PLAIN_BUFSZ);
    else
        ZSTREAM_INTERNAL_ERROR("underflow: None of the buffers - that shouldn't happen here!");
    if (n < 1)
        return traits_type::eof();
    setg(m_read_buffer, m_read_buffer, m_read_buffer + n);
    return traits_type::to_int_type(*gptr());
}

int NUV_UNZIP_STREAMBUF::decompress_buffer(char* out)
{
    const uInt bufsz = NUV_ZSTREAM_PLAIN_BUFSZ;
    m_zip_state.next_out = reinterpret_cast<Bytef*>(out);
    m_zip_state.avail_out = bufsz;
    // Refill until something comes out: a piece may hold only headers or empty flush
    // blocks, and delivering nothing would end the stream early.
    do {
        if (m_zip_status == Z_OK && m_zip_state.avail_in == 0)
            fill_zipped_buffer(); // never past the end of the data: a gzip trailer follows it
        while (m_zip_status == Z_OK && m_zip_state.avail_out > 0 && m_zip_state.avail_in > 0)
            m_zip_status = inflate(&m_zip_state, Z_SYNC_FLUSH);
    } while (m_zip_status == Z_OK && m_zip_state.avail_out == bufsz && m_istream->good());
    if (m_zip_state.avail_out > bufsz)
        ZSTREAM_INTERNAL_ERROR("bufsz >= m_zip_state.avail_out");
    return static_cast<int>(bufsz - m_zip_state.avail_out);
}

void NUV_UNZIP_STREAMBUF::fill_zipped_buffer()
{
    if (!m_istream)
        ZSTREAM_INTERNAL_ERROR("File input stream is invalid (NULL) in fill_zipped_buffer");
    if (!m_istream->good())
        return;
    int n = 0;
    if (m_crypt) {
        n = fill_cryptic_buffer(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
    } else {
        m_istream->read(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        n = static_cast<int>(m_istream->gcount());
    }
    m_zip_state.next_in = reinterpret_cast<Bytef*>(m_zipped_buffer);
    m_zip_state.avail_in = static_cast<uInt>(n);
}

// Reads the next piece of cipher text; returns whether it ends the body with the padded
// final block, which it then leaves out of m_crypt_avail_in.
bool NUV_UNZIP_STREAMBUF::read_piece()
{
    if (!m_istream)
        ZSTREAM_INTERNAL_ERROR("File input stream is invalid (NULL) in fill_cryptic_buffer");
    int count = 0;
    if (m_istream->good()) {
        m_istream->read(m_crypt_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        count = static_cast<int>(m_istream->gcount());
    }
    m_crypt_next_in = m_crypt_buffer;
    m_crypt_avail_in = count;
    if (count == 0) {
        // The body ended without its padded final block.
        m_crypt_status = CRYPT_DAMAGED;
        m_crypt_ended = true;
        return false;
    }
    if (!traits_type::eq_int_type(m_istream->peek(), traits_type::eof()))
        return false;
    m_crypt_ended = true;
    if (count % NUV_MIN_ENCR_BLOCK_SIZE != 0) {
        // Not a whole number of blocks: deliver the whole blocks, then report the damage.
        m_crypt_avail_in = count - count % NUV_MIN_ENCR_BLOCK_SIZE;
        return false;
    }
    m_crypt_avail_in -= NUV_MIN_ENCR_BLOCK_SIZE;
    return true;
}

int NUV_UNZIP_STREAMBUF::fill_cryptic_buffer(char* out, unsigned bufsz)
{
    bool last = false;
    if (m_crypt_avail_in == 0) {
        if (m_crypt_ended || m_crypt_status != 0)
            return 0;
        last = read_piece();
    }
    unsigned room = bufsz;
    while (m_crypt_avail_in > 0 && room > 0 && m_crypt_status == 0) {
        const int c =
            std::min(m_crypt_avail_in, static_cast<int>(room & ~unsigned(NUV_MIN_ENCR_BLOCK_SIZE - 1)));
        if (c < 1)
            ZSTREAM_INTERNAL_ERROR("So far can't handle chunks < 16");
        const int r = m_aes->block_decrypt(reinterpret_cast<const unsigned char*>(m_crypt_next_in), c,
                                           reinterpret_cast<unsigned char*>(out));
        if (r <= 0) {
            m_crypt_status = r < 0 ? r : CRYPT_DAMAGED;
            break;
        }
        out += r;
        room -= static_cast<unsigned>(r);
        m_crypt_next_in += c;
        m_crypt_avail_in -= c;
    }
    if (last && m_crypt_status == 0) {
        const int r = m_aes->pad_decrypt(reinterpret_cast<const unsigned char*>(m_crypt_next_in),
                                         NUV_MIN_ENCR_BLOCK_SIZE, reinterpret_cast<unsigned char*>(out));
        if (r >= 0) {
            m_crypt_next_in += NUV_MIN_ENCR_BLOCK_SIZE;
            room -= static_cast<unsigned>(r);
        } else {
            m_crypt_status = r;
        }
    } else if (m_crypt_ended && m_crypt_avail_in == 0 && m_crypt_status == 0 && !last) {
        m_crypt_status = CRYPT_DAMAGED; // the whole blocks of a damaged last piece are out
    }
    if (room > bufsz)
        ZSTREAM_INTERNAL_ERROR("bufsz >= static_cast<UINT>(avail_out)");
    return static_cast<int>(bufsz - room);
}

// ---------------------------------------------------------------------------------------
// NUV_ZIFSTREAM

NUV_ZIFSTREAM::NUV_ZIFSTREAM(const char* filename, int mode, const unsigned char* key, int key_length)
    : std::basic_istream<char>(nullptr), m_unzip_buf(nullptr), m_compressed(false), m_encrypted(false),
      m_gzip(false), m_gzip_crc(0), m_gzip_data_size(0), m_last_error(NUV_ZSTREAM_OK)
{
    if (filename)
        open(filename, mode, key, key_length);
}

NUV_ZIFSTREAM::~NUV_ZIFSTREAM()
{
    if (m_file.is_open())
        close(true);
    if (m_unzip_buf) {
        init(nullptr);
        delete m_unzip_buf;
        m_unzip_buf = nullptr;
    }
}

void NUV_ZIFSTREAM::open(const char* filename, int mode, const unsigned char* key, int key_length)
{
    if (!filename)
        ZSTREAM_INTERNAL_ERROR("NULL input stream filename");
    if (m_file.is_open()) {
        std::string text;
        string_printf(&text, "Close the previously opened stream before reopening as %s!", filename);
        ZSTREAM_INTERNAL_ERROR(text.c_str());
    }
    refresh();
    m_file.clear();
    clear();

    if (read_header(filename)) {
        if (m_encrypted && !key) {
            // Nothing can be delivered: close the file and leave the stream without a buffer.
            close();
            m_last_error = NUV_ZSTREAM_NO_KEY;
            init(nullptr);
            clear(m_file.rdstate());
            return;
        }
        if (m_file.good()) {
            if (!m_unzip_buf)
                m_unzip_buf = new NUV_UNZIP_STREAMBUF;
            init(m_unzip_buf);
            m_unzip_buf->open(&m_file, m_encrypted ? key : nullptr, m_encrypted ? key_length : 0,
                              m_compressed, m_gzip ? -15 : 15);
        }
    } else {
        m_file.open(filename, mode);
        init(m_file.rdbuf());
    }
    clear(m_file.rdstate());
}

void NUV_ZIFSTREAM::close()
{
    close(false);
}

void NUV_ZIFSTREAM::close(bool free_buffers)
{
    if (m_unzip_buf && rdbuf() == m_unzip_buf) {
        if (m_file.is_open())
            read_footer();
        m_unzip_buf->close(free_buffers);
    }
    close_file();
}

int NUV_ZIFSTREAM::is_open() const
{
    return m_file.is_open() ? 1 : 0;
}

bool NUV_ZIFSTREAM::is_gzip() const
{
    return m_gzip;
}

unsigned long NUV_ZIFSTREAM::get_gzip_crc() const
{
    return m_gzip_crc;
}

unsigned long NUV_ZIFSTREAM::get_gzip_data_size() const
{
    return m_gzip_data_size;
}

bool NUV_ZIFSTREAM::is_zstream(const char* filename)
{
    if (!m_file.is_open() && filename && read_header(filename))
        close_file();
    return m_compressed || m_encrypted;
}

bool NUV_ZIFSTREAM::is_encrypted(const char* filename)
{
    if (!m_file.is_open() && filename && read_header(filename))
        close_file();
    return m_encrypted;
}

NUV_ZSTREAM_ERROR_ENUM NUV_ZIFSTREAM::last_error()
{
    if (!m_unzip_buf || (!m_compressed && !m_encrypted))
        return m_last_error;
    NUV_ZSTREAM_ERROR_ENUM error = m_last_error;
    if (m_encrypted && error == NUV_ZSTREAM_OK && m_unzip_buf->m_crypt_status != 0)
        error = NUV_ZSTREAM_CRYPT_ERROR;
    if (m_compressed && error == NUV_ZSTREAM_OK)
        error = nuv_zstream_detail::zlib_error(m_unzip_buf->m_zip_status);
    return error;
}

bool NUV_ZIFSTREAM::test_header(const unsigned char* bytes, int count)
{
    if (!m_file.good() || !m_file.is_open())
        return false;
    for (int i = 0; i < count; ++i) {
        if (m_file.peek() == bytes[i] && m_file.good()) {
            m_file.get();
            continue;
        }
        for (int j = i - 1; j >= 0; --j)
            m_file.putback(static_cast<char>(bytes[j]));
        return false;
    }
    return true;
}

bool NUV_ZIFSTREAM::read_header(const char* filename)
{
    if (!filename)
        ZSTREAM_INTERNAL_ERROR("NULL input stream filename");
    m_compressed = m_encrypted = m_gzip = false;
    m_file.open(filename, std::ios_base::binary);
    if (!m_file.good()) {
        close_file();
        return false;
    }
    if (test_header(NUV_ZSTREAM_ZIP_HEADER, 8)) {
        m_compressed = true;
    } else if (test_header(NUV_ZSTREAM_ZIP_CRYPT_HEADER, 8)) {
        m_compressed = m_encrypted = true;
    } else if (test_header(NUV_ZSTREAM_CRYPT_HEADER, 8)) {
        m_encrypted = true;
    } else if (test_header(NUV_ZSTREAM_GZIP_HEADER, 3)) {
        m_compressed = m_gzip = true;
        if (!skip_gzip_header())
            m_file.setstate(std::ios_base::failbit);
    } else {
        close_file();
    }
    return m_compressed || m_encrypted;
}

// Skips the rest of a gzip member header after ID1 ID2 CM; false when the file ends inside it.
bool NUV_ZIFSTREAM::skip_gzip_header()
{
    unsigned char fixed[7]; // FLG, MTIME (4), XFL, OS
    if (!m_file.read(reinterpret_cast<char*>(fixed), sizeof(fixed)))
        return false;
    const unsigned flags = fixed[0];
    if (flags & 4) {
        unsigned char xlen[2];
        if (!m_file.read(reinterpret_cast<char*>(xlen), 2))
            return false;
        const std::streamsize length = xlen[0] | (xlen[1] << 8);
        m_file.ignore(length);
        if (m_file.gcount() != length)
            return false;
    }
    for (unsigned flag : {8u, 16u}) {
        if (!(flags & flag))
            continue;
        m_file.ignore(std::numeric_limits<std::streamsize>::max(), 0);
        if (m_file.eof())
            return false;
    }
    if (flags & 2) {
        m_file.ignore(2);
        if (m_file.gcount() != 2)
            return false;
    }
    return true;
}

// The gzip trailer is the 8 bytes right after the deflate data: first whatever the reader
// already holds beyond the end of that data, then the file.
void NUV_ZIFSTREAM::read_footer()
{
    if (!m_gzip || !m_unzip_buf || m_unzip_buf->m_zip_status != Z_STREAM_END)
        return;
    unsigned char trailer[8];
    const z_stream& zs = m_unzip_buf->m_zip_state;
    size_t have = std::min<size_t>(zs.avail_in, sizeof(trailer));
    std::memcpy(trailer, zs.next_in, have);
    if (have < sizeof(trailer) && m_file.good()) {
        m_file.read(reinterpret_cast<char*>(trailer + have),
                    static_cast<std::streamsize>(sizeof(trailer) - have));
        have += static_cast<size_t>(m_file.gcount());
    }
    if (have >= 4)
        m_gzip_crc = read_le32(trailer);
    if (have >= 8)
        m_gzip_data_size = read_le32(trailer + 4);
}

void NUV_ZIFSTREAM::refresh()
{
    m_compressed = m_encrypted = m_gzip = false;
    m_gzip_crc = m_gzip_data_size = 0;
    m_last_error = NUV_ZSTREAM_OK;
    // The buffer's results describe the previous file until it is opened again.
    if (m_unzip_buf)
        m_unzip_buf->m_zip_status = m_unzip_buf->m_crypt_status = 0;
}

void NUV_ZIFSTREAM::close_file()
{
    if (!m_file.rdbuf()->close())
        m_file.setstate(std::ios_base::failbit);
}
