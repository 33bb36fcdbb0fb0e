// The decoder interface and its zlib engine; the ISA-L engine is in nuv_inflate_isal.cpp.
#include "nuv_inflate.h"

#include "nuv_zstream_internal.h"

#include <algorithm>

namespace nuv_zstream_detail {

namespace {

// zlib's inflate on Z_SYNC_FLUSH; its state is set up once and reset for every stream.
class ZLIB_INFLATER : public NUV_INFLATER {
public:
    ~ZLIB_INFLATER() override
    {
        if (m_initialised)
            inflateEnd(m_state);
        delete[] m_state;
    }

    NUV_INFLATE_ENGINE engine() const override { return NUV_INFLATE_ZLIB; }

    int start(int window_bits) override
    {
        m_raw = window_bits < 0;
        m_crc = 0;
        restart();
        if (m_initialised)
            return inflateReset2(m_state, window_bits);
        prepare_zlib_state(m_state, nullptr, nullptr, 0);
        const int status = inflateInit2(m_state, window_bits);
        m_initialised = status == Z_OK;
        return status;
    }

    int run() override
    {
        m_state->next_in = const_cast<Bytef*>(next_in);
        m_state->avail_in = avail_in;
        m_state->next_out = next_out;
        m_state->avail_out = avail_out;
        int status = inflate(m_state, Z_SYNC_FLUSH);
        if (status == Z_BUF_ERROR && avail_in == 0)
            status = Z_OK; // nothing to do without input: not an error here
        const unsigned produced = avail_out - m_state->avail_out;
        if (m_raw)
            m_crc = static_cast<uint32_t>(crc32(m_crc, next_out, produced));
        next_in = m_state->next_in;
        avail_in = m_state->avail_in;
        next_out = m_state->next_out;
        avail_out = m_state->avail_out;
        total_out += produced;
        return status;
    }

    uint32_t crc() const override { return m_crc; }

private:
    z_stream* m_state = nullptr;
    bool m_initialised = false;
    bool m_raw = false;
    uint32_t m_crc = 0;
};

} // namespace

unsigned NUV_INFLATER::take(unsigned char* to, unsigned most)
{
    const unsigned kept = std::min(most, m_kept - m_kept_taken);
    std::memcpy(to, m_kept_bytes + m_kept_taken, kept);
    m_kept_taken += kept;
    const unsigned fresh = std::min(most - kept, avail_in);
    if (fresh > 0) // next_in is null before a sealed body's first chunk verified
        std::memcpy(to + kept, next_in, fresh);
    next_in += fresh;
    avail_in -= fresh;
    return kept + fresh;
}

void NUV_INFLATER::restart()
{
    total_out = 0;
    m_kept = m_kept_taken = 0;
}

NUV_INFLATE_ENGINE NUV_INFLATER::resolve(NUV_INFLATE_ENGINE engine)
{
#ifdef NUV_WITH_ISAL
    return engine == NUV_INFLATE_ZLIB ? NUV_INFLATE_ZLIB : NUV_INFLATE_ISAL;
#else
    (void)engine;
    return NUV_INFLATE_ZLIB;
#endif
}

NUV_INFLATER* NUV_INFLATER::create(NUV_INFLATE_ENGINE engine)
{
#ifdef NUV_WITH_ISAL
    if (resolve(engine) == NUV_INFLATE_ISAL)
        return create_isal_inflater();
#endif
    (void)engine;
    return new ZLIB_INFLATER;
}

} // namespace nuv_zstream_detail
