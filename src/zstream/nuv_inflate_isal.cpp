// The ISA-L engine of the decoder interface. ISA-L decodes the deflate data only; the zlib
// wrapper around it (header and Adler-32) is read here, so that every damaged or cut header
// and check value gets exactly the answer zlib's inflate gives:
// - a header failing FCHECK, naming a method other than deflate, or a window above 32 KiB:
//   Z_DATA_ERROR; FDICT: Z_NEED_DICT once the 4 DICTID bytes are in;
// - an invalid block, symbol or distance: Z_DATA_ERROR;
// - an Adler-32 that does not match: Z_DATA_ERROR; a cut anywhere: Z_OK, waiting for more.
#include "nuv_inflate.h"

#include "nuv_adler32.h"

#include "nuv_zstream_internal.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace nuv_zstream_detail {

namespace {

// RFC 1950: CMF and FLG, then DICTID when FLG has FDICT; the Adler-32 after the data.
const int ZLIB_HEADER_LENGTH = 2, ZLIB_DICT_HEADER_LENGTH = 6, ADLER_LENGTH = 4;
const unsigned ZLIB_FDICT = 0x20, ZLIB_DEFLATED = 8, ZLIB_MAX_CINFO = 7;

class ISAL_INFLATER : public NUV_INFLATER {
public:
    ISAL_INFLATER()
        : m_state(static_cast<inflate_state*>(
              NUV_ZIP_STREAMBUF::zstream_alloc(nullptr, 1, sizeof(inflate_state))))
    {
    }
    ~ISAL_INFLATER() override { NUV_ZIP_STREAMBUF::zstream_free(nullptr, m_state); }

    NUV_INFLATE_ENGINE engine() const override { return NUV_INFLATE_ISAL; }

    int start(int window_bits) override
    {
        isal_inflate_init(m_state);
        const bool wrapped = window_bits > 0;
        // ISA-L keeps the gzip CRC-32; the Adler-32 is ours, several times faster than its own.
        m_state->crc_flag = wrapped ? ISAL_DEFLATE : ISAL_GZIP_NO_HDR;
        m_adler = 1;
        m_phase = wrapped ? HEADER : BODY;
        m_wrapped = wrapped;
        m_have = 0;
        restart();
        return Z_OK;
    }

    int run() override
    {
        int status = Z_OK;
        if (m_phase == HEADER)
            status = read_header();
        if (status == Z_OK && m_phase == BODY)
            status = inflate_body();
        if (status == Z_OK && m_phase == TRAILER)
            status = check_trailer();
        return status;
    }

    uint32_t crc() const override { return m_state->crc; }

private:
    enum PHASE { HEADER, BODY, TRAILER };

    // Moves input into m_bytes until it holds `count` bytes; true once it does.
    bool gather(int count)
    {
        m_have += static_cast<int>(take(m_bytes + m_have, static_cast<unsigned>(count - m_have)));
        return m_have == count;
    }

    // isal_inflate reads up to 8 bytes ahead; at the end of the data, the whole bytes left in
    // its bit buffer (after the last byte's unused bits) are what follows the data.
    void keep_read_ahead()
    {
        const uint64_t bits = m_state->read_in >> (m_state->read_in_length % 8);
        m_kept = static_cast<unsigned>(m_state->read_in_length / 8);
        for (unsigned i = 0; i < m_kept; ++i)
            m_kept_bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    }

    int read_header()
    {
        if (!gather(ZLIB_HEADER_LENGTH))
            return Z_OK;
        const unsigned cmf = m_bytes[0], flg = m_bytes[1];
        if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != ZLIB_DEFLATED || (cmf >> 4) > ZLIB_MAX_CINFO)
            return Z_DATA_ERROR;
        if (flg & ZLIB_FDICT)
            return gather(ZLIB_DICT_HEADER_LENGTH) ? Z_NEED_DICT : Z_OK;
        m_phase = BODY;
        m_have = 0;
        return Z_OK;
    }

    // Calls isal_inflate until it stops making progress, so that nothing it could deliver
    // with the input given stays behind in its own buffers.
    int inflate_body()
    {
        bool progress = false;
        for (;;) {
            m_state->next_in = const_cast<uint8_t*>(next_in);
            m_state->avail_in = avail_in;
            m_state->next_out = next_out;
            m_state->avail_out = avail_out;
            const int result = isal_inflate(m_state);
            const bool moved = m_state->avail_in != avail_in || m_state->avail_out != avail_out;
            const unsigned produced = avail_out - m_state->avail_out;
            if (m_wrapped)
                m_adler = adler32_update(m_adler, next_out, produced);
            total_out += produced;
            next_in = m_state->next_in;
            avail_in = m_state->avail_in;
            next_out = m_state->next_out;
            avail_out = m_state->avail_out;
            if (result < 0)
                return Z_DATA_ERROR;
            if (m_state->block_state == ISAL_BLOCK_FINISH) {
                keep_read_ahead();
                m_phase = TRAILER;
                return m_wrapped ? Z_OK : Z_STREAM_END;
            }
            progress = progress || moved;
            if (!moved || avail_out == 0)
                return progress || avail_in == 0 ? Z_OK : Z_BUF_ERROR;
        }
    }

    int check_trailer()
    {
        if (!gather(ADLER_LENGTH))
            return Z_OK;
        const uint32_t stored =
            uint32_t(m_bytes[0]) << 24 | uint32_t(m_bytes[1]) << 16 | uint32_t(m_bytes[2]) << 8 | m_bytes[3];
        return stored == m_adler ? Z_STREAM_END : Z_DATA_ERROR;
    }

    inflate_state* m_state;
    uint32_t m_adler = 1;
    PHASE m_phase = HEADER;
    bool m_wrapped = false;
    unsigned char m_bytes[ZLIB_DICT_HEADER_LENGTH] = {};
    int m_have = 0;
};

} // namespace

NUV_INFLATER* create_isal_inflater()
{
    return new ISAL_INFLATER;
}

} // namespace nuv_zstream_detail
