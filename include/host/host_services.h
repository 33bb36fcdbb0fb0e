// Host services: the small runtime layer the library calls for error reporting,
// configuration, diagnostics, timing, memory figures and path resolution.
//
// On Linux and on Windows alike:
// - internal errors and a lack of memory print one line on stderr and abort(), unless the
//   program installed a handler of its own (abort() ends a Windows process with exit
//   status 3);
// - configuration answers come from NUV_CONFIG ("name" or "name=1|0|on|off|true|false",
//   comma separated);
// - debug lines go to stderr as "[TAG] text";
// - the project output directory is NUV_OUTPUT_DIR, else the current directory, always
//   ending in a separator;
// - names are UTF-8; on Windows every file is opened by its full UTF-16 name in the long
//   "\\?\" form, so neither the ANSI code page nor MAX_PATH limits them.
//
// The host_test namespace at the end lets tests replace configuration answers, capture
// debug lines and substitute stopwatch and memory figures in-process.
#pragma once

#include <nuv/nuv_export.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

/// Boolean type of the configuration service.
typedef bool TENVIK_BOOL;

/// Reports a broken internal invariant and never returns. By default it prints the
/// message, tag, source unit and line on one stderr line and calls abort(); a handler
/// installed with set_internal_error_handler() takes its place.
[[noreturn]] NUV_EXPORT void report_internal_error(const char* message, const char* tag, const char* source,
                                                   int line);

/// A program's own ending for internal errors, called with report_internal_error's
/// arguments. It must not return: it ends the process its own way (say, after removing
/// an output file it was writing). Should it return, the default report and abort() follow.
typedef void (*INTERNAL_ERROR_HANDLER)(const char* message, const char* tag, const char* source, int line);

/// Installs `handler` for every later internal error in the process; null restores the
/// default. Returns the handler it replaces (null for the default).
NUV_EXPORT INTERNAL_ERROR_HANDLER set_internal_error_handler(INTERNAL_ERROR_HANDLER handler);

/// Answers a boolean configuration key; a key that is not configured gets `default_value`.
NUV_EXPORT TENVIK_BOOL config_is_on(const std::string& key, bool default_value);

/// Prints one diagnostic line "[tag] text" built from a printf format and its arguments.
NUV_EXPORT bool debug_message_v(const char* tag, const char* format, va_list args);

/// Variadic form of debug_message_v.
NUV_EXPORT bool debug_message(const char* tag, const char* format, ...) NUV_PRINTF_FORMAT(2, 3);

/// printf into `*out`, replacing its content.
NUV_EXPORT void string_printf(std::string* out, const char* format, ...) NUV_PRINTF_FORMAT(2, 3);

/// Called when memory the library needs cannot be had; never returns. By default it prints
/// "[NUV] Out of memory" on stderr and calls abort(); a handler installed with
/// set_out_of_memory_handler() takes its place.
[[noreturn]] NUV_EXPORT void out_of_memory_handler();

/// A program's own ending for a lack of memory, called on the thread that reports it. It
/// must not return: it ends the process its own way (say, after removing an output file it
/// was writing), and cannot count on allocating anything. Should it return, the default
/// report and abort() follow.
typedef void (*OUT_OF_MEMORY_HANDLER)();

/// Installs `handler` for every later lack of memory in the process; null restores the
/// default. Returns the handler it replaces (null for the default).
NUV_EXPORT OUT_OF_MEMORY_HANDLER set_out_of_memory_handler(OUT_OF_MEMORY_HANDLER handler);

/// Length of a zero-terminated string.
NUV_EXPORT size_t string_length(const char* s);

/// Copies the zero-terminated `src`, terminator included, to `dst`; returns `dst`.
NUV_EXPORT char* string_copy(char* dst, const char* src);

/// Text of `value` in `radix` (2 to 36): lowercase digits, no leading zeros, '-' for
/// negative values.
NUV_EXPORT std::string integer_to_text(long long value, int radix);

/// Measures wall-clock time (mask 1), user CPU time (2) and system CPU time (4).
class NUV_EXPORT STOPWATCH {
public:
    /// A stopwatch for the kinds in `types`; started at once when `start_now` is set.
    STOPWATCH(bool start_now, unsigned types);
    /// Chooses the kinds later readings measure.
    void set_types(unsigned types);
    /// Starts (or restarts) the measurement.
    void start();
    /// Stops the measurement; lap_sec then reports the interval up to this point.
    void stop();
    /// Seconds since start() summed over the kinds in `mask`, stopped or not.
    double lap_sec(unsigned mask) const;

private:
    double elapsed(int kind) const;

    unsigned m_types;
    bool m_running;
    double m_start[3];
    double m_stop[3];
};

/// Allocator statistics; only memory_in_use is filled.
struct MEMORY_BASE_STATS {
    uint64_t memory_allocated_total; ///< Not tracked: 0.
    /// Linux: bytes the allocator has handed out and not freed. Windows: the process's
    /// private bytes, since its C runtime keeps no cheap count of bytes handed out.
    uint64_t memory_in_use;
    uint64_t memory_peak; ///< Not tracked: 0.
};

/// Current allocator statistics of the process.
NUV_EXPORT MEMORY_BASE_STATS memory_global_current();

