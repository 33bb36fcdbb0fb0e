// Compressed and encrypted file streams.
//
// NUV_ZOFSTREAM writes a file in one of six container kinds; NUV_ZIFSTREAM reads all six
// back and tells them apart by their first bytes:
//
//   kind                      header (hex)                     body                     trailer
//   plain                     none                             bytes as written         none
//   compressed                AC 0F 01 00 00 00 00 00          zlib stream (RFC 1950)   none
//   compressed and encrypted  AC EF 01 00 00 00 00 00          AES-ECB of a zlib stream none
//   encrypted                 AE 0F 01 00 00 00 00 00          AES-ECB of the bytes     none
//   gzip                      1F 8B 08 00 00 00 00 00 00 0B    raw deflate (RFC 1951)   CRC-32, ISIZE
//   sealed                    AC 5E 01 00 00 00 00 00 + 44     sealed chunks of a zlib  none
//                             bytes of parameters              stream
//
// The two encrypted kinds are kept for the files that exist: their key is the unsalted MD5
// of a password, equal blocks of the body show as equal cipher blocks, and nothing but the
// zlib stream's Adler-32 (which anyone can recompute) checks the data. The sealed kind is
// the one to write when the data must stay secret and unaltered; see "Sealed kind" below.
//
// Cipher text is the payload in independent 16-byte AES-ECB blocks with PKCS #7 padding on
// the last one, so a body is always a non-zero multiple of 16 bytes. The key (16, 24 or 32
// bytes) is stored nowhere: a reader must be given the same key.
//
// Behaviour at the edges (the README says why):
// - compress with level 0 writes stored deflate blocks under the compressed header.
// - gzip framing together with a key is the internal error "Gzip framing cannot be
//   combined with a key".
// - A cipher body that is not a non-zero multiple of 16 bytes delivers its whole blocks,
//   then ends with last_error() at NUV_ZSTREAM_CRYPT_ERROR.
// - get_gzip_crc() and get_gzip_data_size() hold the trailer (the 8 bytes right after the
//   deflate data) once the member was read to its end and the stream closed, else 0;
//   verified_end() compares the trailer with the data.
//
// Sealed kind. All numbers are little-endian; offsets count from the file's first byte.
//
//   offset  size  field
//   0       8     header AC 5E 01 00 00 00 00 00 (NUV_ZSTREAM_SEALED_HEADER)
//   8       1     format version: 1
//   9       1     key derivation: 1 Argon2id from a password, 2 HKDF-SHA-256 from a 32-byte key
//   10      1     AEAD: 1 AES-256-GCM
//   11      1     0
//   12      4     Argon2id passes t        (0 with HKDF)
//   16      4     Argon2id memory m in KiB (0 with HKDF)
//   20      4     Argon2id lanes p         (0 with HKDF)
//   24      16    salt, random per file
//   40      4     chunk size C: bytes of zlib stream per chunk (the writer uses 65536)
//   44      7     nonce prefix, random per file
//   51      1     0
//   52      ...   chunks
//
// The 32-byte file key is Argon2id (RFC 9106, version 0x13) of the password bytes with
// the salt, t, m and p above and a 32-byte tag, no secret and no associated data; or HKDF
// (RFC 5869) with SHA-256 of the 32-byte key with the salt and info "nuv sealed v1" (13
// bytes). The body is one zlib stream (RFC 1950) cut into chunks of C bytes, the last
// holding the remaining 1 to C bytes. Chunk i (counted from 0) is stored as its
// AES-256-GCM cipher text followed by the 16-byte tag. Its 12-byte nonce is the 7-byte
// nonce prefix, then i as 4 bytes big-endian, then one byte: 1 for the last chunk, else 0;
// its associated data is the file's first 52 bytes. So a file cut at a chunk boundary,
// chunks reordered, repeated or taken from another file, and any altered bit fail a tag.
// The file ends with the last chunk.
//
// A reader refuses (NUV_ZSTREAM_SEAL_FORMAT_ERROR) other versions and algorithms, the two
// zero bytes set, Argon2id fields that are not 0 with HKDF, C outside 1024 to 1048576
// (inclusive), and costs a writer may not choose either (see NUV_SEAL_OPTIONS): those
// would take more than 1 GiB of memory or about an hour. It
// delivers the bytes of a chunk only after its tag verified; the first chunk that fails
// ends the data with NUV_ZSTREAM_AUTH_ERROR, which a wrong password and an altered file
// give alike.
//
// Examples: examples/pack_file.cpp, examples/read_lines.cpp, examples/write_container.cpp
#pragma once

