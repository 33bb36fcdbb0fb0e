// String pool: copies of zero-terminated strings kept in large chunks, each string
// costing its characters and one terminator and no allocation of its own. Strings are
// never freed one by one and never de-duplicated; every pointer the manager hands out
// stays valid until the manager is destroyed.
//
// Chunks and managers own their memory exclusively and cannot be copied or moved.
#pragma once

#include <nuv/nuv_export.h>

#include <cstddef>

/// Size of a standard chunk in bytes.
constexpr size_t NUV_STRING_CHUNK_SIZE = 32768;

/// One zero-filled block of bytes; strings are stored from its start upwards.
class NUV_EXPORT NUV_STRING_CHUNK {
public:
    /// Allocates `size` zero bytes, all free.
    explicit NUV_STRING_CHUNK(size_t size);
    /// Releases the block; the chunk that get_next() names is left alone.
    ~NUV_STRING_CHUNK();
    NUV_STRING_CHUNK(const NUV_STRING_CHUNK&) = delete;
    NUV_STRING_CHUNK& operator=(const NUV_STRING_CHUNK&) = delete;

    /// Capacity in bytes, used or not.
    size_t size() const { return static_cast<size_t>(m_end - m_begin); }
    /// Free bytes.
    size_t room() const { return static_cast<size_t>(m_end - m_current); }
    /// True if `s` and its terminator fit in the free bytes; false for a string too long
    /// for a signed 32-bit count (2^31 - 1 characters or more).
    bool can_fit(const char* s) const;
    /// Copies `s` with its terminator and uses `length` bytes, which must be at least the
    /// length of `s` plus one (extra bytes stay zero). Returns the copy, or null when
    /// `length` exceeds room() (nothing changes then).
    const char* write(const char* s, size_t length);
    /// Next (older) chunk of the manager's list, or null.
    NUV_STRING_CHUNK* get_next() { return m_next; }
    /// Sets the next chunk.
    void set_next(NUV_STRING_CHUNK* next) { m_next = next; }

private:
    friend class NUV_STRING_CHUNK_MGR;
    void release();

    NUV_STRING_CHUNK* m_next;
    char* m_begin;
    char* m_end;
    char* m_current;
};

/// A list of chunks, newest first, that stores strings by first fit.
class NUV_EXPORT NUV_STRING_CHUNK_MGR {
public:
    /// Starts with one standard chunk.
    NUV_STRING_CHUNK_MGR();
    /// Releases every chunk; all pointers from write() become invalid.
    ~NUV_STRING_CHUNK_MGR();
    NUV_STRING_CHUNK_MGR(const NUV_STRING_CHUNK_MGR&) = delete;
    NUV_STRING_CHUNK_MGR& operator=(const NUV_STRING_CHUNK_MGR&) = delete;

    /// Stores a copy of `s` in the first chunk with room (newest to oldest), else in a
    /// new chunk put at the head: a standard one, or one of exactly the string's size for
    /// strings longer than 32767 characters. Never returns null.
    const char* write(const char* s);
    /// The newest chunk; walk the others with get_next(). For inspection only.
    NUV_STRING_CHUNK* head() const { return m_head; }

private:
    NUV_STRING_CHUNK* m_head;
};

/// Node of a doubly linked list of borrowed strings; owns nothing.
class NUV_EXPORT NUV_STRING_TABLE_NODE {
public:
    /// A node holding `value` with no neighbours.
    explicit NUV_STRING_TABLE_NODE(const char* value) : m_value(value), m_next(nullptr), m_previous(nullptr)
    {
    }
    /// Copies all three fields.
    NUV_STRING_TABLE_NODE(const NUV_STRING_TABLE_NODE&) = default;
    /// Copies all three fields.
    NUV_STRING_TABLE_NODE& operator=(const NUV_STRING_TABLE_NODE&) = default;
    /// Copies all three fields.
    NUV_STRING_TABLE_NODE& operator=(NUV_STRING_TABLE_NODE&&) = default;

    /// The string.
    const char* value() const { return m_value; }
    /// The following node, or null.
    NUV_STRING_TABLE_NODE* next() const { return m_next; }
    /// The preceding node, or null.
    NUV_STRING_TABLE_NODE* previous() const { return m_previous; }
    /// Sets the following node.
    void set_next(NUV_STRING_TABLE_NODE* next) { m_next = next; }
    /// Sets the preceding node.
    void set_previous(NUV_STRING_TABLE_NODE* previous) { m_previous = previous; }

private:
    const char* m_value;
    NUV_STRING_TABLE_NODE* m_next;
    NUV_STRING_TABLE_NODE* m_previous;
};
