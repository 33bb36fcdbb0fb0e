// Reading stream: NUV_ZIFSTREAM recognises the container kind by its header and reads the
// body through NUV_UNZIP_STREAMBUF, which deciphers and/or inflates it into its get area.
#include "nuv_inflate.h"
#include "nuv_sealed.h"
#include "nuv_zstream_internal.h"

#include <algorithm>
#include <climits>
#include <string>

using namespace nuv_zstream_detail;

namespace {

// Bad padding or a cipher text that is not a whole number of blocks, as NUV_AES reports it.
const int CRYPT_DAMAGED = -7;

// The longest gzip member name kept; a longer one is cut, its header still skipped whole.
const size_t MAX_KEPT_NAME = 4096;

} // namespace

// ---------------------------------------------------------------------------------------
// NUV_UNZIP_STREAMBUF

NUV_UNZIP_STREAMBUF::NUV_UNZIP_STREAMBUF()
    : m_istream(nullptr), m_inflater(nullptr), m_engine(NUV_INFLATE_FASTEST), m_body_start(0),
      m_window_bits(0), m_zip_status(0), m_crypt_status(0), m_read_buffer(nullptr), m_zipped_buffer(nullptr),
      m_crypt_buffer(nullptr), m_zip(false), m_crypt(false), m_aes(nullptr), m_opened(false),
      m_crypt_next_in(nullptr), m_crypt_avail_in(0), m_crypt_held(0), m_crypt_ended(false), m_gzip(false),
      m_crc(0), m_trailer_crc(0), m_trailer_size(0), m_trailer_bytes(0), m_end_verified(false),
      m_sealed(nullptr)
{
}

NUV_UNZIP_STREAMBUF::~NUV_UNZIP_STREAMBUF()
{
    close(true);
}

void NUV_UNZIP_STREAMBUF::reset_results()
{
    m_zip_status = m_crypt_status = 0;
    m_crypt_ended = false;
    m_crc = m_trailer_crc = m_trailer_size = 0;
    m_trailer_bytes = 0;
    m_end_verified = false;
}

