// MD5 message digest (RFC 1321) over buffers, strings, stdio files and input streams.
//
// The digest is handed out as 16 raw bytes or as hexadecimal text in one of two forms:
// the current form (32 lowercase digits, two per byte) and the legacy pre-121 form, in
// which every byte is written without a leading zero. The configuration flag
// "use_pre_v12.0_md5_hex_digest", read once per process, makes hex_digest() produce the
// legacy form.
//
// Calling order: construct, update any number of times, finalize once, then read the
// digest any number of times. Constructors that take input update and finalize at once.
// Misuse (update or finalize after finalize, reading before it) prints one debug line and
// changes nothing.
#pragma once

#include <nuv/nuv_export.h>
#include <nuv/nuv_fstream.h>

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>
#include <vector>

/// One MD5 digest: update, finalize once, then read it.
class NUV_EXPORT NUV_MD5 {
public:
    /// Length of a digest text in the current form.
    static const uint64_t LENGTH_OF_WELL_FORMED_DIGEST = 32;

    /// An open digest of nothing, ready for update().
    NUV_MD5();
    /// Digest of `length` bytes at `input`, finalized.
    NUV_MD5(const unsigned char* input, unsigned int length);
    /// Digest of the bytes of a zero-terminated string (terminator excluded), finalized.
    NUV_MD5(const char* string);
    /// Digest of everything left in `file`, finalized; the file is closed afterwards.
    NUV_MD5(FILE* file);
    /// Digest of what `stream` delivers while it is good, finalized; the stream stays open.
    NUV_MD5(std::istream& stream);
    /// Digest of what `stream` delivers while it is good, finalized; the stream stays open.
    NUV_MD5(std::tenvik_ifstream& stream);

    // Copy and move (construction and assignment) copy every member; the source of a
    // move is left as it was.

    /// Digests `length` more bytes at `input`; refused on a finalized digest.
    void update(const unsigned char* input, unsigned int length);
    /// The same bytes as the unsigned overload.
    void update(const char* input, unsigned int length);
    /// Digests `file` to its end in 1024-byte pieces, then closes it. The caller hands the
    /// file over and must not use or close it afterwards; a read error ends the input.
    void update(FILE* file);
    /// Digests `stream` in 1024-byte pieces while it is good; the stream is not closed.
    void update(std::istream& stream);
    /// Same as the std::istream overload.
    void update(std::tenvik_ifstream& stream);
    /// Appends the pad and the bit count and fixes the digest; refused when already done.
    void finalize();

    /// Copies the 16 digest bytes to `out`; false (with a debug line) before finalize().
    bool raw_digest(unsigned char* out) const;
    /// Replaces the content of `*out` by the 16 digest bytes; false before finalize().
    bool raw_digest(std::vector<unsigned char>* out) const;
    /// The digest as text: the current form, or the legacy form when the configuration
    /// flag "use_pre_v12.0_md5_hex_digest" was on at the first call in the process.
    /// False before finalize(); `*out` is only written on success.
    bool hex_digest(std::string* out) const;
    /// The digest in the legacy form: each byte in lowercase hex without a leading zero
    /// (16 to 32 characters). False before finalize().
    bool hex_digest_pre_121(std::string* out) const;
    /// True when `digest` has the length of the current form (32); characters unchecked.
    static bool is_hex_digest_well_formed(const std::string& digest);

private:
    void init();
    void transform(const unsigned char* block);

    uint32_t m_state[4];        ///< Chaining words A to D.
    uint32_t m_count[2];        ///< Bits digested modulo 2^64, low word first.
    unsigned char m_buffer[64]; ///< Bytes of an incomplete block.
    unsigned char m_digest[16]; ///< The digest, once finalized.
    bool m_finalized;           ///< Set by finalize(); update and finalize are then refused.
};

/// Turns a current-form digest text into the legacy form: every two-character pair that
/// starts with '0' loses that '0'. A text that is not 32 characters long is copied
/// unchanged. `digest` and `out` may be the same string.
NUV_EXPORT void nuv_convert_md5_hex_digest_to_pre_121_format(const std::string& digest, std::string& out);
