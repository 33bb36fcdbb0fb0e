// nuvz on POSIX systems: stat and lstat, access, exclusive creation and atomic renames,
// signals, /dev/tty with termios, fcntl, and /dev/stdin and /dev/stdout for the standard
// streams (or a pipe relaying what is read ahead).
#include "nuvz.h"

#include <host/host_services.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

namespace nuvz {
namespace {

const int s_interrupts[] = {SIGINT, SIGTERM, SIGHUP};

// The terminal whose echo ask_on_terminal() turned off, and its settings before, for a
// signal that ends the process meanwhile. Set before the echo goes off, cleared after it
// came back.
volatile std::sig_atomic_t s_echo_off = 0;
int s_terminal = -1;
termios s_terminal_saved;

sigset_t interrupt_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : s_interrupts)
        sigaddset(&set, signal);
    return set;
}

// Removes the output's temporary file and puts the echo back, then lets the signal end the
// process as it would have, so that the parent sees 128 + N. Only async-signal-safe calls.
void end_on_signal(int signal)
{
    remove_prepared_file(true);
    if (s_echo_off)
        ::tcsetattr(s_terminal, TCSAFLUSH, &s_terminal_saved);
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
}

} // namespace

std::vector<std::string> start_process(int argc, char** argv)
{
    // A reader that goes away makes writes fail with EPIPE, which ends the command with exit
    // status 1 and its clean-up, instead of a signal.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = end_on_signal;
    action.sa_mask = interrupt_set(); // one clean-up at a time
    for (int signal : s_interrupts) {
        struct sigaction before;
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
    return std::vector<std::string>(argv + 1, argv + argc);
}

// Signals end the process from their handler: nothing is handed over.
void end_if_interrupted() {}

INTERRUPTS_HELD::INTERRUPTS_HELD()
{
    static_assert(sizeof(sigset_t) <= sizeof m_saved, "room for a signal mask");
    const sigset_t set = interrupt_set();
    ::pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(m_saved));
}

INTERRUPTS_HELD::~INTERRUPTS_HELD()
{
    ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(m_saved), nullptr);
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
    const bool quiet = ::tcgetattr(terminal, &s_terminal_saved) == 0;
    if (quiet) {
        termios no_echo = s_terminal_saved;
        no_echo.c_lflag &= ~tcflag_t(ECHO);
        s_terminal = terminal;
        s_echo_off = 1;
        ::tcsetattr(terminal, TCSAFLUSH, &no_echo);
    }
    bool written = ::write(terminal, prompt.data(), prompt.size()) == ssize_t(prompt.size());
    answer->clear();
    char c = 0;
    while (::read(terminal, &c, 1) == 1 && c != '\n')
        answer->push_back(c);
    written = ::write(terminal, "\n", 1) == 1 && written;
    if (quiet) {
        ::tcsetattr(terminal, TCSAFLUSH, &s_terminal_saved);
        s_echo_off = 0;
    }
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

namespace {

// Writes the `size` bytes at `data`; false when the reader went away.
bool write_all(int descriptor, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(descriptor, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

// Reads into the `size` bytes at `data`; how many it got, fewer only at the end or on an
// error.
size_t read_fully(int descriptor, char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(descriptor, data + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return done;
}

// Copies `head`, then the rest of `source`, into the pipe `sink` until the source ends or
// the reader goes away; then closes both.
void relay(int source, int sink, const std::string& head)
{
    std::vector<char> buffer(size_t(1) << 16);
    bool open = write_all(sink, head.data(), head.size());
    while (open) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        open = got > 0 && write_all(sink, buffer.data(), size_t(got));
    }
    ::close(sink);
    if (source != STDIN_FILENO)
        ::close(source);
}

} // namespace

// The reading end of the pipe that a relay fills.
struct STREAM_NAME::RELAY {
    int reader;
};

// The standard streams have names of their own here; only a head read ahead of what can be
// read once needs a relay.
STREAM_NAME::STREAM_NAME(const std::string& name, bool output, size_t ahead)
    : m_name(!is_standard(name) ? name
             : output           ? "/dev/stdout"
                                : "/dev/stdin")
{
    if (output || ahead == 0)
        return;
    FILE_STATUS status;
    if (!is_standard(name) && (!file_status(name, &status) || status.regular)) {
        m_head = read_head(name, ahead);
        return;
    }
    const int source = is_standard(name) ? STDIN_FILENO : ::open(OPENABLE_PATH(name).c_str(), O_RDONLY);
    int ends[2];
    if (source < 0 || ::pipe(ends) != 0) {
        if (source > STDIN_FILENO)
            ::close(source);
        return; // the stream's open then fails, and says why
    }
    m_head.resize(ahead);
    m_head.resize(read_fully(source, &m_head[0], ahead));
    m_name = "/dev/fd/" + std::to_string(ends[0]);
    m_relay = new RELAY{ends[0]};
    const INTERRUPTS_HELD held; // the thread inherits the mask: interrupts stay the main thread's
    std::thread(relay, source, ends[1], m_head).detach();
}

STREAM_NAME::~STREAM_NAME()
{
    if (!m_relay)
        return;
    ::close(m_relay->reader); // a relay still writing then stops
    delete m_relay;
}

bool STREAM_NAME::finish()
{
    return true;
}

} // namespace nuvz