void NUV_UNZIP_STREAMBUF::open(std::istream* source, const unsigned char* key, int key_length, bool zipped,
                               int window_bits)
{
    if (m_opened)
        NUV_ZSTREAM_INTERNAL_ERROR("!m_opened");
    if (!source)
        NUV_ZSTREAM_INTERNAL_ERROR("Tried to open streambuf with NULL istream");
    reset_results();
    m_crypt_next_in = nullptr;
    m_crypt_avail_in = m_crypt_held = 0;
    m_zip = m_crypt = false;
    m_gzip = zipped && window_bits == RAW_DEFLATE_WINDOW_BITS;
    m_istream = source;

    allocate_zeroed(m_read_buffer, NUV_ZSTREAM_PLAIN_BUFSZ);
    setg(m_read_buffer, m_read_buffer, m_read_buffer);
    if (zipped) {
        m_zip = true;
        if (!m_sealed) // a sealed body's pieces are its chunks
            allocate_zeroed(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        if (m_inflater && m_inflater->engine() != NUV_INFLATER::resolve(m_engine)) {
            delete m_inflater;
            m_inflater = nullptr;
        }
        if (!m_inflater)
            m_inflater = NUV_INFLATER::create(m_engine);
        // A failing start stays in m_zip_status: nothing is inflated and last_error() says why.
        m_window_bits = window_bits;
        m_body_start = source->tellg();
        m_zip_status = m_inflater->start(window_bits);
        m_inflater->avail_in = 0;
    }
    if (key) {
        m_crypt = true;
        allocate_zeroed(m_crypt_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ + NUV_MIN_ENCR_BLOCK_SIZE);
        m_crypt_next_in = m_crypt_buffer;
        prepare_cipher(m_aes, NUV_AES::DECRYPT, key, key_length);
    }
    m_opened = true;
}

// Opens a sealed body: a zlib stream whose pieces come from the chunks `cipher` (taken
// over) verifies.
void NUV_UNZIP_STREAMBUF::open_sealed(std::istream* source, SEAL_CIPHER* cipher)
{
    m_sealed = new SEALED_SOURCE(*source, std::unique_ptr<SEAL_CIPHER>(cipher));
    open(source, nullptr, 0, true, ZLIB_WINDOW_BITS);
}

void NUV_UNZIP_STREAMBUF::close(bool free_buffers)
{
    delete m_sealed; // a file's chunks end with it
    m_sealed = nullptr;
    m_opened = false;
    setg(m_read_buffer, m_read_buffer, m_read_buffer);
    if (!free_buffers)
        return;
    delete[] m_read_buffer;
    delete[] m_zipped_buffer;
    delete[] m_crypt_buffer;
    delete m_inflater;
    delete m_aes;
    m_read_buffer = m_zipped_buffer = m_crypt_buffer = nullptr;
    m_crypt_next_in = nullptr;
    m_inflater = nullptr;
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
        NUV_ZSTREAM_INTERNAL_ERROR("underflow: None of the buffers - that shouldn't happen here!");
    if (n < 1)
        return traits_type::eof();
    setg(m_read_buffer, m_read_buffer, m_read_buffer + n);
    return traits_type::to_int_type(*gptr());
}

int NUV_UNZIP_STREAMBUF::decompress_buffer(char* out)
{
    const bool was_inflating = m_zip_status == Z_OK;
    const uint64_t delivered = m_inflater->total_out;
    unsigned produced = inflate_into(out, NUV_ZSTREAM_PLAIN_BUFSZ);
    const bool checks_match = !was_inflating || m_zip_status != Z_STREAM_END || finish_zip_body();
    // Room left without the end of the stream: the file ended inside it.
    const bool cut = m_zip_status == Z_OK && produced < NUV_ZSTREAM_PLAIN_BUFSZ;
    const bool failed = m_zip_status != Z_OK && m_zip_status != Z_STREAM_END;
    // A source that cannot seek (a pipe) keeps ISA-L's answer: the body cannot be read again.
    // A sealed body needs no second reading: what reaches the decoder was verified, so it
    // is our own deflate's output, which both engines decode alike.
    const bool can_read_again = m_body_start != std::streampos(-1) && !m_sealed;
    if (was_inflating && m_inflater->engine() != NUV_INFLATE_ZLIB && can_read_again &&
        (cut || failed || !checks_match))
        produced = redecode_with_zlib(out, delivered);
    return static_cast<int>(produced);
}

// Inflates into `out` until `room` bytes are there or the data ends or fails; returns how
// many came out.
unsigned NUV_UNZIP_STREAMBUF::inflate_into(char* out, unsigned room)
{
    NUV_INFLATER& zs = *m_inflater;
    zs.next_out = reinterpret_cast<unsigned char*>(out);
    zs.avail_out = room;
    // Refill until the room is full: a piece may hold only headers or empty flush blocks,
    // and delivering nothing would end the stream early.
    while (m_zip_status == Z_OK) {
        if (zs.avail_in == 0)
            fill_zipped_buffer(); // never past the end of the data: a gzip trailer follows it
        const unsigned fresh = zs.avail_in, room_before = zs.avail_out;
        // Run once without input too: the decoder may still hold output for a full room.
        do {
            m_zip_status = zs.run();
        } while (m_zip_status == Z_OK && zs.avail_out > 0 && zs.avail_in > 0);
        // Stop when the room is full, the file has ended, or nothing came in and nothing out.
        if (zs.avail_out == 0 || !m_istream->good() || (fresh == 0 && zs.avail_out == room_before))
            break;
    }
    if (zs.avail_out > room)
        NUV_ZSTREAM_INTERNAL_ERROR("room >= m_inflater->avail_out");
    if (m_gzip)
        m_crc = zs.crc();
    return room - zs.avail_out;
}

// ISA-L found the body damaged or cut. What such a body delivers is zlib's answer, and the
// two differ in places (ISA-L decodes incomplete Huffman codes that zlib refuses, and sees a
// bad block header at a cut later), so zlib decodes the body again from its start, dropping
// the `delivered` bytes handed out before this get area; returns what it puts into `out`.
unsigned NUV_UNZIP_STREAMBUF::redecode_with_zlib(char* out, uint64_t delivered)
{
    delete m_inflater;
    m_inflater = nullptr;
    m_inflater = NUV_INFLATER::create(NUV_INFLATE_ZLIB);
    m_istream->clear();
    m_istream->seekg(m_body_start);
    m_crypt_next_in = m_crypt_buffer;
    m_crypt_avail_in = m_crypt_held = 0;
    reset_results();
    m_zip_status = m_inflater->start(m_window_bits);
    for (uint64_t skip = delivered; skip > 0 && m_zip_status == Z_OK;) {
        const unsigned piece = inflate_into(
            m_read_buffer, static_cast<unsigned>(std::min<uint64_t>(skip, NUV_ZSTREAM_PLAIN_BUFSZ)));
        if (piece == 0)
            break;
        skip -= piece;
    }
    const unsigned produced = m_zip_status == Z_OK ? inflate_into(out, NUV_ZSTREAM_PLAIN_BUFSZ) : 0;
    if (m_zip_status == Z_STREAM_END)
        finish_zip_body();
    return produced;
}

// The zlib stream has ended (its Adler-32 checked): read a gzip member's trailer and check
// it against the data, then make sure nothing follows the body. Returns whether the check
// values matched.
bool NUV_UNZIP_STREAMBUF::finish_zip_body()
{
    const bool trailer_matches = !m_gzip || read_gzip_trailer();
    m_end_verified = trailer_matches && nothing_after_zip_body();
    return trailer_matches;
}

// Takes the 8 trailer bytes right after the deflate data: first what the reader already
// holds beyond the end of that data, then the file. True when they match the data.
bool NUV_UNZIP_STREAMBUF::read_gzip_trailer()
{
    NUV_INFLATER& zs = *m_inflater;
    unsigned char trailer[GZIP_TRAILER_LENGTH];
    std::streamsize have = zs.take(trailer, GZIP_TRAILER_LENGTH);
    if (have < GZIP_TRAILER_LENGTH && m_istream->good()) {
        m_istream->read(reinterpret_cast<char*>(trailer) + have, GZIP_TRAILER_LENGTH - have);
        have += m_istream->gcount();
    }
    m_trailer_bytes = static_cast<int>(have);
    if (have >= 4)
        m_trailer_crc = load_le32(trailer);
    if (have < GZIP_TRAILER_LENGTH)
        return false;
    m_trailer_size = load_le32(trailer + 4);
    return m_trailer_crc == m_crc && m_trailer_size == static_cast<uint32_t>(zs.total_out);
}

// Whether the file ends with the body: no bytes left after the zlib stream, and for the
// encrypted kind, nothing but the padded final block deciphering after it.
bool NUV_UNZIP_STREAMBUF::nothing_after_zip_body()
{
    if (m_inflater->unread() > 0)
        return false;
    if (m_sealed)
        return m_sealed->ended();
    if (!m_crypt)
        return traits_type::eq_int_type(m_istream->peek(), traits_type::eof());
    if (fill_cryptic_buffer(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ) > 0)
        return false;
    return m_crypt_ended && m_crypt_status == 0;
}

void NUV_UNZIP_STREAMBUF::fill_zipped_buffer()
{
    if (!m_istream)
        NUV_ZSTREAM_INTERNAL_ERROR("File input stream is invalid (NULL) in fill_zipped_buffer");
    if (!m_istream->good())
        return;
    if (m_sealed) {
        m_inflater->avail_in = static_cast<unsigned>(m_sealed->next(&m_inflater->next_in));
        if (m_sealed->failed())
            m_crypt_status = seal_status(NUV_ZSTREAM_AUTH_ERROR);
        return;
    }
    int n = 0;
    if (m_crypt) {
        n = fill_cryptic_buffer(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
    } else {
        m_istream->read(m_zipped_buffer, NUV_ZSTREAM_DEFAULT_BUFSZ);
        n = static_cast<int>(m_istream->gcount());
    }
    m_inflater->next_in = reinterpret_cast<const unsigned char*>(m_zipped_buffer);
    m_inflater->avail_in = static_cast<unsigned>(n);
}

// Cipher state. m_crypt_buffer holds one piece of cipher text read from the file (at most
// NUV_ZSTREAM_DEFAULT_BUFSZ bytes behind a held-back block); m_crypt_next_in is the first
// byte not yet deciphered, m_crypt_avail_in how many whole blocks' bytes follow it to be
// deciphered, m_crypt_held the block kept back behind those, m_crypt_ended whether the file
// has no more cipher text, m_crypt_status 0 or the cipher's failure. Without a key
// (m_crypt false) the fields stay at their cleared values and are not used.
//
//   state     next_in  avail_in      held  ended  status  fill_cryptic_buffer
//   started   buffer   0             0     false  0       reads a piece (read_piece)
//   reading   inside   whole blocks  16    false  0       deciphers, reads when none left
//   final     inside   whole blocks  0     true   0       deciphers, then the padded block
//   damaged   inside   whole blocks  0     true   0       deciphers, then status DAMAGED
//   finished  end      0             0     true   0       0: the body is done
//   failed    any      any           any   any    != 0    0: last_error() says why
//
// open() and redecode_with_zlib() enter "started" (reset_results() clears ended and
// status). read_piece() moves the held block to the buffer's start, reads behind it and
// leads to "reading" after a full read (the new piece's last block held back), else to
// "final" when the piece ends on a whole block (that block, at next_in + avail_in, is the
// padded one) or "damaged" when it does not (or holds nothing). A final piece's blocks fit
// every caller's room (at least NUV_ZSTREAM_DEFAULT_BUFSZ bytes), so the call that read it
// also deciphers the padded block and ends in "finished", or in "failed" on bad padding. A
// damaged piece's whole blocks are delivered before status becomes CRYPT_DAMAGED; a block
// the cipher refuses leads to "failed" at once.

// Reads the next piece of cipher text behind the block held back from the last one, and
// holds back the piece's own last block. The file's last 16 bytes are the padded final
// block, and holding one back finds them without looking ahead in the file (a look-ahead
// costs a second read per piece). Returns whether the piece ends the body with the padded
// final block, which it then leaves out of m_crypt_avail_in.
bool NUV_UNZIP_STREAMBUF::read_piece()
{
    if (!m_istream)
        NUV_ZSTREAM_INTERNAL_ERROR("File input stream is invalid (NULL) in fill_cryptic_buffer");
    std::memmove(m_crypt_buffer, m_crypt_next_in, static_cast<size_t>(m_crypt_held));
    int count = 0;
    if (m_istream->good()) {
        m_istream->read(m_crypt_buffer + m_crypt_held, NUV_ZSTREAM_DEFAULT_BUFSZ);
        count = static_cast<int>(m_istream->gcount());
    }
    const int have = m_crypt_held + count;
    m_crypt_next_in = m_crypt_buffer;
    // A stream's read comes short only at the end of the file (or at a read error).
    if (count == NUV_ZSTREAM_DEFAULT_BUFSZ) {
        m_crypt_avail_in = have - NUV_MIN_ENCR_BLOCK_SIZE;
        m_crypt_held = NUV_MIN_ENCR_BLOCK_SIZE;
        return false;
    }
    m_crypt_ended = true;
    m_crypt_held = 0;
    if (have == 0 || have % NUV_MIN_ENCR_BLOCK_SIZE != 0) {
        // No final block, or not a whole number of blocks: deliver the whole blocks, then
        // report the damage.
        m_crypt_avail_in = have - have % NUV_MIN_ENCR_BLOCK_SIZE;
        return false;
    }
    m_crypt_avail_in = have - NUV_MIN_ENCR_BLOCK_SIZE;
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
            NUV_ZSTREAM_INTERNAL_ERROR("So far can't handle chunks < 16");
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
            // Without zlib the padded block is the body's only check; with it, the end of
            // the zlib stream decides (finish_zip_body).
            m_end_verified = !m_zip;
        } else {
            m_crypt_status = r;
        }
    } else if (m_crypt_ended && m_crypt_avail_in == 0 && m_crypt_status == 0 && !last) {
        m_crypt_status = CRYPT_DAMAGED; // the whole blocks of a damaged last piece are out
    }
    if (room > bufsz)
        NUV_ZSTREAM_INTERNAL_ERROR("bufsz >= static_cast<UINT>(avail_out)");
    return static_cast<int>(bufsz - room);
}

