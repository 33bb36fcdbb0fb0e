// Table-driven AES (FIPS-197) with ECB, CBC and CFB1 chaining and PKCS #7 padding. The bulk
// work goes through one set of kernels chosen once per process: the portable tables below,
// or the processor's AES instructions (nuv_aes_ni.cpp) when the CPU has them.
#include <nuv/nuv_aes.h>
#include "nuv_aes_kernels.h"

#include <host/host_services.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t xtime(uint8_t x)
{
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr uint8_t gf_mul(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    for (; b != 0; b >>= 1, a = xtime(a))
        if (b & 1)
            product ^= a;
    return product;
}

// A column of four bytes as a 32-bit word, byte 0 (row 0) lowest: loading four bytes of a
// block or round key in memory order gives this word on a little-endian machine, so the
// rounds need no byte swapping.
constexpr uint32_t word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return b0 | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

// Moves every byte of a column one row down (row 3 wraps to row 0).
constexpr uint32_t rotate_down(uint32_t w)
{
    return (w << 8) | (w >> 24);
}

// Every constant table of the cipher, computed from the field arithmetic at compile time.
struct AES_TABLES {
    uint8_t sbox[256] = {};
    uint8_t inv_sbox[256] = {};
    uint32_t rcon[30] = {};
    uint32_t te[4][256] = {};  // SubBytes + MixColumns of the byte in row r, one table per row
    uint32_t td[4][256] = {};  // InvSubBytes + InvMixColumns
    uint32_t imc[4][256] = {}; // InvMixColumns of one byte, for the decryption schedule
};

constexpr AES_TABLES make_tables()
{
    AES_TABLES t;
    // Powers and logarithms of the generator 3, so that inverses cost one lookup each.
    uint8_t power[255] = {};
    uint8_t log[256] = {};
    uint8_t p = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = p;
        log[p] = static_cast<uint8_t>(i);
        p = static_cast<uint8_t>(p ^ xtime(p));
    }
    // S-box: multiplicative inverse in GF(2^8) followed by the affine transform.
    for (int x = 0; x < 256; ++x) {
        uint8_t inverse = x == 0 ? 0 : power[(255 - log[x]) % 255];
        uint8_t s = inverse;
        for (int shift = 1; shift <= 4; ++shift)
            s ^= static_cast<uint8_t>((inverse << shift) | (inverse >> (8 - shift)));
        s ^= 0x63;
        t.sbox[x] = s;
        t.inv_sbox[s] = static_cast<uint8_t>(x);
    }
    uint8_t rc = 1;
    for (auto& r : t.rcon) {
        r = rc;
        rc = xtime(rc);
    }
    for (int x = 0; x < 256; ++x) {
        uint8_t s = t.sbox[x];
        uint8_t b = static_cast<uint8_t>(x);
        uint8_t is = t.inv_sbox[x];
        uint32_t te0 = word(gf_mul(s, 2), s, s, gf_mul(s, 3));
        uint32_t td0 = word(gf_mul(is, 14), gf_mul(is, 9), gf_mul(is, 13), gf_mul(is, 11));
        uint32_t imc0 = word(gf_mul(b, 14), gf_mul(b, 9), gf_mul(b, 13), gf_mul(b, 11));
        for (int row = 0; row < 4; ++row) {
            t.te[row][x] = te0;
            t.td[row][x] = td0;
            t.imc[row][x] = imc0;
            te0 = rotate_down(te0);
            td0 = rotate_down(td0);
            imc0 = rotate_down(imc0);
        }
    }
    return t;
}

constexpr AES_TABLES s_tables = make_tables();

inline uint32_t load_word(const unsigned char* p)
{
    return word(p[0], p[1], p[2], p[3]);
}