#include <nuv/nuv_export.h>
#include <nuv/nuv_fstream.h>

#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

class NUV_AES;
// zlib's stream state and the reader's decoder; the stream buffers hold them by pointer, so
// clients need neither zlib nor ISA-L.
struct z_stream_s;
namespace nuv_zstream_detail {
class NUV_INFLATER;
class BODY_ENCODER;
class SEAL_CIPHER;
class SEALED_SOURCE;
} // namespace nuv_zstream_detail

/// Size of the compressed-side buffer and of the cipher buffer; the reader reads the file in
/// pieces of this size.
inline constexpr int NUV_ZSTREAM_DEFAULT_BUFSZ = 32768;
/// Size of the uncompressed-side buffer (the writer's put area, the reader's get area).
inline constexpr int NUV_ZSTREAM_PLAIN_BUFSZ = 524288;
/// Cipher block size: the most bytes of an incomplete block carried between two steps.
inline constexpr int NUV_MIN_ENCR_BLOCK_SIZE = 16;
/// Input bytes per piece of parallel deflate (see nuv_set_deflate_threads): one put area.
inline constexpr int NUV_DEFLATE_PIECE_SIZE = NUV_ZSTREAM_PLAIN_BUFSZ;

/// Lets writers opened from now on deflate on `threads` worker threads of their own; 0 or 1
/// (the default) deflates on the writing thread as one zlib stream, values above 64 count
/// as 64. Applies to the compressed kinds (zlib-wrapped, gzip, compressed and encrypted)
/// of NUV_ZOFSTREAM and nuv_encrypt_and_compress_file; each open reads the setting once,
/// so a writer keeps its mode until closed. Safe to call from any thread.
///
/// The body is then cut into pieces of NUV_DEFLATE_PIECE_SIZE input bytes (a flush() ends
/// the current piece early). Each piece is deflated with the 32 KiB of input before it as
/// dictionary and ends on a sync flush, the last with the final block; the pieces are
/// joined in order into one zlib stream or gzip member, with the Adler-32 or CRC-32
/// combined from the pieces'. Any zlib or gzip reader decodes it. The bytes depend on the
/// piece boundaries only, never on the thread count, but differ from the one-stream bytes
/// (by a few bytes per piece). Each writer holds at most two pieces in flight per thread
/// besides the one being filled (about 1.1 MiB each) and a deflate state per thread
/// (about 268 KiB). A worker that cannot get memory ends the process through
/// out_of_memory_handler() on the writing thread, as the one-stream deflate does.
NUV_EXPORT void nuv_set_deflate_threads(int threads);
/// The current setting of nuv_set_deflate_threads (0 unless set).
NUV_EXPORT int nuv_deflate_threads();