// ---------------------------------------------------------------------------------------
// NUV_ZIFSTREAM

NUV_ZIFSTREAM::NUV_ZIFSTREAM(const char* filename, int mode, const unsigned char* key, int key_length)
    : std::basic_istream<char>(nullptr), m_unzip_buf(nullptr), m_compressed(false), m_encrypted(false),
      m_gzip(false), m_sealed(false), m_gzip_crc(0), m_gzip_data_size(0), m_last_error(NUV_ZSTREAM_OK),
      m_header_length(0), m_engine(NUV_INFLATE_FASTEST)
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
        NUV_ZSTREAM_INTERNAL_ERROR("NULL input stream filename");
    if (m_file.is_open()) {
        std::string text;
        string_printf(&text, "Close the previously opened stream before reopening as %s!", filename);
        NUV_ZSTREAM_INTERNAL_ERROR(text.c_str());
    }
    refresh();
    m_file.clear();
    clear();

    if (read_header(filename)) {
        if (m_sealed) {
            open_sealed(key, key_length);
            return;
        }
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
            m_unzip_buf->m_engine = m_engine;
            m_unzip_buf->open(&m_file, m_encrypted ? key : nullptr, m_encrypted ? key_length : 0,
                              m_compressed, m_gzip ? RAW_DEFLATE_WINDOW_BITS : ZLIB_WINDOW_BITS);
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
    if (m_encrypted && error == NUV_ZSTREAM_OK)
        error = crypt_error(m_unzip_buf->m_crypt_status);
    if (m_compressed && error == NUV_ZSTREAM_OK)
        error = zlib_error(m_unzip_buf->m_zip_status);
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

NUV_ZSTREAM_KIND NUV_ZIFSTREAM::kind() const
{
    if (m_sealed)
        return NUV_ZSTREAM_KIND_SEALED;
    if (m_gzip)
        return NUV_ZSTREAM_KIND_GZIP;
    if (m_compressed)
        return m_encrypted ? NUV_ZSTREAM_KIND_COMPRESSED_ENCRYPTED : NUV_ZSTREAM_KIND_COMPRESSED;
    return m_encrypted ? NUV_ZSTREAM_KIND_ENCRYPTED : NUV_ZSTREAM_KIND_PLAIN;
}

int NUV_ZIFSTREAM::header_length() const
{
    return m_header_length;
}

const std::string& NUV_ZIFSTREAM::gzip_name() const
{
    return m_gzip_name;
}

void NUV_ZIFSTREAM::set_inflate_engine(NUV_INFLATE_ENGINE engine)
{
    m_engine = engine;
}

NUV_INFLATE_ENGINE NUV_ZIFSTREAM::inflate_engine() const
{
    return NUV_INFLATER::resolve(m_engine);
}

bool NUV_ZIFSTREAM::verified_end() const
{
    return m_unzip_buf && (m_compressed || m_encrypted) && m_unzip_buf->m_end_verified;
}

bool NUV_ZIFSTREAM::read_header(const char* filename)
{
    if (!filename)
        NUV_ZSTREAM_INTERNAL_ERROR("NULL input stream filename");
    m_compressed = m_encrypted = m_gzip = m_sealed = false;
    m_header_length = 0;
    m_gzip_name.clear();
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
    } else if (test_header(NUV_ZSTREAM_SEALED_HEADER, 8)) {
        m_compressed = m_encrypted = m_sealed = true; // open() reads the parameters after it
    } else if (test_header(NUV_ZSTREAM_GZIP_HEADER, 3)) {
        m_compressed = m_gzip = true;
        if (!skip_gzip_header())
            m_file.setstate(std::ios_base::failbit);
    } else {
        close_file();
    }
    if ((m_compressed || m_encrypted) && m_file.good())
        m_header_length = m_sealed ? NUV_SEALED_PREFIX_LENGTH
                                   : static_cast<int>(std::min<std::streamoff>(m_file.tellg(), INT_MAX));
    return m_compressed || m_encrypted;
}

