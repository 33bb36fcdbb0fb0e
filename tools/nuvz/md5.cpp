// nuvz md5: digests in md5sum's format, or in the legacy form.
#include "nuvz.h"

#include <nuv/nuv_md5.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nuvz {
namespace {

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
        std::FILE* input = duplicate_standard_input();
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
    PROGRESS progress("md5", name, file_size(name), true);
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

} // namespace

int command_md5(const std::vector<std::string>& args)
{
    ARGS parsed;
    const std::string error = parse_args(args, {"--legacy"}, {}, &parsed);
    if (!error.empty())
        return usage_error("md5: " + error);
    const bool legacy = parsed.flags.count("--legacy") != 0;
    std::vector<std::string> names = parsed.positional;
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

} // namespace nuvz
