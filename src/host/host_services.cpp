// The host services every platform shares: internal errors, configuration, debug lines,
// strings, the stopwatch, paths as UTF-8 and the test substitutes. What differs by
// platform sits behind host_platform.h (host_posix.cpp, host_windows.cpp).
#include <host/host_services.h>

#include "host_platform.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

namespace {

struct HOST_OVERRIDES {
    std::map<std::string, bool> config;
    std::function<void(const char*, const char*)> debug_sink;
    std::function<double(int)> clock;
    std::function<uint64_t()> in_use;
    std::function<uint64_t()> virtual_used;
    std::vector<std::string> memory_clients;
};

HOST_OVERRIDES& overrides()
{
    static HOST_OVERRIDES s_overrides;
    return s_overrides;
}

// Parses one NUV_CONFIG value; false when the text is not a boolean.
bool parse_bool(const std::string& text, bool* value)
{
    static const std::map<std::string, bool> s_words = {
        {"1", true}, {"on", true}, {"true", true}, {"0", false}, {"off", false}, {"false", false},
    };
    auto it = s_words.find(text);
    if (it == s_words.end())
        return false;
    *value = it->second;
    return true;
}

// Looks `key` up in a NUV_CONFIG list; false when it is not listed.
bool find_in_config_list(const std::string& list, const std::string& key, bool* value)
{
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(',', begin);
        if (end == std::string::npos)
            end = list.size();
        std::string item = list.substr(begin, end - begin);
        size_t eq = item.find('=');
        if (item.substr(0, eq) == key) {
            if (eq == std::string::npos) {
                *value = true;
                return true;
            }
            if (parse_bool(item.substr(eq + 1), value))
                return true;
        }
        begin = end + 1;
    }
    return false;
}

// Current reading of one stopwatch kind (1 wall clock, 2 user CPU, 4 system CPU).
double read_clock(int kind)
{
    const auto& clock = overrides().clock;
    if (clock)
        return clock(kind);
    if (kind == 1) {
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration<double>(now).count();
    }
    return host_platform::cpu_seconds(kind);
}

const int s_clock_kinds[3] = {1, 2, 4};

// Appends the UTF-8 encoding of `c` (at most U+10FFFF).
void append_utf8(std::string* out, uint32_t c)
{
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when it is not a valid,
// shortest-form encoding of a scalar value.
size_t decode_utf8(const std::string& s, size_t i, uint32_t* c)
{
    static const struct {
        unsigned char mask, lead;
        size_t length;
        uint32_t min;
    } s_forms[] = {{0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        *c = b;
        return 1;
    }
    for (const auto& form : s_forms) {
        if ((b & form.mask) != form.lead)
            continue;
        if (i + form.length > s.size())
            return 0;
        uint32_t value = b & static_cast<unsigned char>(~form.mask);
        for (size_t k = 1; k < form.length; ++k) {
            unsigned char next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return 0;
            value = (value << 6) | (next & 0x3F);
        }
        bool surrogate = value >= 0xD800 && value <= 0xDFFF;
        if (value < form.min || value > 0x10FFFF || surrogate)
            return 0;
        *c = value;
        return form.length;
    }
    return 0;
}

// Whether wchar_t holds UTF-16 code units (Windows) rather than whole code points.
constexpr bool s_wide_is_utf16 = sizeof(wchar_t) == 2;

// Appends code point `c` in wide characters: a surrogate pair above U+FFFF in UTF-16.
void append_wide(std::wstring* out, uint32_t c)
{
    if (s_wide_is_utf16 && c >= 0x10000) {
        out->push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
        out->push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out->push_back(static_cast<wchar_t>(c));
    }
}

// Whether text[i] and text[i + 1] are the two halves of one UTF-16 surrogate pair.
bool is_surrogate_pair(const std::wstring& text, size_t i)
{
    if (!s_wide_is_utf16 || i + 1 >= text.size())
        return false;
    const uint32_t high = static_cast<uint32_t>(text[i]), low = static_cast<uint32_t>(text[i + 1]);
    return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF;
}

} // namespace

namespace {
std::atomic<INTERNAL_ERROR_HANDLER> s_internal_error_handler{nullptr};
std::atomic<OUT_OF_MEMORY_HANDLER> s_out_of_memory_handler{nullptr};
} // namespace

INTERNAL_ERROR_HANDLER set_internal_error_handler(INTERNAL_ERROR_HANDLER handler)
{
    return s_internal_error_handler.exchange(handler);
}

void report_internal_error(const char* message, const char* tag, const char* source, int line)
{
    if (INTERNAL_ERROR_HANDLER handler = s_internal_error_handler.load())
        handler(message, tag, source, line);
    std::fprintf(stderr, "[%s] Internal error in %s, line %d: %s\n", tag ? tag : "", source ? source : "",
                 line, message ? message : "");
    std::fflush(stderr);
    std::abort();
}

TENVIK_BOOL config_is_on(const std::string& key, bool default_value)
{
    const auto& config = overrides().config;
    auto it = config.find(key);
    if (it != config.end())
        return it->second;
    std::string list;
    bool value = default_value;
    if (host_platform::environment("NUV_CONFIG", &list) && find_in_config_list(list, key, &value))
        return value;
    return default_value;
}

bool debug_message_v(const char* tag, const char* format, va_list args)
{
    std::string text;
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return false;
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));

    const auto& sink = overrides().debug_sink;
    if (sink) {
        sink(tag, text.c_str());
        return true;
    }
    std::fprintf(stderr, "[%s] %s\n", tag, text.c_str());
    return true;
}

