// MD5 message digest, written from RFC 1321.
#include <nuv/nuv_md5.h>

#include <host/host_services.h>

#include <boost/numeric/conversion/cast.hpp>

#include <cstring>

namespace {

const char s_update_refused[] = "NUV_MD5::update:  Can't update a finalized digest!";
const char s_finalize_refused[] = "NUV_MD5::finalize:  Already finalized this digest!";
const char s_raw_digest_refused[] =
    "NUV_MD5::raw_digest:  Can't get digest if you haven't finalized the digest!";
const char s_hex_digest_refused[] =
    "NUV_MD5::hex_digest:  Can't get digest if you haven't finalized the digest!";

const unsigned char s_padding[64] = {0x80};

const unsigned int s_piece_size = 1024; // bytes per read from a file or stream

// The internal-error report of transform carries a fixed line number, stable across edits
// of this file (not __LINE__).
const int s_transform_error_line = 633;

// The auxiliary functions F, H and I; G is added term by term in GG. F is written so that
// the newest chaining word x enters last, which shortens the dependency chain per step.
inline unsigned int F(unsigned int x, unsigned int y, unsigned int z)
{
    return z ^ (x & (y ^ z));
}

inline unsigned int H(unsigned int x, unsigned int y, unsigned int z)
{
    return x ^ y ^ z;
}

inline unsigned int I(unsigned int x, unsigned int y, unsigned int z)
{
    return y ^ (x | ~z);
}

inline unsigned int rotate_left(unsigned int x, unsigned int n)
{
    return (x << n) | (x >> (32 - n));
}

// One step of each round: a = b + ((a + f(b, c, d) + x + ac) <<< s). The message word and
// the constant are added first, as they do not depend on the previous step.
inline void FF(unsigned int& a, unsigned int b, unsigned int c, unsigned int d, unsigned int x,
               unsigned int s, unsigned int ac)
{
    a += x + ac;
    a += F(b, c, d);
    a = rotate_left(a, s) + b;
}

inline void GG(unsigned int& a, unsigned int b, unsigned int c, unsigned int d, unsigned int x,
               unsigned int s, unsigned int ac)
{
    a += x + ac;
    a += c & ~d; // G(b, c, d) = (b & d) | (c & ~d); the two terms never share a bit, so
    a += b & d;  // they can be added one at a time, the newest word b last
    a = rotate_left(a, s) + b;
}

inline void HH(unsigned int& a, unsigned int b, unsigned int c, unsigned int d, unsigned int x,
               unsigned int s, unsigned int ac)
{
    a += x + ac;
    a += H(b, c, d);
    a = rotate_left(a, s) + b;
}

inline void II(unsigned int& a, unsigned int b, unsigned int c, unsigned int d, unsigned int x,
               unsigned int s, unsigned int ac)
{
    a += x + ac;
    a += I(b, c, d);
    a = rotate_left(a, s) + b;
}

void encode(unsigned char* out, const uint32_t* in, unsigned int length)
{
    for (unsigned int i = 0, j = 0; j < length; ++i, j += 4) {
        out[j] = static_cast<unsigned char>(in[i]);
        out[j + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[j + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[j + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

// Message words are little-endian. Compilers turn the byte-wise form into plain loads on
// little-endian machines, so it costs nothing there and holds everywhere.
inline void decode(unsigned int* out, const unsigned char* in, unsigned int length)
{
    for (unsigned int i = 0, j = 0; j < length; ++i, j += 4)
        out[i] = static_cast<unsigned int>(in[j]) | (static_cast<unsigned int>(in[j + 1]) << 8) |
                 (static_cast<unsigned int>(in[j + 2]) << 16) | (static_cast<unsigned int>(in[j + 3]) << 24);
}

} // namespace

// Defined here as well, so that clients may bind the constant to a reference.
const uint64_t NUV_MD5::LENGTH_OF_WELL_FORMED_DIGEST;

void NUV_MD5::init()
{
    m_finalized = false;
    m_count[0] = m_count[1] = 0;
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
}

NUV_MD5::NUV_MD5()
{
    init();
}

NUV_MD5::NUV_MD5(const unsigned char* input, unsigned int length)
{
    init();
    update(input, length);
    finalize();
}

NUV_MD5::NUV_MD5(const char* string)
{
    init();
    update(string, static_cast<unsigned int>(string_length(string)));
    finalize();
}

NUV_MD5::NUV_MD5(FILE* file)
{
    init();
    update(file);
    finalize();
}

NUV_MD5::NUV_MD5(std::istream& stream)
{
    init();
    update(stream);
    finalize();
}

NUV_MD5::NUV_MD5(std::tenvik_ifstream& stream)
{
    init();
    update(stream);
    finalize();
}

void NUV_MD5::update(const unsigned char* input, unsigned int length)
{
    if (m_finalized) {
        debug_message("NUV", s_update_refused);
        return;
    }
    if (length == 0)
        return;
    unsigned int index = (m_count[0] >> 3) & 63;
    const uint32_t added_bits = length << 3;
    m_count[0] += added_bits;
    if (m_count[0] < added_bits)
        ++m_count[1];
    m_count[1] += length >> 29;

    const unsigned int part_length = 64 - index;
    unsigned int i = 0;
    if (length >= part_length) {
        std::memcpy(&m_buffer[index], input, part_length);
        transform(m_buffer);
        for (i = part_length; i + 63 < length; i += 64)
            transform(&input[i]);
        index = 0;
    }
    std::memcpy(&m_buffer[index], &input[i], length - i);
}

void NUV_MD5::update(const char* input, unsigned int length)
{
    update(reinterpret_cast<const unsigned char*>(input), length);
}

void NUV_MD5::update(FILE* file)
{
    unsigned char buffer[s_piece_size];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) != 0)
        update(buffer, boost::numeric_cast<unsigned int>(count));
    std::fclose(file);
}

void NUV_MD5::update(std::istream& stream)
{
    char buffer[s_piece_size];
    while (stream.good()) {
        stream.read(buffer, sizeof buffer);
        update(buffer, static_cast<unsigned int>(stream.gcount()));
    }
}

void NUV_MD5::update(std::tenvik_ifstream& stream)
{
    update(static_cast<std::istream&>(stream));
}

void NUV_MD5::finalize()
{
    if (m_finalized) {
        debug_message("NUV", s_finalize_refused);
        return;
    }
    unsigned char bits[8];
    encode(bits, m_count, 8);
    const unsigned int index = (m_count[0] >> 3) & 63;
    const unsigned int pad_length = index < 56 ? 56 - index : 120 - index;
    update(s_padding, pad_length);
    update(bits, 8);
    encode(m_digest, m_state, 16);
    m_finalized = true;
}

bool NUV_MD5::raw_digest(unsigned char* out) const
{
    if (!m_finalized) {
        debug_message("NUV", s_raw_digest_refused);
        return false;
    }
    std::memcpy(out, m_digest, sizeof m_digest);
    return true;
}

bool NUV_MD5::raw_digest(std::vector<unsigned char>* out) const
{
    if (!m_finalized) {
        debug_message("NUV", s_raw_digest_refused);
        return false;
    }
    out->assign(m_digest, m_digest + sizeof m_digest);
    return true;
}

bool NUV_MD5::hex_digest(std::string* out) const
{
    // Read once per process; a lookup that throws leaves the static to be tried again.
    static const bool s_use_pre_121 = config_is_on("use_pre_v12.0_md5_hex_digest", false);
    if (s_use_pre_121)
        return hex_digest_pre_121(out);
    if (!m_finalized) {
        debug_message("NUV", s_hex_digest_refused);
        return false;
    }
    static const char s_hex_digits[] = "0123456789abcdef";
    out->clear();
    out->reserve(33);
    for (unsigned char byte : m_digest) {
        out->push_back(s_hex_digits[byte >> 4]);
        out->push_back(s_hex_digits[byte & 15]);
    }
    return true;
}

bool NUV_MD5::hex_digest_pre_121(std::string* out) const
{
    if (!m_finalized) {
        debug_message("NUV", s_hex_digest_refused);
        return false;
    }
    out->clear();
    for (unsigned char byte : m_digest)
        out->append(integer_to_text(byte, 16));
    return true;
}

bool NUV_MD5::is_hex_digest_well_formed(const std::string& digest)
{
    return digest.size() == LENGTH_OF_WELL_FORMED_DIGEST;
}

void nuv_convert_md5_hex_digest_to_pre_121_format(const std::string& digest, std::string& out)
{
    if (&out != &digest)
        out = digest;
    if (out.size() != NUV_MD5::LENGTH_OF_WELL_FORMED_DIGEST)
        return;
    size_t i = 0;
    while (i < out.size()) {
        if (out[i] == '0') {
            out.erase(i, 1);
            i += 1; // the remaining character closes the pair
        } else {
            i += 2;
        }
    }
}

// Shift amounts of the four rounds.
enum { S11 = 7, S12 = 12, S13 = 17, S14 = 22 };
enum { S21 = 5, S22 = 9, S23 = 14, S24 = 20 };
enum { S31 = 4, S32 = 11, S33 = 16, S34 = 23 };
enum { S41 = 6, S42 = 10, S43 = 15, S44 = 21 };

void NUV_MD5::transform(const unsigned char* block)
{
    if (m_finalized)
        report_internal_error("!this->m_finalized", "NUV", "nuv_md5", s_transform_error_line);

    unsigned int a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    unsigned int x[16];
    decode(x, block, 64);

    FF(a, b, c, d, x[0], S11, 0xd76aa478);
    FF(d, a, b, c, x[1], S12, 0xe8c7b756);
    FF(c, d, a, b, x[2], S13, 0x242070db);
    FF(b, c, d, a, x[3], S14, 0xc1bdceee);
    FF(a, b, c, d, x[4], S11, 0xf57c0faf);
    FF(d, a, b, c, x[5], S12, 0x4787c62a);
    FF(c, d, a, b, x[6], S13, 0xa8304613);
    FF(b, c, d, a, x[7], S14, 0xfd469501);
    FF(a, b, c, d, x[8], S11, 0x698098d8);
    FF(d, a, b, c, x[9], S12, 0x8b44f7af);
    FF(c, d, a, b, x[10], S13, 0xffff5bb1);
    FF(b, c, d, a, x[11], S14, 0x895cd7be);
    FF(a, b, c, d, x[12], S11, 0x6b901122);
    FF(d, a, b, c, x[13], S12, 0xfd987193);
    FF(c, d, a, b, x[14], S13, 0xa679438e);
    FF(b, c, d, a, x[15], S14, 0x49b40821);

    GG(a, b, c, d, x[1], S21, 0xf61e2562);
    GG(d, a, b, c, x[6], S22, 0xc040b340);
    GG(c, d, a, b, x[11], S23, 0x265e5a51);
    GG(b, c, d, a, x[0], S24, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], S21, 0xd62f105d);
    GG(d, a, b, c, x[10], S22, 0x02441453);
    GG(c, d, a, b, x[15], S23, 0xd8a1e681);
    GG(b, c, d, a, x[4], S24, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], S21, 0x21e1cde6);
    GG(d, a, b, c, x[14], S22, 0xc33707d6);
    GG(c, d, a, b, x[3], S23, 0xf4d50d87);
    GG(b, c, d, a, x[8], S24, 0x455a14ed);
    GG(a, b, c, d, x[13], S21, 0xa9e3e905);
    GG(d, a, b, c, x[2], S22, 0xfcefa3f8);
    GG(c, d, a, b, x[7], S23, 0x676f02d9);
    GG(b, c, d, a, x[12], S24, 0x8d2a4c8a);

    HH(a, b, c, d, x[5], S31, 0xfffa3942);
    HH(d, a, b, c, x[8], S32, 0x8771f681);
    HH(c, d, a, b, x[11], S33, 0x6d9d6122);
    HH(b, c, d, a, x[14], S34, 0xfde5380c);
    HH(a, b, c, d, x[1], S31, 0xa4beea44);
    HH(d, a, b, c, x[4], S32, 0x4bdecfa9);
    HH(c, d, a, b, x[7], S33, 0xf6bb4b60);
    HH(b, c, d, a, x[10], S34, 0xbebfbc70);
    HH(a, b, c, d, x[13], S31, 0x289b7ec6);
    HH(d, a, b, c, x[0], S32, 0xeaa127fa);
    HH(c, d, a, b, x[3], S33, 0xd4ef3085);
    HH(b, c, d, a, x[6], S34, 0x04881d05);
    HH(a, b, c, d, x[9], S31, 0xd9d4d039);
    HH(d, a, b, c, x[12], S32, 0xe6db99e5);
    HH(c, d, a, b, x[15], S33, 0x1fa27cf8);
    HH(b, c, d, a, x[2], S34, 0xc4ac5665);

    II(a, b, c, d, x[0], S41, 0xf4292244);
    II(d, a, b, c, x[7], S42, 0x432aff97);
    II(c, d, a, b, x[14], S43, 0xab9423a7);
    II(b, c, d, a, x[5], S44, 0xfc93a039);
    II(a, b, c, d, x[12], S41, 0x655b59c3);
    II(d, a, b, c, x[3], S42, 0x8f0ccc92);
    II(c, d, a, b, x[10], S43, 0xffeff47d);
    II(b, c, d, a, x[1], S44, 0x85845dd1);
    II(a, b, c, d, x[8], S41, 0x6fa87e4f);
    II(d, a, b, c, x[15], S42, 0xfe2ce6e0);
    II(c, d, a, b, x[6], S43, 0xa3014314);
    II(b, c, d, a, x[13], S44, 0x4e0811a1);
    II(a, b, c, d, x[4], S41, 0xf7537e82);
    II(d, a, b, c, x[11], S42, 0xbd3af235);
    II(c, d, a, b, x[2], S43, 0x2ad7d2bb);
    II(b, c, d, a, x[9], S44, 0xeb86d391);

    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}
