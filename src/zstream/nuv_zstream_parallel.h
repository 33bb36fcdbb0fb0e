// Parallel deflate for the writing stream buffer; internal to the library.
//
// The body is cut into pieces of NUV_DEFLATE_PIECE_SIZE bytes (shorter where the caller
// flushes). Each piece is deflated as raw deflate data by a worker thread, with the 32 KiB of
// input before it as dictionary, and ends on a byte boundary with a sync flush (the last one
// with the final block), so the pieces joined in order form one deflate stream. The check
// value (Adler-32 or CRC-32) is computed per piece on the workers and combined on the
// caller's thread. The bytes depend on the pieces alone, never on the number of workers or
// on which worker took which piece.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace nuv_zstream_detail {

class PARALLEL_DEFLATE {
public:
    /// Receives the body's bytes in order; `final` marks the last call of the body.
    using SINK = std::function<void(const char* bytes, size_t length, bool final)>;

    /// Starts `workers` threads deflating at the valid zlib `level` (Z_NO_COMPRESSION to 9 or
    /// Z_DEFAULT_COMPRESSION). `zlib_wrapper` frames the body as a zlib stream (header and
    /// Adler-32), else it is raw deflate data whose CRC-32 check() gives. Threads that cannot
    /// be started are done without: with none at all, pieces are deflated on the caller's
    /// thread, to the same bytes. The workers' zlib states allocate with `allocate` (zlib's
    /// own when null), which gives null when memory cannot be had.
    PARALLEL_DEFLATE(int workers, int level, bool zlib_wrapper, alloc_func allocate = nullptr);
    /// Stops and joins the workers; pieces not yet written are dropped.
    ~PARALLEL_DEFLATE();
    PARALLEL_DEFLATE(const PARALLEL_DEFLATE&) = delete;
    PARALLEL_DEFLATE& operator=(const PARALLEL_DEFLATE&) = delete;

    /// Room for the current piece's input: the caller's put area.
    char* piece_begin() const;
    char* piece_end() const;

    /// Hands the first `length` bytes of the current piece to the workers (`last`: it ends
    /// the stream), writes to `sink` the pieces that are finished, and readies the next
    /// piece, waiting for the oldest when all are in use. A piece whose worker could not get
    /// memory ends the process through out_of_memory_handler(), on this thread. Returns
    /// false when deflate failed otherwise (status() says how).
    bool submit(size_t length, bool last, const SINK& sink);
    /// Waits for every piece handed over and writes them to `sink` in order.
    bool drain(const SINK& sink);

    /// Z_OK, or the first deflate error of a piece.
    int status() const { return m_status; }
    /// The CRC-32 (raw deflate) or Adler-32 (zlib) of the input written so far.
    uint32_t check() const { return m_check; }
    /// Input bytes handed over so far.
    uint64_t total_in() const { return m_total_in; }

private:
    struct PIECE;

    void work();
    void deflate_piece(z_stream& state, bool& ready, PIECE& piece) const;
    bool write_one(bool wait, const SINK& sink);
    void next_piece(const SINK& sink);

    const int m_level;
    const bool m_zlib_wrapper;
    const alloc_func m_allocate;
    const size_t m_most_pieces;
    std::vector<std::unique_ptr<PIECE>> m_pieces; // every piece allocated, owned here
    std::vector<PIECE*> m_free;
    PIECE* m_current = nullptr;
    char m_header[2];
    bool m_header_written = false;
    int m_status = Z_OK;
    uint32_t m_check;
    uint64_t m_total_in = 0;
    std::unique_ptr<char[]> m_window; // the input before the current piece
    size_t m_window_length = 0;

    // Shared with the workers, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_work_ready;
    std::condition_variable m_piece_done;
    std::deque<PIECE*> m_jobs;     // handed over, not yet taken by a worker
    std::deque<PIECE*> m_in_order; // handed over, not yet written
    bool m_stopping = false;

    std::vector<std::thread> m_workers;
    z_stream m_inline_state{}; // deflates on the caller's thread when no worker started
    bool m_inline_ready = false;
};

} // namespace nuv_zstream_detail
