// Regular expressions over Boost.Regex; Boost stays private to this file.
#include <nuv/nuv_regexp.h>

#include <host/host_services.h>

#include <boost/regex.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// The compiled expression and the match results of the last search or match.
struct NUV_REGEXP::IMPL {
    boost::regex m_expression;
    boost::cmatch m_match;
};

bool NUV_REGEXP::m_show_debug_msgs = false;

namespace {

// Perl syntax, or POSIX extended when NUV_REGEXP_POSIX is defined; the environment is
// read once, at the first call of the process.
boost::regex::flag_type syntax_flags()
{
    static const boost::regex::flag_type s_syntax =
        std::getenv("NUV_REGEXP_POSIX") ? boost::regex::extended : boost::regex::perl;
    return s_syntax;
}

std::string text_of(const std::string& text, const NUV_REGEXP::RANGE& range)
{
    return text.substr(range.start, range.end - range.start);
}

} // namespace

NUV_REGEXP::NUV_REGEXP() = default;

NUV_REGEXP::NUV_REGEXP(const std::string& pattern_text, bool case_sensitive)
{
    pattern(pattern_text, case_sensitive);
}

NUV_REGEXP::NUV_REGEXP(const NUV_REGEXP& other)
    : m_pattern(other.m_pattern), m_groups(other.m_groups), m_error(other.m_error),
      m_impl(other.m_impl ? new IMPL(*other.m_impl) : nullptr)
{
}

NUV_REGEXP::NUV_REGEXP(NUV_REGEXP&& other) noexcept
    : m_pattern(std::move(other.m_pattern)), m_groups(std::move(other.m_groups)),
      m_error(std::move(other.m_error)), m_impl(std::move(other.m_impl))
{
}

NUV_REGEXP& NUV_REGEXP::operator=(const NUV_REGEXP& other)
{
    if (this == &other)
        return *this;
    m_impl.reset();
    m_pattern = other.m_pattern;
    m_groups = other.m_groups;
    m_error = other.m_error;
    if (other.m_impl)
        m_impl.reset(new IMPL(*other.m_impl));
    return *this;
}

NUV_REGEXP& NUV_REGEXP::operator=(NUV_REGEXP&& other) noexcept
{
    if (this == &other)
        return *this;
    m_pattern = std::move(other.m_pattern);
    m_groups = std::move(other.m_groups);
    m_error = std::move(other.m_error);
    m_impl.swap(other.m_impl);
    return *this;
}

NUV_REGEXP::~NUV_REGEXP() = default;

bool NUV_REGEXP::operator<(const NUV_REGEXP& other) const
{
    return m_pattern < other.m_pattern;
}

bool NUV_REGEXP::operator<=(const NUV_REGEXP& other) const
{
    return m_pattern <= other.m_pattern;
}

bool NUV_REGEXP::operator>(const NUV_REGEXP& other) const
{
    return m_pattern > other.m_pattern;
}

bool NUV_REGEXP::operator>=(const NUV_REGEXP& other) const
{
    return m_pattern >= other.m_pattern;
}

bool NUV_REGEXP::pattern(const std::string& pattern_text, bool case_sensitive)
{
    boost::regex::flag_type flags = syntax_flags();
    if (!case_sensitive)
        flags |= boost::regex::icase;

    // A failed compilation must leave no compiled pattern behind.
    m_impl.reset();
    std::unique_ptr<IMPL> impl(new IMPL);
    try {
        impl->m_expression.assign(pattern_text.c_str(), flags);
        m_impl = std::move(impl);
        m_pattern = pattern_text;
    } catch (const boost::regex_error& error) {
        m_error = error.what();
    }

    // Existing entries (old ranges included) survive; new ones start as (0, 0).
    size_t wanted = m_impl ? m_impl->m_expression.mark_count() + 1 : 1;
    if (m_groups.size() != wanted)
        m_groups.resize(wanted);
    return is_pattern_valid();
}

NUV_REGEXP::RANGE NUV_REGEXP::search(const std::string& text, size_t start, size_t length)
{
    if (start > text.size())
        start = text.size();
    size_t rest = text.size() - start;
    size_t window = length < rest ? length : rest;

    // The considered text ends at the window's end or its first zero character. Boost
    // never reads outside [first, last) under the default match flags, so searching the
    // caller's characters in place gives the same result as a zero-terminated copy.
    const char* first = text.data() + start;
    const char* zero = static_cast<const char*>(std::memchr(first, 0, window));
    const char* last = zero ? zero : first + window;

    bool found = false;
    if (m_impl) {
        try {
            found = boost::regex_search(first, last, m_impl->m_match, m_impl->m_expression);
        } catch (const std::runtime_error& error) {
            m_error = error.what();
        }
    }
    if (found)
        set_groups_from_match(first, start);
    else
        set_whole_match_not_found();

    if (m_show_debug_msgs)
        debug_search(text, std::string(first, last), found);
    return m_groups.empty() ? not_found() : m_groups[0];
}

