// nuvz: packs, unpacks, describes and digests files with nuv_toolkit.
//
// Exit codes: 0 success, 1 a file could not be read or written, 2 usage error,
// 3 the data did not decode (wrong password or key, damaged or cut file).
#include <nuv/nuv_md5.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

enum EXIT_CODE { EXIT_OK = 0, EXIT_FILE = 1, EXIT_USAGE = 2, EXIT_DECODE = 3 };

const char s_usage[] =
    "Usage:\n"
    "  nuvz md5 [--legacy] [FILE...]\n"
    "  nuvz --help\n"
    "\n"
    "Commands:\n"
    "  md5     print the MD5 digest of each FILE (or of standard input for '-' or no FILE)\n"
    "          in md5sum's format; --legacy prints the pre-121 form (no leading zeros)\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read or written, 2 usage error.\n";

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s\nTry 'nuvz --help' for more information.\n", text.c_str());
    return EXIT_USAGE;
}

void file_error(const std::string& name, const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s: %s\n", name.c_str(), text.c_str());
}

/// Why `name` cannot be read as a regular file, or an empty text when it can be.
std::string unreadable_reason(const std::string& name)
{
    struct stat info;
    if (::stat(name.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (::access(name.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return std::string();
}

/// Size of a regular file, 0 for anything else.
uint64_t file_size(const std::string& name)
{
    struct stat info;
    return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? uint64_t(info.st_size) : 0;
}

/// A progress line on stderr for long jobs; silent unless stderr is a terminal and the
/// job is over 64 MB.
class PROGRESS {
public:
    PROGRESS(const char* verb, const std::string& name, uint64_t total)
        : m_verb(verb), m_name(name), m_total(total),
          m_enabled(total > (uint64_t(64) << 20) && ::isatty(STDERR_FILENO)),
          m_last(std::chrono::steady_clock::now())
    {
    }
    ~PROGRESS()
    {
        if (m_shown)
            std::fprintf(stderr, "\r\033[K");
    }
    /// Reports `done` bytes of the total, at most a few times a second.
    void update(uint64_t done)
    {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(250))
            return;
        m_last = now;
        m_shown = true;
        std::fprintf(stderr, "\r\033[K%s %s: %3d%% (%llu of %llu MB)", m_verb, m_name.c_str(),
                     int(done * 100 / m_total), (unsigned long long)(done >> 20),
                     (unsigned long long)(m_total >> 20));
    }

private:
    const char* m_verb;
    std::string m_name;
    uint64_t m_total;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last;
};

/// md5sum's way of writing a name: backslash, newline and carriage return are escaped and
/// the line then starts with a backslash.
std::string md5sum_line(const std::string& digest, const std::string& name)
{
    std::string escaped;
    bool any = false;
    for (char c : name) {
        const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        any |= replacement != nullptr;
        escaped += replacement ? std::string(replacement) : std::string(1, c);
    }
    return (any ? "\\" : "") + digest + "  " + escaped + "\n";
}

/// Digests one file (or standard input for "-"); false with a message when it cannot be read.
bool digest_file(const std::string& name, NUV_MD5* md5)
{
    if (name == "-") {
        // NUV_MD5 closes the FILE it is given: hand it a duplicate of standard input.
        FILE* input = ::fdopen(::dup(STDIN_FILENO), "rb");
        if (!input) {
            file_error(name, std::strerror(errno));
            return false;
        }
        md5->update(input);
        return true;
    }
    const std::string reason = unreadable_reason(name);
    if (!reason.empty()) {
        file_error(name, reason);
        return false;
    }
    std::tenvik_ifstream input;
    input.open(name.c_str(), std::ios_base::binary);
    if (!input.is_open()) {
        file_error(name, std::strerror(errno));
        return false;
    }
    PROGRESS progress("md5", name, file_size(name));
    std::vector<char> buffer(1 << 20);
    uint64_t done = 0;
    while (input.good()) {
        input.read(buffer.data(), std::streamsize(buffer.size()));
        md5->update(buffer.data(), static_cast<unsigned int>(input.gcount()));
        done += uint64_t(input.gcount());
        progress.update(done);
    }
    if (input.bad()) {
        file_error(name, "read error");
        return false;
    }
    return true;
}

int command_md5(const std::vector<std::string>& args)
{
    bool legacy = false;
    std::vector<std::string> names;
    bool options_done = false;
    for (const std::string& arg : args) {
        if (!options_done && arg == "--legacy")
            legacy = true;
        else if (!options_done && arg == "--")
            options_done = true;
        else if (!options_done && arg.size() > 1 && arg[0] == '-')
            return usage_error("md5: unknown option '" + arg + "'");
        else
            names.push_back(arg);
    }
    if (names.empty())
        names.push_back("-");

    int status = EXIT_OK;
    for (const std::string& name : names) {
        NUV_MD5 md5;
        if (!digest_file(name, &md5)) {
            status = EXIT_FILE;
            continue;
        }
        md5.finalize();
        std::string digest;
        if (legacy)
            md5.hex_digest_pre_121(&digest);
        else
            md5.hex_digest(&digest);
        std::fputs(md5sum_line(digest, name).c_str(), stdout);
    }
    if (std::fflush(stdout) != 0) {
        file_error("standard output", std::strerror(errno));
        status = EXIT_FILE;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage_error("missing command");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(s_usage, stdout);
        return EXIT_OK;
    }
    if (command == "md5")
        return command_md5(args);
    return usage_error("unknown command '" + command + "'");
}
