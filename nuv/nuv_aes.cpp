// Table-driven AES (FIPS-197) with ECB, CBC and CFB1 chaining and PKCS #7 padding.
#include <nuv/nuv_aes.h>

#include <host/host_services.h>

#include <cstdint>
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

constexpr uint32_t word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return (uint32_t(b0) << 24) | (uint32_t(b1) << 16) | (uint32_t(b2) << 8) | b3;
}

constexpr uint32_t ror8(uint32_t w)
{
    return (w >> 8) | (w << 24);
}

// Every constant table of the cipher, computed from the field arithmetic at compile time.
struct AES_TABLES {
    uint8_t sbox[256] = {};
    uint8_t inv_sbox[256] = {};
    uint32_t rcon[30] = {};
    uint32_t te[4][256] = {};  // SubBytes + ShiftRows + MixColumns, one table per row
    uint32_t td[4][256] = {};  // InvSubBytes + InvMixColumns
    uint32_t imc[4][256] = {}; // InvMixColumns of one byte, for the decryption schedule
};

constexpr AES_TABLES make_tables()
{
    AES_TABLES t;
    // S-box: multiplicative inverse in GF(2^8) followed by the affine transform.
    for (int x = 0; x < 256; ++x) {
        uint8_t inverse = 0;
        for (int y = 1; y < 256 && x != 0; ++y)
            if (gf_mul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1)
                inverse = static_cast<uint8_t>(y);
        uint8_t s = inverse;
        for (int shift = 1; shift <= 4; ++shift)
            s ^= static_cast<uint8_t>((inverse << shift) | (inverse >> (8 - shift)));
        s ^= 0x63;
        t.sbox[x] = s;
        t.inv_sbox[s] = static_cast<uint8_t>(x);
    }
    uint8_t rc = 1;
    for (auto& r : t.rcon) {
        r = word(rc, 0, 0, 0);
        rc = xtime(rc);
    }
    for (int x = 0; x < 256; ++x) {
        uint8_t s = t.sbox[x];
        uint8_t b = static_cast<uint8_t>(x);
        uint32_t te0 = word(gf_mul(s, 2), s, s, gf_mul(s, 3));
        uint32_t imc0 = word(gf_mul(b, 14), gf_mul(b, 9), gf_mul(b, 13), gf_mul(b, 11));
        uint8_t is = t.inv_sbox[x];
        uint32_t td0 = word(gf_mul(is, 14), gf_mul(is, 9), gf_mul(is, 13), gf_mul(is, 11));
        for (int row = 0; row < 4; ++row) {
            t.te[row][x] = te0;
            t.td[row][x] = td0;
            t.imc[row][x] = imc0;
            te0 = ror8(te0);
            td0 = ror8(td0);
            imc0 = ror8(imc0);
        }
    }
    return t;
}

constexpr AES_TABLES s_tables = make_tables();

inline uint32_t load_be(const unsigned char* p)
{
    return word(p[0], p[1], p[2], p[3]);
}

inline void store_be(unsigned char* p, uint32_t w)
{
    p[0] = static_cast<unsigned char>(w >> 24);
    p[1] = static_cast<unsigned char>(w >> 16);
    p[2] = static_cast<unsigned char>(w >> 8);
    p[3] = static_cast<unsigned char>(w);
}

inline uint8_t byte_of(uint32_t w, int row)
{
    return static_cast<uint8_t>(w >> (24 - 8 * row));
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

// Shifts the 128-bit register left by one bit and puts `bit` in as its lowest bit.
inline void shift_in_bit(unsigned char reg[16], int bit)
{
    for (int i = 0; i < 15; ++i)
        reg[i] = static_cast<unsigned char>((reg[i] << 1) | (reg[i + 1] >> 7));
    reg[15] = static_cast<unsigned char>((reg[15] << 1) | bit);
}

} // namespace

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
        w[i] = load_be(key + 4 * i);
    for (int i = nk; i < total; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0)
            temp = sub_word((temp << 8) | (temp >> 24)) ^ s_tables.rcon[i / nk - 1];
        else if (nk == 8 && i % nk == 4)
            temp = sub_word(temp);
        w[i] = w[i - nk] ^ temp;
    }
    for (int i = 0; i < total; ++i)
        store_be(m_round_keys[i / 4][i % 4], w[i]);
}

void NUV_AES::key_enc_to_dec()
{
    for (int r = 1; r < m_rounds; ++r) {
        for (int c = 0; c < 4; ++c) {
            const unsigned char* b = m_round_keys[r][c];
            uint32_t mixed =
                s_tables.imc[0][b[0]] ^ s_tables.imc[1][b[1]] ^ s_tables.imc[2][b[2]] ^ s_tables.imc[3][b[3]];
            store_be(m_round_keys[r][c], mixed);
        }
    }
}

