// The host services' POSIX side: CPU times from getrusage, memory figures from the
// allocator and /proc, and names opened however long they are.
#include <host/host_services.h>

#include "host_platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

double seconds(const timeval& tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

} // namespace

double host_platform::cpu_seconds(int kind)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return kind == 2 ? seconds(usage.ru_utime) : seconds(usage.ru_stime);
}

// Bytes handed out by the allocator in use: glibc's malloc, or the sanitizer's own.
uint64_t host_platform::memory_in_use()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

uint64_t host_platform::virtual_memory_used()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long long pages = 0;
    int fields = std::fscanf(statm, "%llu", &pages);
    std::fclose(statm);
    return fields == 1 ? pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

bool host_platform::environment(const char* name, std::string* value)
{
    const char* setting = std::getenv(name);
    if (setting)
        *value = setting;
    return setting != nullptr;
}

std::wstring host_platform::full_path(const std::string& path)
{
    std::filesystem::path full(path);
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(full, error);
    if (!error)
        full = absolute;
    return wide_from_utf8(full.lexically_normal().string());
}

bool host_platform::is_separator(char c)
{
    return c == '/';
}

FILE* FILE_SYSTEM::fopen(const char* path, const char* mode)
{
    const OPENABLE_PATH name(path);
    return std::fopen(name.c_str(), mode);
}

bool FILE_SYSTEM::remove(const char* path)
{
    const OPENABLE_PATH name(path);
    return ::unlink(name.c_str()) == 0;
}

OPENABLE_PATH::OPENABLE_PATH(const std::string& path)
    : m_name(narrow_platform_path(get_unc_full_path(path.c_str()))), m_directory(-1)
{
    const std::string full = m_name;
    const size_t last_slash = full.rfind('/');
    if (full.size() < PATH_MAX || last_slash == std::string::npos || last_slash + 1 == full.size())
        return;
    // Relative only when the current directory is itself too long to be named.
    int directory = ::open(full[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (size_t begin = 0; directory >= 0 && begin < last_slash;) {
        const size_t end = full.find('/', begin);
        const std::string name = full.substr(begin, end - begin);
        begin = end + 1;
        if (name.empty())
            continue;
        const int next = ::openat(directory, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(directory);
        directory = next;
    }
    if (directory < 0)
        return;
    m_directory = directory;
    m_name = "/proc/self/fd/" + std::to_string(directory) + full.substr(last_slash);
}

OPENABLE_PATH::~OPENABLE_PATH()
{
    if (m_directory >= 0)
        ::close(m_directory);
}
