// AES block cipher (FIPS-197): 128-bit blocks, 128/192/256-bit keys, ECB, CBC and
// one-bit cipher feedback, whole-block and PKCS #7 padded operations.
//
// One instance holds one expanded key for one direction. The cipher operations never
// change the instance: CBC and CFB1 chains start again from the vector on every call.
// Input and output may be the same buffer in every mode.
//
// Two implementations give bit-identical results: the processor's AES instructions when the
// CPU has them, otherwise portable lookup tables. The choice is made once per process, at
// the first cipher operation; NUV_AES_PORTABLE=1 in the environment at that moment forces
// the portable tables.
#pragma once

#include <nuv/nuv_export.h>

/// One expanded key for one direction and the cipher operations of its mode.
class NUV_EXPORT NUV_AES {
public:
    /// Chaining mode.
    enum MODE { ECB = 0, CBC = 1, CFB1 = 2 };
    /// Direction the key schedule is prepared for.
    enum DIRECTION { ENCRYPT = 0, DECRYPT = 1 };
    /// Key size: 16, 24 or 32 bytes (10, 12 or 14 rounds).
    enum KEY_LENGTH { KEY_128 = 0, KEY_192 = 1, KEY_256 = 2 };

    /// A cipher with no key: every operation returns -5 until init succeeds.
    NUV_AES();

    /// Sets up mode, direction, key and vector (16 bytes, or null for zeros).
    /// Returns 0, or -1 (mode), -2 (direction), -3 (key length), -4 (null key); a failed
    /// init leaves the instance not ready. CFB1 needs ENCRYPT for both directions.
    int init(MODE mode, DIRECTION direction, const unsigned char* key, KEY_LENGTH key_length,
             unsigned char* iv);

    /// Enciphers the whole 16-byte blocks of the input; a trailing partial block is
    /// ignored. Returns the bytes written, 0 for a null input or a length <= 0,
    /// -5 (not ready) or -6 (DECRYPT instance).
    int block_encrypt(const unsigned char* input, int input_bytes, unsigned char* output);

    /// Deciphers the whole 16-byte blocks of the input. Returns the bytes written, 0 for a
    /// null input or a length <= 0, -5 (not ready) or -6 (ENCRYPT instance, except CFB1).
    int block_decrypt(const unsigned char* input, int input_bytes, unsigned char* output);

    /// Enciphers all input bytes plus PKCS #7 padding (ECB or CBC); `output` needs room
    /// for 16 * (input_bytes / 16 + 1) bytes. Returns that count, -1 (CFB1), -5 (not ready
    /// or DECRYPT instance), or 0 without writing for a negative length, a null input with
    /// a positive length, or a length above INT_MAX - 16. A null input with length 0 is fine.
    int pad_encrypt(const unsigned char* input, int input_bytes, unsigned char* output);

    /// Deciphers and strips PKCS #7 padding (ECB or CBC). Returns the plain byte count,
    /// 0 for a null input or a length <= 0, -1 (CFB1), -5 (not ready), -6 (ENCRYPT
    /// instance) or -7 (length not a multiple of 16, or bad padding; the blocks before
    /// the last may already be in `output`).
    int pad_decrypt(const unsigned char* input, int input_bytes, unsigned char* output);

private:
    void key_sched(const unsigned char* key, int key_bytes);
    void key_enc_to_dec();
    const unsigned char* round_keys() const;
    int run_blocks(const unsigned char* input, int input_bytes, unsigned char* output, bool encrypting) const;
    void encrypt(const unsigned char in[16], unsigned char out[16]) const;
    void decrypt(const unsigned char in[16], unsigned char out[16]) const;

    int m_not_ready;
    MODE m_mode;
    DIRECTION m_direction;
    unsigned char m_iv[16];
    int m_rounds;
    /// Round keys 0..m_rounds, four 4-byte words each in FIPS-197 column order; for
    /// DECRYPT rounds 1..m_rounds-1 are put through InvMixColumns. Both implementations
    /// read this same schedule, so a copy works whichever is in use.
    unsigned char m_round_keys[15][4][4];
};
