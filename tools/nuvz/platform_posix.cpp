// nuvz on POSIX systems: stat and lstat, access, /dev/tty with termios, fcntl.
#include "platform.h"

#include <host/host_services.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nuvz {

int stat_name(const std::string& name, struct stat* info, bool follow_link)
{
    const OPENABLE_PATH path(name);
    return follow_link ? ::stat(path.c_str(), info) : ::lstat(path.c_str(), info);
}

std::string unreadable_reason(const std::string& name)
{
    struct stat info;
    if (stat_name(name, &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (::access(OPENABLE_PATH(name).c_str(), R_OK) != 0)
        return std::strerror(errno);
    return std::string();
}

uint64_t file_size(const std::string& name)
{
    struct stat info;
    return stat_name(name, &info) == 0 && S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
}

bool ask_on_terminal(const std::string& prompt, std::string* answer)
{
    const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return false;
    termios saved;
    const bool quiet = ::tcgetattr(terminal, &saved) == 0;
    if (quiet) {
        termios no_echo = saved;
        no_echo.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(terminal, TCSAFLUSH, &no_echo);
    }
    bool written = ::write(terminal, prompt.data(), prompt.size()) == ssize_t(prompt.size());
    answer->clear();
    char c = 0;
    while (::read(terminal, &c, 1) == 1 && c != '\n')
        answer->push_back(c);
    written = ::write(terminal, "\n", 1) == 1 && written;
    if (quiet)
        ::tcsetattr(terminal, TCSAFLUSH, &saved);
    ::close(terminal);
    return written;
}

std::string standard_output_problem()
{
    if (::isatty(STDOUT_FILENO))
        return "will not write packed data to a terminal: redirect standard output or name OUT";
    struct stat info;
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 && (flags & O_APPEND))
        return "standard output is a file opened for appending: name OUT instead";
    return std::string();
}

} // namespace nuvz