// Reads the sealed file's parameters, which follow the header just read, derives its key
// from `key` and opens the buffer on the first chunk. The file is read on, never sought:
// it may be a pipe. Refused parameters, no key or no memory for the key's derivation
// deliver nothing: the file is closed and last_error() says why.
void NUV_ZIFSTREAM::open_sealed(const unsigned char* key, int key_length)
{
    unsigned char prefix[NUV_SEALED_PREFIX_LENGTH];
    const int header = static_cast<int>(sizeof NUV_ZSTREAM_SEALED_HEADER);
    std::copy(NUV_ZSTREAM_SEALED_HEADER, NUV_ZSTREAM_SEALED_HEADER + header, prefix);
    m_file.read(reinterpret_cast<char*>(prefix) + header, NUV_SEALED_PREFIX_LENGTH - header);
    if (!m_file.good())
        m_header_length = 0; // cut inside its parameters: no whole header
    SEAL_PARAMETERS parameters;
    m_last_error =
        m_file.good() ? SEAL_PARAMETERS::parse(prefix, &parameters) : NUV_ZSTREAM_SEAL_FORMAT_ERROR;
    if (m_last_error == NUV_ZSTREAM_OK && !key)
        m_last_error = NUV_ZSTREAM_NO_KEY;
    std::unique_ptr<SEAL_CIPHER> cipher;
    if (m_last_error == NUV_ZSTREAM_OK)
        cipher =
            SEAL_CIPHER::create(parameters, key, static_cast<size_t>(std::max(key_length, 0)), &m_last_error);
    if (!cipher) {
        const NUV_ZSTREAM_ERROR_ENUM error = m_last_error;
        close();
        m_last_error = error;
        init(nullptr);
        clear(m_file.rdstate());
        return;
    }
    if (!m_unzip_buf)
        m_unzip_buf = new NUV_UNZIP_STREAMBUF;
    init(m_unzip_buf);
    m_unzip_buf->m_engine = m_engine;
    m_unzip_buf->open_sealed(&m_file, cipher.release());
    clear(m_file.rdstate());
}