inline void store_word(unsigned char* p, uint32_t w)
{
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

inline uint8_t byte_of(uint32_t w, int row)
{
    return static_cast<uint8_t>(w >> (8 * row));
}

inline uint32_t sub_word(uint32_t w)
{
    const uint8_t* s = s_tables.sbox;
    return word(s[byte_of(w, 0)], s[byte_of(w, 1)], s[byte_of(w, 2)], s[byte_of(w, 3)]);
}

inline void xor_block(unsigned char* dst, const unsigned char* a, const unsigned char* b)
{
    for (int i = 0; i < 16; ++i)
        dst[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

// One block through the cipher. Column c of the next state takes row r from column
// c + r (ShiftRows); the whole input is read before the output is written.
void portable_encrypt(const unsigned char* round_keys, int rounds, const unsigned char* in,
                      unsigned char* out)
{
    const auto& te = s_tables.te;
    const uint8_t* s = s_tables.sbox;
    const unsigned char* rk = round_keys;
    uint32_t x0 = load_word(in) ^ load_word(rk), x1 = load_word(in + 4) ^ load_word(rk + 4);
    uint32_t x2 = load_word(in + 8) ^ load_word(rk + 8), x3 = load_word(in + 12) ^ load_word(rk + 12);
    for (int r = 1; r < rounds; ++r) {
        rk += 16;
        uint32_t y0 = te[0][byte_of(x0, 0)] ^ te[1][byte_of(x1, 1)] ^ te[2][byte_of(x2, 2)] ^
                      te[3][byte_of(x3, 3)] ^ load_word(rk);
        uint32_t y1 = te[0][byte_of(x1, 0)] ^ te[1][byte_of(x2, 1)] ^ te[2][byte_of(x3, 2)] ^
                      te[3][byte_of(x0, 3)] ^ load_word(rk + 4);
        uint32_t y2 = te[0][byte_of(x2, 0)] ^ te[1][byte_of(x3, 1)] ^ te[2][byte_of(x0, 2)] ^
                      te[3][byte_of(x1, 3)] ^ load_word(rk + 8);
        uint32_t y3 = te[0][byte_of(x3, 0)] ^ te[1][byte_of(x0, 1)] ^ te[2][byte_of(x1, 2)] ^
                      te[3][byte_of(x2, 3)] ^ load_word(rk + 12);
        x0 = y0, x1 = y1, x2 = y2, x3 = y3;
    }
    rk += 16;
    store_word(out, word(s[byte_of(x0, 0)], s[byte_of(x1, 1)], s[byte_of(x2, 2)], s[byte_of(x3, 3)]) ^
                        load_word(rk));
    store_word(out + 4, word(s[byte_of(x1, 0)], s[byte_of(x2, 1)], s[byte_of(x3, 2)], s[byte_of(x0, 3)]) ^
                            load_word(rk + 4));
    store_word(out + 8, word(s[byte_of(x2, 0)], s[byte_of(x3, 1)], s[byte_of(x0, 2)], s[byte_of(x1, 3)]) ^
                            load_word(rk + 8));
    store_word(out + 12, word(s[byte_of(x3, 0)], s[byte_of(x0, 1)], s[byte_of(x1, 2)], s[byte_of(x2, 3)]) ^
                             load_word(rk + 12));
}

// The equivalent inverse cipher: round keys from the last down to 0, InvShiftRows taking
// row r of column c from column c - r.
void portable_decrypt(const unsigned char* round_keys, int rounds, const unsigned char* in,
                      unsigned char* out)
{
    const auto& td = s_tables.td;
    const uint8_t* s = s_tables.inv_sbox;
    const unsigned char* rk = round_keys + 16 * rounds;
    uint32_t x0 = load_word(in) ^ load_word(rk), x1 = load_word(in + 4) ^ load_word(rk + 4);
    uint32_t x2 = load_word(in + 8) ^ load_word(rk + 8), x3 = load_word(in + 12) ^ load_word(rk + 12);
    for (int r = rounds - 1; r > 0; --r) {
        rk -= 16;
        uint32_t y0 = td[0][byte_of(x0, 0)] ^ td[1][byte_of(x3, 1)] ^ td[2][byte_of(x2, 2)] ^
                      td[3][byte_of(x1, 3)] ^ load_word(rk);
        uint32_t y1 = td[0][byte_of(x1, 0)] ^ td[1][byte_of(x0, 1)] ^ td[2][byte_of(x3, 2)] ^
                      td[3][byte_of(x2, 3)] ^ load_word(rk + 4);
        uint32_t y2 = td[0][byte_of(x2, 0)] ^ td[1][byte_of(x1, 1)] ^ td[2][byte_of(x0, 2)] ^
                      td[3][byte_of(x3, 3)] ^ load_word(rk + 8);
        uint32_t y3 = td[0][byte_of(x3, 0)] ^ td[1][byte_of(x2, 1)] ^ td[2][byte_of(x1, 2)] ^
                      td[3][byte_of(x0, 3)] ^ load_word(rk + 12);
        x0 = y0, x1 = y1, x2 = y2, x3 = y3;
    }
    rk -= 16;
    store_word(out, word(s[byte_of(x0, 0)], s[byte_of(x3, 1)], s[byte_of(x2, 2)], s[byte_of(x1, 3)]) ^
                        load_word(rk));
    store_word(out + 4, word(s[byte_of(x1, 0)], s[byte_of(x0, 1)], s[byte_of(x3, 2)], s[byte_of(x2, 3)]) ^
                            load_word(rk + 4));
    store_word(out + 8, word(s[byte_of(x2, 0)], s[byte_of(x1, 1)], s[byte_of(x0, 2)], s[byte_of(x3, 3)]) ^
                            load_word(rk + 8));
    store_word(out + 12, word(s[byte_of(x3, 0)], s[byte_of(x2, 1)], s[byte_of(x1, 2)], s[byte_of(x0, 3)]) ^
                             load_word(rk + 12));
}

void portable_encrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input,
                             int blocks, unsigned char* output)
{
    for (int i = 0; i < blocks; ++i)
        portable_encrypt(round_keys, rounds, input + 16 * i, output + 16 * i);
}

void portable_decrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input,
                             int blocks, unsigned char* output)
{
    for (int i = 0; i < blocks; ++i)
        portable_decrypt(round_keys, rounds, input + 16 * i, output + 16 * i);
}

void portable_cbc_encrypt(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                          const unsigned char* input, int blocks, unsigned char* output)
{
    const unsigned char* chain = iv;
    for (int i = 0; i < blocks; ++i) {
        unsigned char block[16];
        xor_block(block, input + 16 * i, chain);
        portable_encrypt(round_keys, rounds, block, output + 16 * i);
        chain = output + 16 * i;
    }
}

// The ciphertext block is saved before its output is written, for in-place operation.
void portable_cbc_decrypt(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                          const unsigned char* input, int blocks, unsigned char* output)
{
    unsigned char chain[16];
    std::memcpy(chain, iv, 16);
    for (int i = 0; i < blocks; ++i) {
        unsigned char cipher[16], plain[16];
        std::memcpy(cipher, input + 16 * i, 16);
        portable_decrypt(round_keys, rounds, cipher, plain);
        xor_block(output + 16 * i, plain, chain);
        std::memcpy(chain, cipher, 16);
    }
}

// Shifts the 128-bit register left by one bit and puts `bit` in as its lowest bit.
inline void shift_in_bit(unsigned char reg[16], unsigned bit)
{
    for (int i = 0; i < 15; ++i)
        reg[i] = static_cast<unsigned char>((reg[i] << 1) | (reg[i + 1] >> 7));
    reg[15] = static_cast<unsigned char>((reg[15] << 1) | bit);
}

void portable_cfb1(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                   const unsigned char* input, int blocks, unsigned char* output, bool encrypting)
{
    unsigned char reg[16];
    std::memcpy(reg, iv, 16);
    for (int i = 0; i < 16 * blocks; ++i) {
        const unsigned in_byte = input[i];
        unsigned out_byte = 0;
        for (int bit = 7; bit >= 0; --bit) {
            unsigned char keystream[16];
            portable_encrypt(round_keys, rounds, reg, keystream);
            const unsigned in_bit = (in_byte >> bit) & 1;
            const unsigned out_bit = in_bit ^ (keystream[0] >> 7);
            out_byte |= out_bit << bit;
            shift_in_bit(reg, encrypting ? out_bit : in_bit);
        }
        output[i] = static_cast<unsigned char>(out_byte);
    }
}

// Chosen at the first cipher operation of the process: the widest instructions the
// processor has. NUV_AES_PORTABLE=1 in the environment at that moment forces the portable
// tables.
const nuv_aes_kernels::KERNELS& kernels()
{
    static const nuv_aes_kernels::KERNELS s_kernels = [] {
        const char* portable = std::getenv("NUV_AES_PORTABLE");
        const bool forced = portable != nullptr && std::strcmp(portable, "1") == 0;
        if (forced || !nuv_aes_kernels::accelerated_available())
            return nuv_aes_kernels::s_portable;
        nuv_aes_kernels::KERNELS chosen = nuv_aes_kernels::s_accelerated;
        if (nuv_aes_kernels::wide_available()) {
            chosen.encrypt_blocks = nuv_aes_kernels::wide_encrypt_blocks;
            chosen.decrypt_blocks = nuv_aes_kernels::wide_decrypt_blocks;
        }
        return chosen;
    }();
    return s_kernels;
}

} // namespace