void NUV_AES::encrypt(const unsigned char in[16], unsigned char out[16]) const
{
    const auto& te = s_tables.te;
    const uint8_t* s = s_tables.sbox;
    uint32_t x[4], y[4];
    for (int c = 0; c < 4; ++c)
        x[c] = load_be(in + 4 * c) ^ load_be(m_round_keys[0][c]);
    for (int r = 1; r < m_rounds; ++r) {
        for (int c = 0; c < 4; ++c)
            y[c] = te[0][byte_of(x[c], 0)] ^ te[1][byte_of(x[(c + 1) & 3], 1)] ^
                   te[2][byte_of(x[(c + 2) & 3], 2)] ^ te[3][byte_of(x[(c + 3) & 3], 3)] ^
                   load_be(m_round_keys[r][c]);
        std::memcpy(x, y, sizeof x);
    }
    for (int c = 0; c < 4; ++c)
        y[c] = word(s[byte_of(x[c], 0)], s[byte_of(x[(c + 1) & 3], 1)], s[byte_of(x[(c + 2) & 3], 2)],
                    s[byte_of(x[(c + 3) & 3], 3)]) ^
               load_be(m_round_keys[m_rounds][c]);
    for (int c = 0; c < 4; ++c)
        store_be(out + 4 * c, y[c]);
}

void NUV_AES::decrypt(const unsigned char in[16], unsigned char out[16]) const
{
    const auto& td = s_tables.td;
    const uint8_t* s = s_tables.inv_sbox;
    uint32_t x[4], y[4];
    for (int c = 0; c < 4; ++c)
        x[c] = load_be(in + 4 * c) ^ load_be(m_round_keys[m_rounds][c]);
    for (int r = m_rounds - 1; r > 0; --r) {
        for (int c = 0; c < 4; ++c)
            y[c] = td[0][byte_of(x[c], 0)] ^ td[1][byte_of(x[(c + 3) & 3], 1)] ^
                   td[2][byte_of(x[(c + 2) & 3], 2)] ^ td[3][byte_of(x[(c + 1) & 3], 3)] ^
                   load_be(m_round_keys[r][c]);
        std::memcpy(x, y, sizeof x);
    }
    for (int c = 0; c < 4; ++c)
        y[c] = word(s[byte_of(x[c], 0)], s[byte_of(x[(c + 3) & 3], 1)], s[byte_of(x[(c + 2) & 3], 2)],
                    s[byte_of(x[(c + 1) & 3], 3)]) ^
               load_be(m_round_keys[0][c]);
    for (int c = 0; c < 4; ++c)
        store_be(out + 4 * c, y[c]);
}

int NUV_AES::block_encrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready)
        return -5;
    if (m_direction == DECRYPT)
        return -6;
    if (input == nullptr || input_bytes <= 0)
        return 0;
    const int n = input_bytes / 16;
    if (m_mode == ECB) {
        for (int i = 0; i < n; ++i)
            encrypt(input + 16 * i, output + 16 * i);
    } else if (m_mode == CBC) {
        const unsigned char* chain = m_iv;
        for (int i = 0; i < n; ++i) {
            unsigned char block[16];
            xor_block(block, input + 16 * i, chain);
            encrypt(block, output + 16 * i);
            chain = output + 16 * i;
        }
    } else {
        cfb1(input, n, output, true);
    }
    return 16 * n;
}

int NUV_AES::block_decrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready)
        return -5;
    if (m_mode != CFB1 && m_direction == ENCRYPT)
        return -6;
    if (input == nullptr || input_bytes <= 0)
        return 0;
    const int n = input_bytes / 16;
    if (m_mode == ECB) {
        for (int i = 0; i < n; ++i)
            decrypt(input + 16 * i, output + 16 * i);
    } else if (m_mode == CBC) {
        cbc_decrypt(input, n, output);
    } else {
        cfb1(input, n, output, false);
    }
    return 16 * n;
}

void NUV_AES::cbc_decrypt(const unsigned char* input, int blocks, unsigned char* output) const
{
    unsigned char chain[16];
    std::memcpy(chain, m_iv, 16);
    for (int i = 0; i < blocks; ++i) {
        unsigned char cipher[16], plain[16];
        std::memcpy(cipher, input + 16 * i, 16);
        decrypt(cipher, plain);
        xor_block(output + 16 * i, plain, chain);
        std::memcpy(chain, cipher, 16);
    }
}

void NUV_AES::cfb1(const unsigned char* input, int blocks, unsigned char* output, bool encrypting) const
{
    unsigned char reg[16];
    std::memcpy(reg, m_iv, 16);
    for (int i = 0; i < 16 * blocks; ++i) {
        unsigned char in_byte = input[i];
        unsigned char out_byte = 0;
        for (int bit = 7; bit >= 0; --bit) {
            unsigned char keystream[16];
            encrypt(reg, keystream);
            int in_bit = (in_byte >> bit) & 1;
            int out_bit = in_bit ^ (keystream[0] >> 7);
            out_byte = static_cast<unsigned char>(out_byte | (out_bit << bit));
            shift_in_bit(reg, encrypting ? out_bit : in_bit);
        }
        output[i] = out_byte;
    }
}

int NUV_AES::pad_encrypt(const unsigned char* input, int input_bytes, unsigned char* output)
{
    if (m_not_ready || m_direction != ENCRYPT)
        return -5;
    if (m_mode != ECB && m_mode != CBC)
        return -1;
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
