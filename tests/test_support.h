// Helpers shared by the test programs: what differs between the platforms, a private
// temporary directory, whole-file reads and writes, test data, hex bytes, captured debug
// lines and a byte-string comparison that does not print megabytes.
#pragma once

#include <host/host_services.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN // windows.h without macros such as ERROR, min and max
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define NOGDI
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace test_support {

// What differs between Windows and POSIX systems, kept here so that the tests stay portable:
// WINDOWS; set_env and unset_env (an empty value removes the variable on Windows); aborted(),
// how a death test sees abort() (exit status 3 on Windows); fd_is_open; cpu_seconds(), the
// process's user and system time (Windows' clock() counts wall-clock time); remove_tree, for
// trees of any depth; and repeated_a.
#ifdef _WIN32
constexpr bool WINDOWS = true;
inline constexpr auto set_env = [](const char* name, const char* value) { _putenv_s(name, value); };
inline constexpr auto unset_env = [](const char* name) { _putenv_s(name, ""); };
inline constexpr auto aborted = [] { return ::testing::ExitedWithCode(3); };
inline constexpr auto fd_is_open = [](int fd) { return _get_osfhandle(fd) != -1; };
inline double cpu_seconds()
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](FILETIME t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime); };
    return (ticks(kernel) + ticks(user)) / 1e7;
}
// The C runtime's directory reading stops at 260 characters: the names are listed through
// Win32 here, in the \\?\ form, which has no such limit.
inline void remove_tree(const std::filesystem::path& path)
{
    const std::wstring given = path.wstring(), prefix = L"\\\\?\\";
    const std::wstring top = given.rfind(prefix, 0) == 0 ? given : prefix + given;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((top + L"\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        const std::wstring name = found.cFileName, child = top + L"\\" + name;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(child.c_str());
        else if (name != L"." && name != L"..")
            remove_tree(child);
    }
    FindClose(find);
    RemoveDirectoryW(top.c_str());
}
/// `size` bytes of 'a' (whole MiB), then zeros, without the memory: one block mapped again and
/// again, until the process ends.
inline const char* repeated_a(size_t size)
{
    const size_t block = 1 << 20;
    const HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, block, nullptr);
    char* text = static_cast<char*>(VirtualAlloc(nullptr, size + block, MEM_RESERVE, PAGE_NOACCESS));
    VirtualFree(text, 0, MEM_RELEASE); // room found: the blocks go there
    for (size_t at = 0; at < size; at += block)
        MapViewOfFileEx(section, FILE_MAP_WRITE, 0, 0, block, text + at);
    VirtualAlloc(text + size, block, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
    return static_cast<char*>(std::memset(text, 'a', block));
}
#else
constexpr bool WINDOWS = false;
inline constexpr auto set_env = [](const char* name, const char* value) { setenv(name, value, 1); };
inline constexpr auto unset_env = [](const char* name) { unsetenv(name); };
inline constexpr auto aborted = [] { return ::testing::KilledBySignal(SIGABRT); };
inline constexpr auto fd_is_open = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
inline constexpr auto cpu_seconds = [] { return double(std::clock()) / CLOCKS_PER_SEC; };
inline void remove_tree(const std::filesystem::path& path)
{
    std::error_code ignored; // libstdc++ removes by descriptor, beyond PATH_MAX too
    std::filesystem::remove_all(path, ignored);
}
inline const char* repeated_a(size_t size)
{
    const size_t block = 1 << 20;
    const int fd = memfd_create("a", 0);
    char* text =
        static_cast<char*>(mmap(nullptr, size + 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (ftruncate(fd, block) != 0)
        std::abort();
    for (size_t at = 0; at < size; at += block)
        mmap(text + at, block, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    return static_cast<char*>(std::memset(text, 'a', block));
}
#endif

/// A directory of its own under the temporary directory, removed with everything in it
/// when the object goes: tests never write outside it. A death-test child that runs the
/// test again from its start (always so on Windows) takes over its parent's directory, which
/// it could not remove as it ends by abort().
class TEMP_DIR {
public:
    TEMP_DIR()
    {
        const char* parent = std::getenv("NUV_TEST_DIR");
        if (::testing::internal::InDeathTestChild() && parent) {
            m_path = std::filesystem::u8path(parent);
            return;
        }
        std::random_device random;
        do
            m_path = std::filesystem::temp_directory_path() / ("nuv_test_" + std::to_string(random()));
        while (!std::filesystem::create_directory(m_path));
        set_env("NUV_TEST_DIR", m_path.u8string().c_str());
        m_owner = true;
    }
    ~TEMP_DIR()
    {
        if (m_owner)
            remove_tree(m_path), unset_env("NUV_TEST_DIR");
    }
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;

    /// The directory.
    const std::filesystem::path& path() const { return m_path; }
    /// `name` (UTF-8) inside it, as UTF-8 for the library's const char* parameters.
    std::string file(const std::string& name) const
    {
        return (m_path / std::filesystem::u8path(name)).u8string();
    }

private:
    std::filesystem::path m_path;
    bool m_owner = false;
};

/// Makes a chain of directories with 200-character names below `base`, one at a time, each
/// name within NAME_MAX, and returns its path relative to `base`, starting with "./". The
/// chain goes beyond the platform's limit for whole paths: 25 deep, beyond PATH_MAX from 21
/// on; on Windows 15, beyond MAX_PATH from 2 on and within what wine's host takes. Each
/// directory is made through the host's OPENABLE_PATH, which the long-name tests then check
/// from the other side.
inline std::string make_deep_directories(const std::filesystem::path& base)
{
    std::string deep = ".";
    for (int i = 0; i < (WINDOWS ? 15 : 25); ++i) {
        deep += "/" + std::string(200, char('a' + i % 26));
        std::filesystem::create_directory(OPENABLE_PATH((base / deep).u8string()).c_str());
    }
    return deep;
}

/// The whole content of a file; empty when it cannot be read.
inline std::string read_file(const std::string& utf8_path)
{
    std::ifstream in(std::filesystem::u8path(utf8_path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Replaces the content of a file.
inline void write_file(const std::string& utf8_path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::u8path(utf8_path), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// `text` as a file written in text mode holds it: with "\r\n" line ends on Windows.
inline std::string as_text_file(const std::string& text)
{
    std::string file;
    for (char c : text)
        file += WINDOWS && c == '\n' ? "\r\n" : std::string(1, c);
    return file;
}

/// `size` bytes of test data: words and newlines that compress well, or random bytes that
/// do not. The same seed gives the same bytes.
inline std::string make_data(size_t size, bool compressible, unsigned seed = 7)
{
    static const char* const s_words[] = {"stream ", "buffer ", "deflate ", "cipher ",
                                          "block\n", "the ",    "of "};
    std::mt19937 rng(seed);
    std::string data;
    while (data.size() < size)
        data += compressible ? std::string(s_words[rng() % 7]) : std::string(1, static_cast<char>(rng()));
    data.resize(size);
    return data;
}

/// Bytes from hex digits ("00ff10").
inline std::string from_hex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

/// Compares byte strings, reporting sizes and the first difference instead of the bytes.
inline ::testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    return ::testing::AssertionFailure() << "expected " << expected.size() << " bytes, got " << actual.size()
                                         << ", first difference at " << i;
}

/// Collects the debug lines printed while it exists, as "[TAG] text" (the form they have on
/// stderr).
class DEBUG_LINES {
public:
    DEBUG_LINES()
    {
        host_test::set_debug_sink([this](const char* tag, const char* text) {
            m_lines.push_back("[" + std::string(tag) + "] " + text);
        });
    }
    ~DEBUG_LINES() { host_test::set_debug_sink(nullptr); }
    DEBUG_LINES(const DEBUG_LINES&) = delete;
    DEBUG_LINES& operator=(const DEBUG_LINES&) = delete;

    /// The lines so far, oldest first.
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

} // namespace test_support