/// Header of the compressed kind.
inline constexpr unsigned char NUV_ZSTREAM_ZIP_HEADER[8] = {0xAC, 0x0F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
/// Header of the compressed-and-encrypted kind.
inline constexpr unsigned char NUV_ZSTREAM_ZIP_CRYPT_HEADER[8] = {0xAC, 0xEF, 0x01, 0x00,
                                                                  0x00, 0x00, 0x00, 0x00};
/// Header of the encrypted kind.
inline constexpr unsigned char NUV_ZSTREAM_CRYPT_HEADER[8] = {0xAE, 0x0F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
/// gzip member header as written: deflate, no flags, MTIME 0, XFL 0, OS 11.
inline constexpr unsigned char NUV_ZSTREAM_GZIP_HEADER[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00,
                                                              0x00, 0x00, 0x00, 0x00, 0x0B};

/// Header of the sealed kind; NUV_SEALED_PREFIX_LENGTH bytes of header and parameters
/// come before its first chunk.
inline constexpr unsigned char NUV_ZSTREAM_SEALED_HEADER[8] = {0xAC, 0x5E, 0x01, 0x00,
                                                               0x00, 0x00, 0x00, 0x00};
/// Bytes of header and parameter block of a sealed file, the associated data of each chunk.
inline constexpr int NUV_SEALED_PREFIX_LENGTH = 52;
/// Bytes of zlib stream per chunk that the writer seals.
inline constexpr int NUV_SEALED_CHUNK_SIZE = 65536;
/// Length of a raw sealing key and of the file key derived from a password or a raw key.
inline constexpr int NUV_SEALED_KEY_LENGTH = 32;
/// The most Argon2id memory a sealed file may ask for, in KiB: 1 GiB.
inline constexpr uint32_t NUV_SEALED_MOST_MEMORY_KIB = 1u << 20;
/// The most Argon2id passes; with the most memory, 1 TiB of memory passes: about an hour
/// on one core of a slow machine.
inline constexpr uint32_t NUV_SEALED_MOST_PASSES = 1024;
/// The most Argon2id lanes.
inline constexpr uint32_t NUV_SEALED_MOST_LANES = 64;

/// How NUV_ZOFSTREAM seals a file: with a password or a raw key, and the Argon2id cost of a
/// password. The cost defaults are RFC 9106's second recommendation (t=3, 64 MiB, p=4);
/// a valid cost has 1 <= passes <= NUV_SEALED_MOST_PASSES, 1 <= lanes <=
/// NUV_SEALED_MOST_LANES and 8 * lanes <= memory_kib <= NUV_SEALED_MOST_MEMORY_KIB.
/// Readers take the cost from the file.
struct NUV_SEAL_OPTIONS {
    /// Zero-terminated password (UTF-8, not empty); the key derivation is Argon2id.
    const char* password = nullptr;
    /// NUV_SEALED_KEY_LENGTH secret random bytes, used when `password` is null; the
    /// derivation is HKDF-SHA-256 with the file's salt, fast since the key is not guessable.
    const unsigned char* key = nullptr;
    uint32_t passes = 3;         ///< Argon2id t.
    uint32_t memory_kib = 65536; ///< Argon2id m, in KiB.
    uint32_t lanes = 4;          ///< Argon2id p.
    int level = -1;              ///< zlib level of the body: -1 default, 0 stored blocks, 1 to 9.
};

/// What last_error() of either stream reports.
enum NUV_ZSTREAM_ERROR_ENUM {
    NUV_ZSTREAM_OK = 0,            ///< No error (also plain files and unopened streams).
    NUV_ZSTREAM_STREAM_ERROR = 1,  ///< zlib Z_STREAM_ERROR.
    NUV_ZSTREAM_DATA_ERROR = 2,    ///< zlib Z_DATA_ERROR.
    NUV_ZSTREAM_MEM_ERROR = 3,     ///< zlib Z_MEM_ERROR.
    NUV_ZSTREAM_BUF_ERROR = 4,     ///< zlib Z_BUF_ERROR.
    NUV_ZSTREAM_VERSION_ERROR = 5, ///< zlib Z_VERSION_ERROR.
    NUV_ZSTREAM_NO_KEY = 6,        ///< Encrypted container opened for reading without a key.
    NUV_ZSTREAM_CRYPT_ERROR = 7,   ///< The cipher failed (bad padding, damaged cipher text).
    NUV_ZSTREAM_AUTH_ERROR = 8,    ///< Sealed kind: wrong password or key, or the file was altered.
    NUV_ZSTREAM_UNKNOWN_ERROR = 9, ///< Any other zlib code that is not Z_OK or Z_STREAM_END.
    /// Sealed kind: a version, algorithm or cost this library does not read or write, or
    /// the writer given no password (or an empty one) and no key.
    NUV_ZSTREAM_SEAL_FORMAT_ERROR = 10
};

/// A sentence describing `error` for messages, for example "the compressed data is
/// invalid" for NUV_ZSTREAM_DATA_ERROR; "unknown error" for a value outside the enumeration.
NUV_EXPORT const char* nuv_zstream_error_text(NUV_ZSTREAM_ERROR_ENUM error);

/// The container kinds, as NUV_ZIFSTREAM::kind() reports the kind of a file.
enum NUV_ZSTREAM_KIND {
    NUV_ZSTREAM_KIND_PLAIN = 0,                ///< No header: the bytes as written.
    NUV_ZSTREAM_KIND_COMPRESSED = 1,           ///< NUV_ZSTREAM_ZIP_HEADER, a zlib stream.
    NUV_ZSTREAM_KIND_COMPRESSED_ENCRYPTED = 2, ///< NUV_ZSTREAM_ZIP_CRYPT_HEADER.
    NUV_ZSTREAM_KIND_ENCRYPTED = 3,            ///< NUV_ZSTREAM_CRYPT_HEADER.
    NUV_ZSTREAM_KIND_GZIP = 4,                 ///< A gzip member (RFC 1952).
    NUV_ZSTREAM_KIND_SEALED = 5                ///< NUV_ZSTREAM_SEALED_HEADER, sealed chunks.
};

/// Which inflate implementation a reader decodes the compressed kinds with. Both deliver the
/// same bytes and report the same last_error() for any input; ISA-L's is several times
/// faster.
enum NUV_INFLATE_ENGINE {
    NUV_INFLATE_FASTEST = 0, ///< ISA-L when the library was built with it, else zlib (default).
    NUV_INFLATE_ZLIB = 1,    ///< zlib's inflate.
    NUV_INFLATE_ISAL = 2     ///< ISA-L's isal_inflate; zlib in a build without ISA-L.
};

/// Stream buffer of NUV_ZOFSTREAM: collects written bytes in a 512 KiB put area and drains
/// them through deflate and/or AES-ECB into the owning stream's file. With parallel deflate
/// (nuv_set_deflate_threads) it owns the worker threads from open to close, and the put
/// area is the piece being filled.
class NUV_EXPORT NUV_ZIP_STREAMBUF : public std::basic_streambuf<char> {
public:
    /// Not opened; no buffers yet.
    NUV_ZIP_STREAMBUF();
    /// Closes, releasing the buffers.
    virtual ~NUV_ZIP_STREAMBUF();
    NUV_ZIP_STREAMBUF(const NUV_ZIP_STREAMBUF&) = delete;
    NUV_ZIP_STREAMBUF& operator=(const NUV_ZIP_STREAMBUF&) = delete;

    /// Starts a body on `os`: `level` 0 means no compression, `key` null no encryption;
    /// `window_bits` 15 gives a zlib stream, -15 raw deflate. Parallel deflate when the
    /// setting asks for more than one thread and the level is valid.
    void open(std::ostream* os, const unsigned char* key, int key_length, int level, int window_bits);
    /// Ends the zlib state and joins the worker threads; `free_buffers` also releases the
    /// buffers and the cipher.
    void close(bool free_buffers);
    /// Drains the put area with a zlib flush mode: Z_SYNC_FLUSH, or Z_FINISH to end the body.
    /// With parallel deflate it waits for every piece and writes them in order.
    void flush(int flush_mode);

    /// zlib allocation callback of both stream buffers: items * size bytes (8 when 0),
    /// zero-filled; out_of_memory_handler() when memory cannot be had.
    static void* zstream_alloc(void* opaque, unsigned items, unsigned size);
    /// zlib release callback: free().
    static void zstream_free(void* opaque, void* address);

protected:
    /// Drains the full put area into the body; eof when the stream is not open or a step failed.
    int overflow(int c) override;
    /// A writing buffer has nothing to read: 0.
    int underflow() override;
    /// flush(Z_SYNC_FLUSH); failures show in last_error() and the file's state, not here.
    int sync() override;

private:
    friend class NUV_ZOFSTREAM;

    void start(std::ostream* os, const unsigned char* key, int key_length, int level, int window_bits,
               nuv_zstream_detail::SEAL_CIPHER* seal);
    void restart_put_area();

    std::ostream* m_ostream;
    z_stream_s* m_zip_state;
    int m_zip_status;
    int m_crypt_status;
    char* m_write_buffer;
    char* m_zipped_buffer;
    unsigned char* m_crypt_buffer;
    bool m_zip;
    bool m_crypt;
    NUV_AES* m_aes;
    uint32_t m_crc;
    bool m_opened;
    int m_crypt_leftover;
    /// How the put area becomes the body (one zlib stream, parallel deflate or cipher only),
    /// chosen at open; null while closed.
    nuv_zstream_detail::BODY_ENCODER* m_body;
};

/// Output file stream writing plain files or containers; used like a std::ofstream.
class NUV_EXPORT NUV_ZOFSTREAM : public std::basic_ostream<char> {
public:
    /// A closed stream; with a file name, open(filename, mode): compressed, default level.
    NUV_ZOFSTREAM(const char* filename = nullptr, int mode = std::ios_base::out | std::ios_base::binary);
    /// With a file name, open(filename, mode, compress, key, key_length, -1, false).
    NUV_ZOFSTREAM(const char* filename, int mode, bool compress, const unsigned char* key, int key_length);
    /// Finishes and closes an open file as close(true) does.
    virtual ~NUV_ZOFSTREAM();
    NUV_ZOFSTREAM(const NUV_ZOFSTREAM&) = delete;
    NUV_ZOFSTREAM& operator=(const NUV_ZOFSTREAM&) = delete;

    /// open(filename, mode, true, nullptr, 16, -1, false).
    void open(const char* filename, int mode);
    /// Creates `filename`. `mode` (must not contain in) is used only for plain files;
    /// containers are always created anew in binary mode. `compress` runs zlib at `level`
    /// (-1 default, 0 stored blocks, 1 to 9, above 9 as 9) as a zlib stream, or as a gzip
    /// member with `gzip`; without `compress`, `level` and `gzip` are ignored. `key`
    /// (`key_length` 16, 24 or 32 bytes) encrypts with AES-ECB; a key together with gzip
    /// framing is an internal error. A file that cannot be created leaves the stream failed.
    void open(const char* filename, int mode, bool compress, const unsigned char* key, int key_length,
              int level, bool gzip);
    /// Creates `filename` as a sealed container: derives the file key from `seal`'s password
    /// (Argon2id at its cost; about 0.4 s of CPU at the default cost, its four lanes on
    /// threads of their own) or key, then deflates at its level and seals each chunk. Without a password or
    /// key, or with a cost outside the limits, no file is created: the stream is failed and
    /// last_error() is NUV_ZSTREAM_SEAL_FORMAT_ERROR (NUV_ZSTREAM_MEM_ERROR when Argon2id
    /// cannot have its memory). Deflates on worker threads as the other kinds do.
    void open(const char* filename, const NUV_SEAL_OPTIONS& seal);
    /// close(false).
    void close();
    /// Finishes the container (zlib end, padding, last sealed chunk, gzip trailer) and closes the file;
    /// `free_buffers` also releases the stream buffer's memory. Afterwards writes fail with
    /// badbit, and flush() of a container stream is the internal error
    /// "Trying to flush closed buffer".
    void close(bool free_buffers);
    /// Nonzero while a file is open.
    int is_open() const;
    /// Inserts '\n' as a formatted character (width and fill honoured) without flushing.
    static std::ostream& endl(std::ostream& os);
    /// zlib or cipher failure of the current container; NUV_ZSTREAM_OK for plain files.
    NUV_ZSTREAM_ERROR_ENUM last_error();

private:
    void check_closed(const char* filename);
    void add_header(bool compress, bool encrypt, bool gzip);
    NUV_ZOFSTREAM& add_footer();

    NUV_ZIP_STREAMBUF* m_zip_buf;
    std::tenvik_ofstream m_file;
    bool m_gzip;
};

/// Stream buffer of NUV_ZIFSTREAM: deciphers and/or inflates a container body into a
/// 512 KiB get area.
class NUV_EXPORT NUV_UNZIP_STREAMBUF : public std::basic_streambuf<char> {
public:
    /// Not opened; no buffers yet.
    NUV_UNZIP_STREAMBUF();
    /// Closes, releasing the buffers.
    virtual ~NUV_UNZIP_STREAMBUF();
    NUV_UNZIP_STREAMBUF(const NUV_UNZIP_STREAMBUF&) = delete;
    NUV_UNZIP_STREAMBUF& operator=(const NUV_UNZIP_STREAMBUF&) = delete;

    /// Starts reading a body from `source`: `zipped` inflates with `window_bits` (15 zlib,
    /// -15 raw deflate), `key` (16, 24 or 32 bytes) deciphers first.
    void open(std::istream* source, const unsigned char* key, int key_length, bool zipped, int window_bits);
    /// Stops reading, keeping the decoder for the next body; `free_buffers` also releases
    /// the buffers, the decoder and the cipher.
    void close(bool free_buffers);

protected:
    /// A reading buffer takes no writes: 0.
    int overflow(int c) override;
    /// Refills the get area with the next deciphered and/or inflated bytes; eof at the end of
    /// the body, after an error, or when not open.
    int underflow() override;

private:
    friend class NUV_ZIFSTREAM;

    void open_sealed(std::istream* source, nuv_zstream_detail::SEAL_CIPHER* cipher);
    int decompress_buffer(char* out);
    unsigned inflate_into(char* out, unsigned room);
    unsigned redecode_with_zlib(char* out, uint64_t delivered);
    void fill_zipped_buffer();
    int fill_cryptic_buffer(char* out, unsigned bufsz);
    bool read_piece();
    void reset_results();
    bool finish_zip_body();
    bool read_gzip_trailer();
    bool nothing_after_zip_body();

    std::istream* m_istream;
    /// The decoder, kept from one file to the next while its engine stays the same.
    nuv_zstream_detail::NUV_INFLATER* m_inflater;
    /// The engine the next open() decodes with.
    NUV_INFLATE_ENGINE m_engine;
    /// Where the body starts in the file and its framing, to decode it again with zlib.
    std::streampos m_body_start;
    int m_window_bits;
    int m_zip_status;
    int m_crypt_status;
    char* m_read_buffer;
    char* m_zipped_buffer;
    char* m_crypt_buffer;
    bool m_zip;
    bool m_crypt;
    NUV_AES* m_aes;
    bool m_opened;
    char* m_crypt_next_in;
    int m_crypt_avail_in;
    /// 0, or the one block kept back from the last piece read, at m_crypt_next_in once the
    /// piece is deciphered: it may be the padded final block.
    int m_crypt_held;
    /// The padded final block has been read (or the body was found damaged).
    bool m_crypt_ended;
    /// The body is a gzip member's raw deflate data, followed by its trailer.
    bool m_gzip;
    /// Running CRC-32 of the inflated bytes of a gzip member.
    uint32_t m_crc;
    /// The gzip trailer (CRC-32, ISIZE) and how many of its 8 bytes could be read.
    uint32_t m_trailer_crc;
    uint32_t m_trailer_size;
    int m_trailer_bytes;
    /// The body ended at its check value with nothing after it.
    bool m_end_verified;
    /// The chunks of a sealed body, null for the other kinds.
    nuv_zstream_detail::SEALED_SOURCE* m_sealed;
};

/// Input file stream reading every container kind and plain files.
class NUV_EXPORT NUV_ZIFSTREAM : public std::basic_istream<char> {
public:
    /// A closed stream; with a file name, open(filename, mode, key, key_length).
    NUV_ZIFSTREAM(const char* filename = nullptr, int mode = std::ios_base::in | std::ios_base::binary,
                  const unsigned char* key = nullptr, int key_length = 16);
    /// Closes an open file as close(true) does.
    virtual ~NUV_ZIFSTREAM();
    NUV_ZIFSTREAM(const NUV_ZIFSTREAM&) = delete;
    NUV_ZIFSTREAM& operator=(const NUV_ZIFSTREAM&) = delete;

    /// Opens `filename` and recognises its kind. `mode` is used only for plain files; `key`
    /// only for encrypted containers (one without a key delivers nothing and last_error()
    /// is NUV_ZSTREAM_NO_KEY). A missing file leaves the stream failed. For a sealed file
    /// `key` is the password's `key_length` bytes (no terminator) or the 32-byte raw key,
    /// whichever the file was sealed with; the open derives the file key (Argon2id at the
    /// file's cost for a password). A file whose parameters this library refuses delivers
    /// nothing, with last_error() NUV_ZSTREAM_SEAL_FORMAT_ERROR.
    void open(const char* filename, int mode, const unsigned char* key, int key_length);
    /// close(false).
    void close();
    /// Closes the file (reading the gzip trailer first); `free_buffers` also releases the
    /// stream buffer's memory. Kind flags and last_error() keep describing the file.
    void close(bool free_buffers);
    /// Nonzero while a file is open.
    int is_open() const;
    /// The last file was a gzip member.
    bool is_gzip() const;
    /// CRC-32 from the gzip trailer; 0 until read (see the header comment).
    unsigned long get_gzip_crc() const;
    /// ISIZE from the gzip trailer; 0 until read.
    unsigned long get_gzip_data_size() const;
    /// True for the compressed, compressed-and-encrypted, encrypted, gzip and sealed kinds.
    /// While a file is open (or with a null name) answers for the open file.
    bool is_zstream(const char* filename);
    /// True for the two encrypted kinds and the sealed kind; same rules as is_zstream.
    bool is_encrypted(const char* filename);
    /// The stream's own error, else a cipher error, else the zlib error of the last file.
    NUV_ZSTREAM_ERROR_ENUM last_error();

    /// The kind found by the last header test (open, is_zstream, is_encrypted); it stays
    /// after close(), like is_gzip().
    NUV_ZSTREAM_KIND kind() const;
    /// Bytes of container header before the body: 0 (plain), 8, or the whole gzip member
    /// header with its optional fields.
    int header_length() const;
    /// The original file name stored in a gzip member header (FNAME), empty when absent.
    const std::string& gzip_name() const;
    /// Chooses the decoder of the files opened from now on (NUV_INFLATE_FASTEST until set).
    void set_inflate_engine(NUV_INFLATE_ENGINE engine);
    /// The engine those files are decoded with: NUV_INFLATE_ZLIB or NUV_INFLATE_ISAL, the
    /// choice resolved against what the library was built with.
    NUV_INFLATE_ENGINE inflate_engine() const;
    /// True once the body has been read to its end and that end checks out: the zlib
    /// stream's end with its Adler-32 (compressed kinds), the trailer's CRC-32 and size
    /// matching the data (gzip), the padded final block (encrypted), the last chunk's tag
    /// with the zlib stream ending in it (sealed), with nothing after it in the file. False before that, for
    /// damaged or cut files, for trailing data and for plain files, which carry no check. A cut zlib stream
    /// ends the data like a complete one with last_error() at NUV_ZSTREAM_OK: this is what tells them apart.
    bool verified_end() const;

private:
    bool test_header(const unsigned char* bytes, int count);
    bool read_header(const char* filename);
    void open_sealed(const unsigned char* key, int key_length);
    bool skip_gzip_header();
    bool skip_zero_terminated(std::string* kept);
    void read_footer();
    void refresh();
    void close_file();

    NUV_UNZIP_STREAMBUF* m_unzip_buf;
    std::tenvik_ifstream m_file;
    bool m_compressed;
    bool m_encrypted;
    bool m_gzip;
    bool m_sealed; // in the padding before m_gzip_crc: the class keeps its size and offsets
    uint32_t m_gzip_crc;
    uint32_t m_gzip_data_size;
    NUV_ZSTREAM_ERROR_ENUM m_last_error;
    int m_header_length;
    std::string m_gzip_name;
    NUV_INFLATE_ENGINE m_engine;
};

// Whole-file functions (compress, encrypt, decrypt, probe) and the pieces they are built
// from, for callers who drive the streams themselves.

/// Length of the AES key derived from a password.
inline constexpr int NUV_PASSWORD_KEY_LENGTH = 16;

/// The AES-128 key of password-protected files: the MD5 digest of the zero-terminated
/// `password` (terminator excluded), written to the 16 bytes at `key`.
NUV_EXPORT void nuv_key_from_password(const char* password, unsigned char* key);

/// Called by nuv_copy_stream after every piece with the number of bytes copied so far.
typedef std::function<void(uint64_t bytes_copied)> NUV_COPY_PROGRESS;

/// Copies `source` into `destination` in pieces of NUV_ZSTREAM_DEFAULT_BUFSZ bytes until
/// the source reaches end of file, calling `progress` (when set) after each piece. False
/// when either stream reports badbit, or when the source stops delivering without reaching
/// end of file (a stream whose file did not open), which would otherwise never end. A
/// source already at end of file copies nothing and gives true.
NUV_EXPORT bool nuv_copy_stream(std::istream& source, std::ostream& destination,
                                const NUV_COPY_PROGRESS& progress = NUV_COPY_PROGRESS());

/// Copies the file `input_filename` into a container `output_filename`: compressed (zlib,
/// default level) when `compress` is set, and encrypted with AES-128 under the MD5 digest of
/// `password` when it is not null; neither gives a plain copy. `binary` opens the input in
/// binary mode, else in text mode (no translation on Linux). True when the whole input was
/// copied without a stream reporting badbit; a missing input gives false and no output file.
/// No output is ever removed: after a failure a partial file may remain. Deflates on worker
/// threads when nuv_set_deflate_threads() asks for them.
NUV_EXPORT bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                              const char* password, bool compress, bool binary);
/// The same with `key`: 16 raw AES-128 key bytes, or null for no encryption. The password
/// overload derives its key with nuv_key_from_password() and calls this one.
NUV_EXPORT bool nuv_encrypt_and_compress_file(const char* input_filename, const char* output_filename,
                                              const unsigned char* key, bool compress, bool binary);
/// Reads the container (or plain file) `input_filename` to its end into `output_filename`,
/// deciphering with the MD5 digest of `password` when it is not null (a sealed file takes
/// the password itself). `binary` opens the
/// output in binary mode, else in text mode. False when the output cannot be created, the
/// input cannot be opened, an encrypted container comes without a password, or a stream
/// reports badbit. A wrong password or a damaged container ends the data early like the end
/// of the file: the result is then true and the output holds what was decoded before the
/// error (read through NUV_ZIFSTREAM and check last_error() and verified_end() where that
/// matters).
NUV_EXPORT bool nuv_decrypt_and_decompress_file(const char* input_filename, const char* output_filename,
                                                const char* password, bool binary);
/// Seals the file `input_filename` into `output_filename` (NUV_ZOFSTREAM::open with
/// `seal`). True when the whole input was read and the container finished; otherwise false
/// with no output left behind (a missing input creates none).
NUV_EXPORT bool nuv_seal_file(const char* input_filename, const char* output_filename,
                              const NUV_SEAL_OPTIONS& seal);
/// Reads the sealed file `input_filename` with `seal`'s password or key (its cost and level
/// are not used: the file's own apply) into `output_filename`. True only when the file was
/// read to its verified end; otherwise false with no output left behind, and `error`, when
/// not null, says why: NUV_ZSTREAM_AUTH_ERROR for a wrong password or an altered file,
/// NUV_ZSTREAM_SEAL_FORMAT_ERROR for a file of another kind, NUV_ZSTREAM_OK when a file
/// could not be opened, created or written.
NUV_EXPORT bool nuv_unseal_file(const char* input_filename, const char* output_filename,
                                const NUV_SEAL_OPTIONS& seal, NUV_ZSTREAM_ERROR_ENUM* error = nullptr);
/// True when the file starts with one of the five container headers (compressed,
/// compressed and encrypted, encrypted, gzip, sealed); false for other files, missing
/// files and null.
NUV_EXPORT bool nuv_is_file_compressed(const char* filename);
/// True when the file starts with the compressed-and-encrypted, the encrypted or the
/// sealed header.
NUV_EXPORT bool nuv_is_file_encrypted(const char* filename);