/// Virtual memory the process uses, in bytes (Windows: total minus available virtual
/// address space).
NUV_EXPORT uint64_t memory_process_virtual_used();

/// Directory for the library's output files (UTF-8): NUV_OUTPUT_DIR when set and not
/// empty, else the current directory, always ending in a separator: a setting that ends in
/// one ('/', or a backslash on Windows) is kept, otherwise the platform's own is added. The text
/// stays valid until the next call.
NUV_EXPORT const char* get_project_output_directory();

namespace FILE_SYSTEM {
/// Opens a file by its full path, however long (see OPENABLE_PATH); null on failure. The
/// mode is fopen's; on Windows a mode without 'b' translates line ends.
NUV_EXPORT FILE* fopen(const char* path, const char* mode);
/// Removes the file `path` (any length, as fopen); false when it could not be removed.
NUV_EXPORT bool remove(const char* path);
} // namespace FILE_SYSTEM

/// The full form of the UTF-8 name `path`, in wide characters. Bytes that are not valid
/// UTF-8 are kept (mapped to U+DC80..U+DCFF) so that every name round-trips.
/// - Linux (UTF-32): the absolute, lexically normalised path: "/a/b/../c" -> L"/a/c".
/// - Windows (UTF-16, surrogate pairs above U+FFFF): GetFullPathNameW's answer ('/'
///   becomes a backslash, "." and ".." resolved) in the long form, written here as the
///   characters themselves: `C:/d/../f` -> `\\?\C:\f`, `\\srv\share\f` -> `\\?\UNC\srv\share\f`;
///   a name already in the `\\?\` form is kept as it is.
NUV_EXPORT std::wstring get_unc_full_path(const char* path);

/// Converts a path from get_unc_full_path back to UTF-8, the narrow encoding of names on
/// every platform.
NUV_EXPORT std::string narrow_platform_path(const std::wstring& path);

/// The character type of names the platform's own open calls take: wchar_t on Windows
/// (_wfopen, CreateFileW), char elsewhere (open, fopen).
#if defined(_WIN32)
typedef wchar_t NUV_PATH_CHAR;
#else
typedef char NUV_PATH_CHAR;
#endif

/// The full name (see get_unc_full_path) under which the platform opens the UTF-8 name
/// `path`, however long it is. Windows: the long \\?\ form, which MAX_PATH does not
/// limit. Elsewhere: a path shorter than PATH_MAX is used as it stands; a longer one is
/// opened directory by directory, each name within NAME_MAX, and named
/// "/proc/self/fd/N/LAST": N is a descriptor of the directory that holds the last name,
/// kept open while the object lives. When a directory on the way cannot be opened, the
/// path is used as it stands, so that opening it fails as it would have.
class NUV_EXPORT OPENABLE_PATH {
public:
    /// Resolves `path`, opening its directories when it is too long for open().
    explicit OPENABLE_PATH(const std::string& path);
    /// Closes the directory descriptor, if one was opened.
    ~OPENABLE_PATH();
    OPENABLE_PATH(const OPENABLE_PATH&) = delete;
    OPENABLE_PATH& operator=(const OPENABLE_PATH&) = delete;

    /// The name to pass to the platform's open calls, or to a standard file buffer.
    const NUV_PATH_CHAR* c_str() const { return m_name.c_str(); }

private:
    std::basic_string<NUV_PATH_CHAR> m_name;
    int m_directory; ///< POSIX: the descriptor behind a "/proc/self/fd" name, or -1.
};

/// Registration of a library with the host's memory service, for the object's lifetime.
class NUV_EXPORT MEMORY_INITIALIZER {
public:
    /// Registers `name` (borrowed: it must outlive the object).
    explicit MEMORY_INITIALIZER(const char* name);
    /// Ends the registration.
    ~MEMORY_INITIALIZER();
    MEMORY_INITIALIZER(const MEMORY_INITIALIZER&) = delete;
    MEMORY_INITIALIZER& operator=(const MEMORY_INITIALIZER&) = delete;

private:
    const char* m_name;
};

/// In-process substitutes for tests. Each setter replaces the real service until it is
/// called again with an empty function (or clear_config()).
namespace host_test {
/// Answers `key` with `value` regardless of NUV_CONFIG.
NUV_EXPORT void set_config(const std::string& key, bool value);
/// Drops every answer given by set_config.
NUV_EXPORT void clear_config();
/// Sends debug lines (tag, text without line end) to `sink` instead of stderr.
NUV_EXPORT void set_debug_sink(std::function<void(const char*, const char*)> sink);
/// Stopwatch readings: `clock(kind)` returns the current reading in seconds of kind
/// 1 (wall clock), 2 (user CPU) or 4 (system CPU).
NUV_EXPORT void set_clock(std::function<double(int)> clock);
/// Memory figures: `in_use()` replaces memory_in_use, `virtual_used()` the virtual size.
NUV_EXPORT void set_memory(std::function<uint64_t()> in_use, std::function<uint64_t()> virtual_used);
/// Names currently registered through MEMORY_INITIALIZER, comma separated.
NUV_EXPORT std::string registered_memory_clients();
} // namespace host_test
