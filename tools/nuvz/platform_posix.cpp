// nuvz on POSIX systems: stat and lstat, access, exclusive creation and atomic renames,
// /dev/tty with termios, fcntl, and /dev/stdin and /dev/stdout for the standard streams.
#include "nuvz.h"

#include <host/host_services.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace nuvz {

std::vector<std::string> start_process(int argc, char** argv)
{
    // A reader that goes away makes writes fail with EPIPE, which ends the command with exit
    // status 1 and its clean-up, instead of a signal.
    std::signal(SIGPIPE, SIG_IGN);
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool file_status(const std::string& name, FILE_STATUS* status, bool follow_link)
{
    const OPENABLE_PATH path(name);
    struct stat info;
    if ((follow_link ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0)
        return false;
    status->directory = S_ISDIR(info.st_mode);
    status->regular = S_ISREG(info.st_mode);
    status->size = status->regular ? uint64_t(info.st_size) : 0;
    status->volume = uint64_t(info.st_dev);
    status->index = uint64_t(info.st_ino);
    return true;
}

int read_access_error(const std::string& name)
{
    return ::access(OPENABLE_PATH(name).c_str(), R_OK) == 0 ? 0 : errno;
}

int open_error(const std::string&, int error)
{
    return error;
}

bool remove_path(const OPENABLE_PATH& path)
{
    return ::unlink(path.c_str()) == 0;
}

// An open file can be removed here: nothing to release.
void release_open_files() {}

bool create_new_file(const OPENABLE_PATH& path)
{
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return file >= 0 && ::close(file) == 0;
}

bool sync_file(const OPENABLE_PATH& path)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = file >= 0 && ::fsync(file) == 0;
    const int error = errno;
    if (file >= 0)
        ::close(file);
    errno = error;
    return synced;
}

bool rename_file(const OPENABLE_PATH& from, const OPENABLE_PATH& to, bool replace)
{
    if (replace)
        return ::rename(from.c_str(), to.c_str()) == 0;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // A file system without the no-replace rename: a second link fails just as well when
    // the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool is_terminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream));
}

bool standard_output_appends()
{
    struct stat info;
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    return ::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 && (flags & O_APPEND);
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

std::FILE* duplicate_standard_input()
{
    const int descriptor = ::dup(STDIN_FILENO);
    std::FILE* input = descriptor < 0 ? nullptr : ::fdopen(descriptor, "rb");
    if (!input && descriptor >= 0)
        ::close(descriptor);
    return input;
}

// The standard streams have names of their own here: nothing to relay.
STREAM_NAME::STREAM_NAME(const std::string& name, bool output)
    : m_name(!is_standard(name) ? name
             : output           ? "/dev/stdout"
                                : "/dev/stdin")
{
}

STREAM_NAME::~STREAM_NAME() {}

bool STREAM_NAME::finish()
{
    return true;
}

} // namespace nuvz
