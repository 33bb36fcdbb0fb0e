// What the host services ask of the operating system. host_services.cpp holds everything
// the platforms share; host_posix.cpp and host_windows.cpp each answer these for theirs.
#pragma once

#include <cstdint>
#include <string>

namespace host_platform {

/// CPU time of the process in seconds: kind 2 user time, kind 4 system time.
double cpu_seconds(int kind);

/// The memory figure behind memory_in_use (see host_services.h).
uint64_t memory_in_use();

/// Virtual memory the process uses, in bytes.
uint64_t virtual_memory_used();

/// The value of environment variable `name` in UTF-8; false when it is not set.
bool environment(const char* name, std::string* value);

/// The full, normalised form of the UTF-8 name `path`, as get_unc_full_path returns it.
std::wstring full_path(const std::string& path);

/// Whether `c` separates directories in a name.
bool is_separator(char c);

// Shared conversions, defined in host_services.cpp.

/// UTF-8 to wide characters (UTF-16 where wchar_t has 16 bits, else UTF-32). Each byte
/// that is not part of valid UTF-8 becomes U+DC00 + byte, so that every name round-trips.
std::wstring wide_from_utf8(const std::string& text);

/// The inverse of wide_from_utf8.
std::string utf8_from_wide(const std::wstring& text);

} // namespace host_platform
