// Parallel deflate: pieces deflated by worker threads with the preceding 32 KiB as
// dictionary, joined in order into one zlib stream or raw deflate body.
#include "nuv_zstream_parallel.h"

#include <nuv/nuv_zstream.h>

#include <host/host_services.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {

/// Pieces in flight per worker besides the one being filled: one deflating, one waiting.
const int PIECES_PER_WORKER = 2;
/// The deflate window: the input before a piece that its dictionary holds.
const size_t WINDOW = 32768;
/// Output room beyond deflateBound for the sync flush's empty stored block and the end.
const size_t FLUSH_MARGIN = 64;

} // namespace

namespace nuv_zstream_detail {

struct PARALLEL_DEFLATE::PIECE {
    std::unique_ptr<char[]> input{new char[WINDOW + NUV_DEFLATE_PIECE_SIZE]}; // dictionary, then data
    size_t dictionary = 0;
    size_t length = 0;
    bool last = false;
    std::vector<char> output;
    size_t output_length; // these three are set by deflate_piece before anyone reads them
    uint32_t check;
    int status;
    bool done = false; // under m_mutex

    char* data() const { return input.get() + WINDOW; }
};

PARALLEL_DEFLATE::PARALLEL_DEFLATE(int workers, int level, bool zlib_wrapper, alloc_func allocate)
    : m_level(level), m_zlib_wrapper(zlib_wrapper), m_allocate(allocate),
      m_most_pieces(static_cast<size_t>(PIECES_PER_WORKER * std::max(workers, 1) + 1)),
      m_check(zlib_wrapper ? 1 : 0), m_window(new char[WINDOW])
{
    // zlib's own header for this level: 32 KiB window, FLEVEL from the level, no dictionary.
    static const unsigned s_level_flags[10] = {0, 0, 1, 1, 1, 1, 2, 3, 3, 3};
    unsigned header = ((Z_DEFLATED + ((15 - 8) << 4)) << 8) | (s_level_flags[level < 0 ? 6 : level] << 6);
    header += 31 - header % 31;
    m_header[0] = static_cast<char>(header >> 8);
    m_header[1] = static_cast<char>(header);
    for (int i = 0; i < workers; ++i) {
        try {
            m_workers.emplace_back(&PARALLEL_DEFLATE::work, this);
        } catch (const std::system_error&) {
            break; // fewer workers, the same bytes
        }
    }
    m_inline_state.zalloc = allocate;
    m_pieces.push_back(std::make_unique<PIECE>());
    m_current = m_pieces.back().get();
}

PARALLEL_DEFLATE::~PARALLEL_DEFLATE()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_work_ready.notify_all();
    for (auto& worker : m_workers)
        worker.join();
    if (m_inline_ready)
        deflateEnd(&m_inline_state);
}

char* PARALLEL_DEFLATE::piece_begin() const
{
    return m_current ? m_current->data() : nullptr;
}

char* PARALLEL_DEFLATE::piece_end() const
{
    return m_current ? m_current->data() + NUV_DEFLATE_PIECE_SIZE : nullptr;
}

void PARALLEL_DEFLATE::work()
{
    z_stream state{}; // a failing allocation is Z_MEM_ERROR, reported by the piece
    state.zalloc = m_allocate;
    bool ready = false;
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_work_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping)
            break;
        PIECE* piece = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        deflate_piece(state, ready, *piece);
        lock.lock();
        piece->done = true;
        lock.unlock();
        m_piece_done.notify_all();
    }
    if (ready)
        deflateEnd(&state);
}

