// String pool: chunks of zero-filled bytes and their first-fit manager.
#include <nuv/nuv_string_pool.h>

#include <host/host_services.h>

#include <climits>

namespace {

// The length of `s` as the pool counts it, a signed 32-bit count; false when it is too long
// to count that way.
bool counted_length(const char* s, size_t* length)
{
    *length = string_length(s);
    return *length < static_cast<size_t>(INT_MAX);
}

// Bytes a string needs in a chunk: its length plus one. Writing a string too long to count
// is an internal error.
size_t needed_bytes(const char* s)
{
    size_t length = 0;
    if (!counted_length(s, &length))
        report_internal_error("String too long for the string pool", "NUV", "nuv_string_pool", __LINE__);
    return length + 1;
}

} // namespace

NUV_STRING_CHUNK::NUV_STRING_CHUNK(size_t size)
    : m_next(nullptr), m_begin(nullptr), m_end(nullptr), m_current(nullptr)
{
    m_begin = new char[size]();
    m_current = m_begin;
    m_end = m_begin + size;
}

NUV_STRING_CHUNK::~NUV_STRING_CHUNK()
{
    release();
}

bool NUV_STRING_CHUNK::can_fit(const char* s) const
{
    size_t length = 0;
    return counted_length(s, &length) && length + 1 <= room();
}

const char* NUV_STRING_CHUNK::write(const char* s, size_t length)
{
    if (length > room())
        return nullptr;
    char* copy = string_copy(m_current, s);
    m_current += length;
    return copy;
}

void NUV_STRING_CHUNK::release()
{
    delete[] m_begin;
    m_next = nullptr;
    m_begin = m_end = m_current = nullptr;
}

NUV_STRING_CHUNK_MGR::NUV_STRING_CHUNK_MGR() : m_head(new NUV_STRING_CHUNK(NUV_STRING_CHUNK_SIZE)) {}

NUV_STRING_CHUNK_MGR::~NUV_STRING_CHUNK_MGR()
{
    while (m_head) {
        NUV_STRING_CHUNK* next = m_head->get_next();
        m_head->release();
        delete m_head;
        m_head = next;
    }
}

const char* NUV_STRING_CHUNK_MGR::write(const char* s)
{
    size_t need = needed_bytes(s);
    for (NUV_STRING_CHUNK* chunk = m_head; chunk; chunk = chunk->get_next())
        if (chunk->room() >= need)
            return chunk->write(s, need);

    // No room anywhere: a standard chunk, or one exactly the size of a long string.
    NUV_STRING_CHUNK* chunk =
        new NUV_STRING_CHUNK(need <= NUV_STRING_CHUNK_SIZE ? NUV_STRING_CHUNK_SIZE : need);
    chunk->set_next(m_head);
    m_head = chunk;
    return chunk->write(s, need);
}
