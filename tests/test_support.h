// Helpers shared by the test programs: a private temporary directory, whole-file reads and
// writes, test data, hex bytes, captured debug lines and a byte-string comparison that
// does not print megabytes.
#pragma once

#include <host/host_services.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

/// A directory of its own under the temporary directory, removed with everything in it
/// when the object goes: tests never write outside it.
class TEMP_DIR {
public:
    TEMP_DIR()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "nuv_test_XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp"); // no fallback to a directory this test did not create
            std::abort();
        }
        m_path = pattern;
    }
    ~TEMP_DIR()
    {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            remove_below(fd);
        ::rmdir(m_path.c_str());
    }
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;

    /// The directory.
    const std::filesystem::path& path() const { return m_path; }
    /// `name` inside it, as a string for the library's const char* parameters.
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    // Removes everything in the directory `fd` and closes it. Works by descriptor, so trees
    // deeper than PATH_MAX go too.
    static void remove_below(int fd)
    {
        DIR* directory = ::fdopendir(fd);
        while (const dirent* entry = directory ? ::readdir(directory) : nullptr) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                remove_below(child);
            ::unlinkat(fd, name.c_str(), child >= 0 ? AT_REMOVEDIR : 0);
        }
        directory ? ::closedir(directory) : ::close(fd);
    }

    std::filesystem::path m_path;
};

/// Makes a chain of `count` directories with 200-character names below `base`, one at a
/// time (beyond PATH_MAX from 21 on, though each name stays within NAME_MAX), and returns
/// its path relative to `base`, starting with "./". Each mkdir goes through the host's
/// OPENABLE_PATH, which the long-name tests then check from the other side.
inline std::string make_deep_directories(const std::filesystem::path& base, int count)
{
    std::string deep = ".";
    for (int i = 0; i < count; ++i) {
        deep += "/" + std::string(200, char('a' + i % 26));
        ::mkdir(OPENABLE_PATH((base / deep).string()).c_str(), 0700);
    }
    return deep;
}

/// The whole content of a file; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Replaces the content of a file.
inline void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
