// The sealed kind's parameters, key derivation and chunk cipher, over libgcrypt; internal to
// the library. The format is documented in nuv_zstream.h.
#pragma once

#include <nuv/nuv_zstream.h>

#include <cstdint>
#include <istream>
#include <memory>

namespace nuv_zstream_detail {

/// Length of the random salt and of the nonce prefix.
const int SEAL_SALT_LENGTH = 16;
const int SEAL_NONCE_PREFIX_LENGTH = 7;
/// Length of each chunk's authentication tag.
const int SEAL_TAG_LENGTH = 16;

/// The key derivations of the parameter block.
enum SEAL_KDF : unsigned char { SEAL_KDF_ARGON2ID = 1, SEAL_KDF_HKDF_SHA256 = 2 };

/// The parameter block after the header.
struct SEAL_PARAMETERS {
    SEAL_KDF kdf = SEAL_KDF_ARGON2ID;
    uint32_t passes = 0;
    uint32_t memory_kib = 0;
    uint32_t lanes = 0;
    unsigned char salt[SEAL_SALT_LENGTH] = {};
    uint32_t chunk_size = NUV_SEALED_CHUNK_SIZE;
    unsigned char nonce_prefix[SEAL_NONCE_PREFIX_LENGTH] = {};

    /// Parameters for a new file sealed as `options` ask, with a fresh salt and nonce
    /// prefix; NUV_ZSTREAM_SEAL_FORMAT_ERROR when it has neither password nor key (or an
    /// empty password, or both) or its cost is outside the limits.
    static NUV_ZSTREAM_ERROR_ENUM choose(const NUV_SEAL_OPTIONS& options, SEAL_PARAMETERS* parameters);
    /// Reads the NUV_SEALED_PREFIX_LENGTH bytes of `prefix` (header included);
    /// NUV_ZSTREAM_SEAL_FORMAT_ERROR for anything this library does not read.
    static NUV_ZSTREAM_ERROR_ENUM parse(const unsigned char* prefix, SEAL_PARAMETERS* parameters);
    /// Writes header and parameter block into the NUV_SEALED_PREFIX_LENGTH bytes at `prefix`.
    void write(unsigned char* prefix) const;
};

/// AES-256-GCM of one file's chunks: the file key, the nonce prefix and the file's prefix
/// as associated data.
class SEAL_CIPHER {
public:
    /// Derives the file key from `secret` (`length` bytes: a password for Argon2id, a raw key
    /// for HKDF) as `parameters` say; `*error` is NUV_ZSTREAM_OK, NUV_ZSTREAM_AUTH_ERROR for
    /// an empty password (no file is sealed with one), or NUV_ZSTREAM_MEM_ERROR when the
    /// derivation or the cipher could not be had; the result is null unless OK.
    static std::unique_ptr<SEAL_CIPHER> create(const SEAL_PARAMETERS& parameters, const void* secret,
                                               size_t length, NUV_ZSTREAM_ERROR_ENUM* error);
    ~SEAL_CIPHER();
    SEAL_CIPHER(const SEAL_CIPHER&) = delete;
    SEAL_CIPHER& operator=(const SEAL_CIPHER&) = delete;

    /// The chunk size of the file.
    uint32_t chunk_size() const { return m_parameters.chunk_size; }
    /// Encrypts chunk `index`'s `length` bytes at `data` in place and appends its tag.
    void seal(uint32_t index, bool last, unsigned char* data, size_t length);
    /// Decrypts chunk `index`: `length` bytes of cipher text at `data`, its tag behind them.
    /// True when the tag verified; the plain text is then at `data`.
    bool open(uint32_t index, bool last, unsigned char* data, size_t length);

private:
    SEAL_CIPHER(const SEAL_PARAMETERS& parameters, void* handle);
    bool start(uint32_t index, bool last);

    SEAL_PARAMETERS m_parameters;
    unsigned char m_prefix[NUV_SEALED_PREFIX_LENGTH];
    void* m_handle; ///< gcry_cipher_hd_t
};

/// Reads a sealed body chunk by chunk and hands out each chunk's plain text once its tag
/// verified.
class SEALED_SOURCE {
public:
    /// Reads from `file`, positioned at the first chunk, with `cipher`.
    SEALED_SOURCE(std::istream& file, std::unique_ptr<SEAL_CIPHER> cipher);
    /// The next verified chunk's plain text at `*data`; 0 at the end of the body or after a
    /// failure (failed() tells).
    size_t next(const unsigned char** data);
    /// A chunk failed its tag: wrong key or altered file.
    bool failed() const { return m_failed; }
    /// The last chunk verified and was handed out.
    bool ended() const { return m_ended; }

private:
    std::istream& m_file;
    std::unique_ptr<SEAL_CIPHER> m_cipher;
    std::unique_ptr<unsigned char[]> m_buffer; ///< A chunk, its tag and one byte read ahead.
    size_t m_ahead = 0;                        ///< Bytes read ahead at the buffer's start.
    uint32_t m_index = 0;
    bool m_failed = false;
    bool m_ended = false;
};

} // namespace nuv_zstream_detail