namespace nuv_aes_kernels {

const KERNELS s_portable = {portable_encrypt_blocks, portable_decrypt_blocks, portable_cbc_encrypt,
                            portable_cbc_decrypt, portable_cfb1};

} // namespace nuv_aes_kernels

NUV_AES::NUV_AES() : m_not_ready(1), m_mode(static_cast<MODE>(3)), m_direction(ENCRYPT), m_iv{}, m_rounds(10)
{
}

int NUV_AES::init(MODE mode, DIRECTION direction, const unsigned char* key, KEY_LENGTH key_length,
                  unsigned char* iv)
{
    m_not_ready = 1;
    if (static_cast<unsigned>(mode) > 2)
        return -1;
    if (static_cast<unsigned>(direction) > 1)
        return -2;
    if (static_cast<unsigned>(key_length) > 2)
        return -3;
    if (key == nullptr)
        return -4;

    m_mode = mode;
    m_direction = direction;
    if (iv)
        std::memcpy(m_iv, iv, sizeof m_iv);
    else
        std::memset(m_iv, 0, sizeof m_iv);

    static const struct {
        int key_bytes, rounds;
    } s_sizes[] = {{16, 10}, {24, 12}, {32, 14}};
    if (static_cast<unsigned>(key_length) >= sizeof s_sizes / sizeof s_sizes[0])
        report_internal_error("Memory corruption.", "NUV", "nuv_aes", __LINE__);
    m_rounds = s_sizes[key_length].rounds;
    key_sched(key, s_sizes[key_length].key_bytes);
    if (direction == DECRYPT)
        key_enc_to_dec();
    m_not_ready = 0;
    return 0;
}

