// Regular expressions over narrow text: compile once, then search, match, test and
// replace, with every position reported as a pair of character offsets.
//
// Syntax: Perl, or POSIX extended when the environment variable NUV_REGEXP_POSIX is
// defined (any value) at the first pattern() call of the process; the choice then holds
// for the whole process.
//
// Errors: an invalid pattern, or a matcher that gives up on a too complex expression
// inside search()/match(), is not raised to the caller; its message is kept and read
// with get_error(). match_exists() and exact_match_exists() let the matcher's error
// through as std::runtime_error (the base of boost::regex_error; with Boost 1.74 the
// matcher's "complexity exceeded" error is a plain std::runtime_error), so clients catch
// it without Boost headers.
//
// Debug lines (enable_debug_msgs) go through the host's debug service with tag "NUV",
// except match()'s line, which is printed to standard output.
//
// Example: examples/regex_replace.cpp
#pragma once

#include <nuv/nuv_export.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One compiled pattern and the group offsets of its last search or match.
class NUV_EXPORT NUV_REGEXP {
public:
    /// Offsets of a match or group in the subject text: [start, end).
    class RANGE {
    public:
        /// (0, 0).
        RANGE() = default;
        /// [first, last).
        RANGE(uint64_t first, uint64_t last) : start(first), end(last) {}
        /// Both offsets equal.
        bool operator==(const RANGE& other) const { return start == other.start && end == other.end; }
        /// Some offset differs.
        bool operator!=(const RANGE& other) const { return !(*this == other); }

        uint64_t start = 0; ///< Offset of the first character.
        uint64_t end = 0;   ///< Offset one past the last character.
    };

    /// No pattern; is_pattern_valid() is false.
    NUV_REGEXP();
    /// Compiles `pattern_text` as pattern() does; check is_pattern_valid() afterwards.
    NUV_REGEXP(const std::string& pattern_text, bool case_sensitive);
    /// Copies pattern, groups, error text and the compiled expression (no recompilation).
    NUV_REGEXP(const NUV_REGEXP& other);
    /// Takes the other object's state; the other is left without a compiled pattern.
    NUV_REGEXP(NUV_REGEXP&& other) noexcept;
    /// As the copy constructor; assigning an object to itself changes nothing.
    NUV_REGEXP& operator=(const NUV_REGEXP& other);
    /// Takes strings and groups, and exchanges the compiled expressions.
    NUV_REGEXP& operator=(NUV_REGEXP&& other) noexcept;
    /// Releases the compiled expression.
    ~NUV_REGEXP();

    /// Orders objects by their pattern text, byte-wise.
    bool operator<(const NUV_REGEXP& other) const;
    bool operator<=(const NUV_REGEXP& other) const; ///< See operator<.
    bool operator>(const NUV_REGEXP& other) const;  ///< See operator<.
    bool operator>=(const NUV_REGEXP& other) const; ///< See operator<.

    /// Compiles a new pattern (up to its first zero character); icase when
    /// `case_sensitive` is false. On failure the compiled pattern is gone, get_pattern()
    /// keeps the last good text and get_error() holds the message. The group table is
    /// resized to groups + 1 entries (1 on failure), keeping existing entries.
    bool pattern(const std::string& pattern_text, bool case_sensitive);
    /// True while a compiled pattern is held.
    bool is_pattern_valid() const { return m_impl != nullptr; }
    /// Text of the last pattern that compiled.
    const std::string& get_pattern() const { return m_pattern; }
    /// Message of the last error caught by pattern(), search() or match(); never cleared.
    const std::string& get_error() const { return m_error; }

    /// Searches text[start, start + length) (length npos or past the end: the rest),
    /// which also ends at its first zero character. Returns the whole match as offsets
    /// into `text`, or not_found(); fills the group table. A `start` beyond the end of
    /// `text` counts as the end.
    RANGE search(const std::string& text, size_t start, size_t length);
    /// Tests whether the pattern matches the whole zero-terminated `text`. Returns its
    /// length on a match, else -1; fills the group table with offsets from `text`.
    /// `start` and `length` are accepted for symmetry with search() and take no part:
    /// the whole text is always matched.
    int match(const char* text, size_t start, size_t length);
    /// As match(text.c_str(), start, length).
    int match(const std::string& text, size_t start, size_t length);
    /// True if the pattern occurs anywhere in `text` (embedded zeros included). Leaves
    /// the group table alone; false without a compiled pattern. A matcher error passes
    /// to the caller as std::runtime_error.
    bool match_exists(const std::string& text) const;
    /// True if the pattern matches all of `text`; otherwise as match_exists().
    bool exact_match_exists(const std::string& text) const;
    /// Replaces the first match in text[start, start + length), or with `all` every
    /// match in turn, by `replacement` taken literally; text inserted is never searched
    /// again. Stops at the first empty match. Returns the number of replacements.
    size_t replace(std::string& text, const std::string& replacement, bool all, size_t start, size_t length);

    /// Number of capturing groups of the last compiled pattern (0 when none).
    size_t groups() const;
    /// Range of group `i` (0: whole match) from the last search or match; not_found()
    /// when `i` is out of range or the entry's end is 0 (never set).
    RANGE group(size_t i) const;
    /// The (npos, npos) range.
    static RANGE not_found() { return RANGE(std::string::npos, std::string::npos); }
    /// Turns debug lines on or off for every object of the process.
    static void enable_debug_msgs(bool on);

private:
    struct IMPL;

    void set_groups_from_match(const char* considered, size_t offset);
    void set_whole_match_not_found();
    void debug_search(const std::string& text, const std::string& considered, bool found) const;

    std::string m_pattern;
    std::vector<RANGE> m_groups;
    std::string m_error;
    std::unique_ptr<IMPL> m_impl;

    static bool m_show_debug_msgs;
};