// Skips the rest of a gzip member header after ID1 ID2 CM, keeping the name; false when the
// file ends inside it.
bool NUV_ZIFSTREAM::skip_gzip_header()
{
    unsigned char fixed[7]; // FLG, MTIME (4), XFL, OS
    if (!m_file.read(reinterpret_cast<char*>(fixed), sizeof(fixed)))
        return false;
    const unsigned flags = fixed[0];
    if (flags & GZIP_FEXTRA) {
        unsigned char xlen[2];
        if (!m_file.read(reinterpret_cast<char*>(xlen), 2))
            return false;
        const std::streamsize length = xlen[0] | (xlen[1] << 8);
        m_file.ignore(length);
        if (m_file.gcount() != length)
            return false;
    }
    if ((flags & GZIP_FNAME) && !skip_zero_terminated(&m_gzip_name))
        return false;
    if ((flags & GZIP_FCOMMENT) && !skip_zero_terminated(nullptr))
        return false;
    if (flags & GZIP_FHCRC) {
        m_file.ignore(2);
        if (m_file.gcount() != 2)
            return false;
    }
    return true;
}

// Skips a zero-terminated header field, appending its first MAX_KEPT_NAME characters to
// `kept` when that is not null; false when the file ends first.
bool NUV_ZIFSTREAM::skip_zero_terminated(std::string* kept)
{
    for (int c = m_file.get(); c != traits_type::eof(); c = m_file.get()) {
        if (c == 0)
            return true;
        if (kept && kept->size() < MAX_KEPT_NAME)
            kept->push_back(static_cast<char>(c));
    }
    return false;
}

// The trailer was taken from the file when the member's deflate data ended.
void NUV_ZIFSTREAM::read_footer()
{
    if (!m_gzip || !m_unzip_buf)
        return;
    if (m_unzip_buf->m_trailer_bytes >= 4)
        m_gzip_crc = m_unzip_buf->m_trailer_crc;
    if (m_unzip_buf->m_trailer_bytes >= GZIP_TRAILER_LENGTH)
        m_gzip_data_size = m_unzip_buf->m_trailer_size;
}

void NUV_ZIFSTREAM::refresh()
{
    m_compressed = m_encrypted = m_gzip = m_sealed = false;
    m_gzip_crc = m_gzip_data_size = 0;
    m_last_error = NUV_ZSTREAM_OK;
    // The buffer's results describe the previous file until it is opened again.
    if (m_unzip_buf)
        m_unzip_buf->reset_results();
}

void NUV_ZIFSTREAM::close_file()
{
    if (!m_file.rdbuf()->close())
        m_file.setstate(std::ios_base::failbit);
}
