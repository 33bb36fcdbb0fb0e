// Shared by the test programs that work on files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;

    /// The directory.
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};