void NUV_AES::key_sched(const unsigned char* key, int key_bytes)
{
    const int nk = key_bytes / 4;
    const int total = 4 * (m_rounds + 1);
    uint32_t w[60];
    for (int i = 0; i < nk; ++i)
        w[i] = load_word(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0)
            temp = sub_word((temp >> 8) | (temp << 24)) ^ s_tables.rcon[i / nk - 1]; // RotWord
        else if (nk == 8 && i % nk == 4)
            temp = sub_word(temp);
        w[i] = w[i - nk] ^ temp;
    }
    for (int i = 0; i < total; ++i)
        store_word(m_round_keys[i / 4][i % 4], w[i]);
}

void NUV_AES::key_enc_to_dec()
{
    for (int r = 1; r < m_rounds; ++r) {
        for (int c = 0; c < 4; ++c) {
            const unsigned char* b = m_round_keys[r][c];
            uint32_t mixed =
                s_tables.imc[0][b[0]] ^ s_tables.imc[1][b[1]] ^ s_tables.imc[2][b[2]] ^ s_tables.imc[3][b[3]];
            store_word(m_round_keys[r][c], mixed);
        }
    }
}

const unsigned char* NUV_AES::round_keys() const
{
    return &m_round_keys[0][0][0];
}

void NUV_AES::encrypt(const unsigned char in[16], unsigned char out[16]) const
{
    kernels().encrypt_blocks(round_keys(), m_rounds, in, 1, out);
}

