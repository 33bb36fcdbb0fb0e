// The host services' Windows side: CPU times and memory figures from Win32, names made
// full by GetFullPathNameW and opened in their long \\?\ form, and the DLL's entry point.
#include <host/host_services.h>

#include "host_platform.h"

#include <windows.h>

#include <psapi.h>

#include <cstdlib>

namespace {

const wchar_t s_long_prefix[] = L"\\\\?\\";
const wchar_t s_long_unc_prefix[] = L"\\\\?\\UNC\\";
const wchar_t s_device_prefix[] = L"\\\\.\\";

bool starts_with(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// FILETIME counts 100-nanosecond ticks.
double seconds(const FILETIME& time)
{
    const uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) * 1e-7;
}

// GetFullPathNameW's answer for `name`, or an empty text when it has none.
std::wstring full_path_name(const std::wstring& name)
{
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return full;
}

} // namespace

double host_platform::cpu_seconds(int kind)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0.0;
    return kind == 2 ? seconds(user) : seconds(kernel);
}

// The process's private bytes: PagefileUsage, the commit charge, is the same figure as the
// extended counters' PrivateUsage, and wine fills only the former.
uint64_t host_platform::memory_in_use()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

uint64_t host_platform::virtual_memory_used()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalVirtual - status.ullAvailVirtual : 0;
}

bool host_platform::environment(const char* name, std::string* value)
{
    const wchar_t* setting = _wgetenv(wide_from_utf8(name).c_str());
    if (setting)
        *value = utf8_from_wide(setting);
    return setting != nullptr;
}

// Drive paths become \\?\C:\..., \\server\share paths \\?\UNC\server\share\...; names
// already long, device names and names Windows cannot make full are kept as they are.
std::wstring host_platform::full_path(const std::string& path)
{
    const std::wstring name = wide_from_utf8(path);
    if (starts_with(name, s_long_prefix))
        return name;
    const std::wstring full = full_path_name(name);
    if (full.empty() || starts_with(full, s_device_prefix))
        return full.empty() ? name : full;
    if (starts_with(full, L"\\\\"))
        return s_long_unc_prefix + full.substr(2);
    return s_long_prefix + full;
}

bool host_platform::is_separator(char c)
{
    return c == '/' || c == '\\';
}

FILE* FILE_SYSTEM::fopen(const char* path, const char* mode)
{
    const OPENABLE_PATH name(path);
    return _wfopen(name.c_str(), host_platform::wide_from_utf8(mode).c_str());
}

bool FILE_SYSTEM::remove(const char* path)
{
    const OPENABLE_PATH name(path);
    return DeleteFileW(name.c_str()) != 0;
}

OPENABLE_PATH::OPENABLE_PATH(const std::string& path)
    : m_name(get_unc_full_path(path.c_str())), m_directory(-1)
{
}

OPENABLE_PATH::~OPENABLE_PATH() {}

// The library needs no per-thread notifications: turning them off spares every thread
// start and end a call into the library.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