// A fresh raw deflate stream for every piece (deflateReset leaves nothing of the previous
// one), primed with the dictionary, ended by a sync flush or the final block.
void PARALLEL_DEFLATE::deflate_piece(z_stream& state, bool& ready, PIECE& piece) const
{
    piece.status =
        ready ? deflateReset(&state) : deflateInit2(&state, m_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    ready = ready || piece.status == Z_OK;
    if (piece.status == Z_OK && piece.dictionary > 0)
        piece.status =
            deflateSetDictionary(&state, reinterpret_cast<const Bytef*>(piece.data() - piece.dictionary),
                                 static_cast<uInt>(piece.dictionary));
    const Bytef* data = reinterpret_cast<const Bytef*>(piece.data());
    piece.check = static_cast<uint32_t>(m_zlib_wrapper ? adler32(1, data, static_cast<uInt>(piece.length))
                                                       : crc32(0, data, static_cast<uInt>(piece.length)));
    state.next_in = const_cast<Bytef*>(data);
    state.avail_in = static_cast<uInt>(piece.length);
    piece.output_length = 0;
    const int mode = piece.last ? Z_FINISH : Z_SYNC_FLUSH;
    // One call normally does; deflate asks to be called again while it fills the output.
    while (piece.status == Z_OK) {
        try {
            piece.output.resize(piece.output_length + deflateBound(&state, state.avail_in) + FLUSH_MARGIN);
        } catch (const std::bad_alloc&) {
            piece.status = Z_MEM_ERROR;
            break;
        }
        state.next_out = reinterpret_cast<Bytef*>(piece.output.data() + piece.output_length);
        state.avail_out = static_cast<uInt>(piece.output.size() - piece.output_length);
        piece.status = deflate(&state, mode);
        piece.output_length = piece.output.size() - state.avail_out;
        if (state.avail_out > 0)
            break;
    }
    if (piece.status == Z_STREAM_END || piece.status == Z_BUF_ERROR)
        piece.status = Z_OK; // the end, or a flush with nothing left to give
}

bool PARALLEL_DEFLATE::submit(size_t length, bool last, const SINK& sink)
{
    PIECE& piece = *m_current;
    piece.length = length;
    piece.last = last;
    piece.done = false;
    m_total_in += length;
    m_current = nullptr;
    // The next piece's dictionary: the window of input up to this piece's end.
    m_window_length = std::min(WINDOW, piece.dictionary + length);
    std::memcpy(m_window.get(), piece.data() + length - m_window_length, m_window_length);
    if (m_workers.empty()) {
        deflate_piece(m_inline_state, m_inline_ready, piece);
        piece.done = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_in_order.push_back(&piece);
        if (!m_workers.empty())
            m_jobs.push_back(&piece);
    }
    m_work_ready.notify_one();
    while (write_one(false, sink)) {
    }
    if (!last)
        next_piece(sink);
    return m_status == Z_OK;
}

bool PARALLEL_DEFLATE::drain(const SINK& sink)
{
    while (write_one(true, sink)) {
    }
    return m_status == Z_OK;
}

// Writes the oldest piece handed over, when it is finished or `wait` allows waiting for it;
// false when there is none. Its check value joins the running one, and the zlib framing
// goes around the body.
bool PARALLEL_DEFLATE::write_one(bool wait, const SINK& sink)
{
    PIECE* piece;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_in_order.empty() || (!wait && !m_in_order.front()->done))
            return false;
        piece = m_in_order.front();
        m_piece_done.wait(lock, [piece] { return piece->done; });
        m_in_order.pop_front();
    }
    m_free.push_back(piece);
    if (piece->status == Z_MEM_ERROR)
        out_of_memory_handler(); // as when the caller's own deflate state cannot be had
    if (m_status != Z_OK)
        return true;
    m_status = piece->status;
    const z_off_t length = static_cast<z_off_t>(piece->length);
    m_check = static_cast<uint32_t>(m_zlib_wrapper ? adler32_combine(m_check, piece->check, length)
                                                   : crc32_combine(m_check, piece->check, length));
    if (m_status != Z_OK)
        return true;
    if (m_zlib_wrapper && !m_header_written) {
        sink(m_header, 2, false);
        m_header_written = true;
    }
    sink(piece->output.data(), piece->output_length, piece->last && !m_zlib_wrapper);
    if (piece->last && m_zlib_wrapper) {
        const char trailer[4] = {static_cast<char>(m_check >> 24), static_cast<char>(m_check >> 16),
                                 static_cast<char>(m_check >> 8), static_cast<char>(m_check)};
        sink(trailer, 4, true);
    }
    return true;
}

// Readies the piece after the one just handed over: a free one, a new one while the limit
// allows, else the oldest in flight once it is written.
void PARALLEL_DEFLATE::next_piece(const SINK& sink)
{
    if (m_free.empty() && m_pieces.size() < m_most_pieces) {
        try {
            m_pieces.push_back(std::make_unique<PIECE>());
        } catch (const std::bad_alloc&) {
            out_of_memory_handler(); // not thrown through the stream, which would swallow it
        }
        m_free.push_back(m_pieces.back().get());
    }
    while (m_free.empty())
        write_one(true, sink);
    m_current = m_free.back();
    m_free.pop_back();
    m_current->dictionary = m_window_length;
    std::memcpy(m_current->data() - m_window_length, m_window.get(), m_window_length);
}

} // namespace nuv_zstream_detail