bool debug_message(const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool result = debug_message_v(tag, format, args);
    va_end(args);
    return result;
}

void string_printf(std::string* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    out->clear();
    if (length > 0) {
        out->resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&(*out)[0], out->size(), format, args);
        out->resize(static_cast<size_t>(length));
    }
    va_end(args);
}

OUT_OF_MEMORY_HANDLER set_out_of_memory_handler(OUT_OF_MEMORY_HANDLER handler)
{
    return s_out_of_memory_handler.exchange(handler);
}

void out_of_memory_handler()
{
    if (OUT_OF_MEMORY_HANDLER handler = s_out_of_memory_handler.load())
        handler();
    std::fputs("[NUV] Out of memory\n", stderr);
    std::fflush(stderr);
    std::abort();
}

size_t string_length(const char* s)
{
    return std::strlen(s);
}

char* string_copy(char* dst, const char* src)
{
    return std::strcpy(dst, src);
}

std::string integer_to_text(long long value, int radix)
{
    if (radix < 2 || radix > 36)
        return std::string();
    static const char s_digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    std::string text;
    do {
        text.insert(text.begin(), s_digits[magnitude % static_cast<unsigned>(radix)]);
        magnitude /= static_cast<unsigned>(radix);
    } while (magnitude != 0);
    if (value < 0)
        text.insert(text.begin(), '-');
    return text;
}

STOPWATCH::STOPWATCH(bool start_now, unsigned types)
    : m_types(types), m_running(false), m_start{0, 0, 0}, m_stop{0, 0, 0}
{
    if (start_now)
        start();
}

void STOPWATCH::set_types(unsigned types)
{
    m_types = types;
}

void STOPWATCH::start()
{
    for (int i = 0; i < 3; ++i)
        m_start[i] = m_stop[i] = (m_types & s_clock_kinds[i]) ? read_clock(s_clock_kinds[i]) : 0.0;
    m_running = true;
}

void STOPWATCH::stop()
{
    for (int i = 0; i < 3; ++i)
        m_stop[i] = (m_types & s_clock_kinds[i]) ? read_clock(s_clock_kinds[i]) : 0.0;
    m_running = false;
}

double STOPWATCH::elapsed(int i) const
{
    double end = m_running ? read_clock(s_clock_kinds[i]) : m_stop[i];
    return end - m_start[i];
}

double STOPWATCH::lap_sec(unsigned mask) const
{
    double total = 0.0;
    for (int i = 0; i < 3; ++i)
        if (mask & m_types & s_clock_kinds[i])
            total += elapsed(i);
    return total;
}

MEMORY_BASE_STATS memory_global_current()
{
    MEMORY_BASE_STATS stats{};
    const auto& in_use = overrides().in_use;
    stats.memory_in_use = in_use ? in_use() : host_platform::memory_in_use();
    return stats;
}

uint64_t memory_process_virtual_used()
{
    const auto& virtual_used = overrides().virtual_used;
    return virtual_used ? virtual_used() : host_platform::virtual_memory_used();
}

const char* get_project_output_directory()
{
    static std::string s_directory;
    if (!host_platform::environment("NUV_OUTPUT_DIR", &s_directory) || s_directory.empty()) {
        std::error_code error;
        s_directory = std::filesystem::current_path(error).u8string();
    }
    if (s_directory.empty() || !host_platform::is_separator(s_directory.back()))
        s_directory += static_cast<char>(std::filesystem::path::preferred_separator);
    return s_directory.c_str();
}

std::wstring get_unc_full_path(const char* path)
{
    return host_platform::full_path(path ? path : "");
}

std::string narrow_platform_path(const std::wstring& path)
{
    return host_platform::utf8_from_wide(path);
}

std::wstring host_platform::wide_from_utf8(const std::string& text)
{
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        size_t length = decode_utf8(text, i, &c);
        if (length == 0) {
            c = 0xDC00 + static_cast<unsigned char>(text[i]);
            length = 1;
        }
        append_wide(&wide, c);
        i += length;
    }
    return wide;
}

std::string host_platform::utf8_from_wide(const std::wstring& text)
{
    std::string narrow;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (is_surrogate_pair(text, i))
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        if (c >= 0xDC80 && c <= 0xDCFF)
            narrow.push_back(static_cast<char>(c - 0xDC00));
        else
            append_utf8(&narrow, c > 0x10FFFF ? 0xFFFD : c);
    }
    return narrow;
}

MEMORY_INITIALIZER::MEMORY_INITIALIZER(const char* name) : m_name(name)
{
    overrides().memory_clients.push_back(name);
}

MEMORY_INITIALIZER::~MEMORY_INITIALIZER()
{
    auto& clients = overrides().memory_clients;
    for (auto it = clients.begin(); it != clients.end(); ++it) {
        if (*it == m_name) {
            clients.erase(it);
            break;
        }
    }
}

void host_test::set_config(const std::string& key, bool value)
{
    overrides().config[key] = value;
}

void host_test::clear_config()
{
    overrides().config.clear();
}

void host_test::set_debug_sink(std::function<void(const char*, const char*)> sink)
{
    overrides().debug_sink = std::move(sink);
}

void host_test::set_clock(std::function<double(int)> clock)
{
    overrides().clock = std::move(clock);
}

void host_test::set_memory(std::function<uint64_t()> in_use, std::function<uint64_t()> virtual_used)
{
    overrides().in_use = std::move(in_use);
    overrides().virtual_used = std::move(virtual_used);
}

std::string host_test::registered_memory_clients()
{
    std::string names;
    for (const auto& name : overrides().memory_clients)
        names += (names.empty() ? "" : ",") + name;
    return names;
}