void NUV_AES::decrypt(const unsigned char in[16], unsigned char out[16]) const
{
    kernels().decrypt_blocks(round_keys(), m_rounds, in, 1, out);
}

int NUV_AES::block_encrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready)
        return -5;
    if (m_direction == DECRYPT)
        return -6;
    return run_blocks(input, input_bytes, output, true);
}

int NUV_AES::block_decrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready)
        return -5;
    if (m_mode != CFB1 && m_direction == ENCRYPT)
        return -6;
    return run_blocks(input, input_bytes, output, false);
}

// The whole blocks of the input through the mode's kernel; CFB1 runs the cipher forwards
// both ways and only feeds back differently.
int NUV_AES::run_blocks(const unsigned char* input, int input_bytes, unsigned char* output,
                        bool encrypting) const
{
    if (input == nullptr || input_bytes <= 0)
        return 0;
    const int n = input_bytes / 16;
    const auto& k = kernels();
    if (m_mode == CFB1)
        k.cfb1(round_keys(), m_rounds, m_iv, input, n, output, encrypting);
    else if (m_mode == CBC)
        (encrypting ? k.cbc_encrypt : k.cbc_decrypt)(round_keys(), m_rounds, m_iv, input, n, output);
    else
        (encrypting ? k.encrypt_blocks : k.decrypt_blocks)(round_keys(), m_rounds, input, n, output);
    return 16 * n;
}

int NUV_AES::pad_encrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready || m_direction != ENCRYPT)
        return -5;
    if (m_mode != ECB && m_mode != CBC)
        return -1;
    // Nothing to read, or a padded size that an int cannot count.
    if (input_bytes < 0 || input_bytes > INT_MAX - 16 || (input == nullptr && input_bytes > 0))
        return 0;
    const int n = input_bytes / 16;
    const int rest = input_bytes % 16;
    unsigned char last[16];
    if (rest > 0)
        std::memcpy(last, input + 16 * n, static_cast<size_t>(rest));
    std::memset(last + rest, 16 - rest, static_cast<size_t>(16 - rest));
    if (n > 0)
        block_encrypt(input, 16 * n, output);
    if (m_mode == CBC)
        xor_block(last, last, n > 0 ? output + 16 * (n - 1) : m_iv);
    encrypt(last, output + 16 * n);
    return 16 * (n + 1);
}

int NUV_AES::pad_decrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready)
        return -5;
    if (m_direction != DECRYPT)
        return -6;
    if (input == nullptr || input_bytes <= 0)
        return 0;
    if (input_bytes % 16 != 0)
        return -7;
    if (m_mode != ECB && m_mode != CBC)
        return -1;
    const int n = input_bytes / 16;
    unsigned char last_cipher[16], last[16];
    std::memcpy(last_cipher, input + 16 * (n - 1), 16);
    unsigned char chain[16];
    std::memcpy(chain, n > 1 ? input + 16 * (n - 2) : m_iv, 16);
    if (n > 1)
        block_decrypt(input, 16 * (n - 1), output);
    decrypt(last_cipher, last);
    if (m_mode == CBC)
        xor_block(last, last, chain);
    const int pad = last[15];
    if (pad == 0 || pad > 16)
        return -7;
    for (int i = 16 - pad; i < 16; ++i)
        if (last[i] != pad)
            return -7;
    std::memcpy(output + 16 * (n - 1), last, static_cast<size_t>(16 - pad));
    return 16 * n - pad;
}