int NUV_REGEXP::match(const char* text, size_t, size_t)
{
    int result = -1;
    if (m_impl) {
        const char* last = text + std::strlen(text);
        bool matched = false;
        try {
            matched = boost::regex_match(text, last, m_impl->m_match, m_impl->m_expression);
        } catch (const std::runtime_error& error) {
            m_error = error.what();
        }
        if (matched) {
            set_groups_from_match(text, 0);
            result = static_cast<int>(last - text);
        }
    }
    if (result < 0)
        set_whole_match_not_found();

    if (m_show_debug_msgs)
        std::printf("match:'%s' str:'%s' = %d\n", m_pattern.c_str(), text, result);
    return result;
}

int NUV_REGEXP::match(const std::string& text, size_t start, size_t length)
{
    return match(text.c_str(), start, length);
}

// Both tests fill match results of their own: without them Boost accepts any match and
// stops early, so under leftmost-longest it would not go on to the alternatives that
// make the matcher give up, and the error would not reach the caller.
bool NUV_REGEXP::match_exists(const std::string& text) const
{
    boost::smatch match;
    return m_impl && boost::regex_search(text.begin(), text.end(), match, m_impl->m_expression);
}

bool NUV_REGEXP::exact_match_exists(const std::string& text) const
{
    boost::smatch match;
    return m_impl && boost::regex_match(text.begin(), text.end(), match, m_impl->m_expression);
}

size_t NUV_REGEXP::replace(std::string& text, const std::string& replacement, bool all, size_t start,
                           size_t length)
{
    size_t rest = start < text.size() ? text.size() - start : 0;
    size_t window = length < rest ? length : rest;

    RANGE found = search(text, start, window);
    if (found == not_found() || found.start == found.end)
        return 0;
    text.replace(found.start, found.end - found.start, replacement);
    size_t count = 1;
    if (!all)
        return count;

    // Go on after the inserted text, over what is left of the original window.
    size_t position = start;
    for (;;) {
        window -= found.end - position;
        position = found.start + replacement.size();
        if (window == 0)
            break;
        found = search(text, position, window);
        if (found == not_found() || found.start == found.end)
            break;
        text.replace(found.start, found.end - found.start, replacement);
        ++count;
    }
    return count;
}

size_t NUV_REGEXP::groups() const
{
    return m_groups.empty() ? 0 : m_groups.size() - 1;
}

NUV_REGEXP::RANGE NUV_REGEXP::group(size_t i) const
{
    // An end of 0 marks an entry that no search has set.
    if (i >= m_groups.size() || m_groups[i].end == 0)
        return not_found();
    return m_groups[i];
}

void NUV_REGEXP::enable_debug_msgs(bool on)
{
    m_show_debug_msgs = on;
}

// Converts the sub-matches of the last search or match into offsets: position minus
// `considered` (start of the text searched) plus `offset`.
void NUV_REGEXP::set_groups_from_match(const char* considered, size_t offset)
{
    const boost::cmatch& match = m_impl->m_match;
    for (size_t i = 0; i < m_groups.size() && i < match.size(); ++i) {
        m_groups[i] = RANGE(static_cast<uint64_t>(match[i].first - considered) + offset,
                            static_cast<uint64_t>(match[i].second - considered) + offset);
    }
}

// A failure resets only the whole-match entry; the groups keep earlier ranges.
void NUV_REGEXP::set_whole_match_not_found()
{
    if (!m_groups.empty())
        m_groups[0] = not_found();
}

void NUV_REGEXP::debug_search(const std::string& text, const std::string& considered, bool found) const
{
    if (!found) {
        debug_message("NUV", "pattern:'%s' str:'%s' failed", m_pattern.c_str(), considered.c_str());
        return;
    }
    debug_message("NUV", "pattern:'%s' str:'%s' matched:'%s'", m_pattern.c_str(), considered.c_str(),
                  text_of(text, m_groups[0]).c_str());
    for (size_t i = 1; i < m_groups.size(); ++i)
        debug_message("NUV", "\tgroup(%d):'%s'", static_cast<int>(i), text_of(text, m_groups[i]).c_str());
}
