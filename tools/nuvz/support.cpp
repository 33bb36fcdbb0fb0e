// Argument parsing, messages, file checks, keys, the output file's clean-up and the
// progress line of nuvz.
#include "nuvz.h"

#include <host/host_services.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace nuvz {

std::string parse_args(const std::vector<std::string>& args, const std::set<std::string>& flag_names,
                       const std::set<std::string>& value_names, ARGS* out)
{
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            out->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (flag_names.count(name) && equals == std::string::npos) {
            if (!out->flags.insert(name).second)
                return "option '" + name + "' given twice";
        } else if (value_names.count(name)) {
            std::string value;
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return "option '" + name + "' needs a value";
            if (!out->values.emplace(name, value).second)
                return "option '" + name + "' given twice";
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    return std::string();
}

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s\nTry 'nuvz --help' for more information.\n", text.c_str());
    return EXIT_USAGE;
}

void file_error(const std::string& name, const std::string& text)
{
    std::fprintf(stderr, "nuvz: %s: %s\n", name.c_str(), text.c_str());
}

namespace {

// The endings of a failure message for an output that was removed, or kept with bad data.
const char s_removed[] = "; the incomplete output was removed";
std::string kept_incomplete(const std::string& name)
{
    return "; " + name + " now holds incomplete data";
}

} // namespace

bool remove_file(const std::string& name)
{
    return remove_path(OPENABLE_PATH(name));
}

namespace {
// Built beforehand: the handlers that remove the file may not allocate.
std::unique_ptr<OPENABLE_PATH> s_prepared_removal;
} // namespace

void prepare_removal(const std::string& name)
{
    s_prepared_removal.reset(name.empty() ? nullptr : new OPENABLE_PATH(name));
}

void remove_prepared_file()
{
    if (!s_prepared_removal)
        return;
    release_open_files();
    remove_path(*s_prepared_removal);
}

std::string unreadable_reason(const std::string& name)
{
    FILE_STATUS status;
    if (!file_status(name, &status))
        return std::strerror(errno);
    if (status.directory)
        return std::strerror(EISDIR);
    const int error = read_access_error(name);
    return error ? std::strerror(error) : std::string();
}

uint64_t file_size(const std::string& name)
{
    FILE_STATUS status;
    return file_status(name, &status) ? status.size : 0;
}

int check_files(const std::string& in, const std::string& out)
{
    const std::string reason = is_standard(in) ? std::string() : unreadable_reason(in);
    if (!reason.empty()) {
        file_error(in, reason);
        return EXIT_FILE;
    }
    FILE_STATUS first, second;
    if (!is_standard(in) && !is_standard(out) && file_status(in, &first) && file_status(out, &second) &&
        first.volume == second.volume && first.index == second.index)
        return usage_error("'" + in + "' and '" + out + "' are the same file");
    return EXIT_OK;
}

OUTPUT_FILE::OUTPUT_FILE(const std::string& name)
    : m_name(name), m_existed(is_standard(name) || file_status(name, &m_before, false))
{
}

std::string OUTPUT_FILE::discard() const
{
    if (is_standard(m_name))
        return "";
    FILE_STATUS now;
    if (!file_status(m_name, &now, false) || !now.regular)
        return "";
    if (!m_existed)
        return remove_file(m_name) ? s_removed : "";
    const bool touched = now.size != m_before.size || now.modified != m_before.modified;
    return touched ? kept_incomplete(m_name) : "";
}

std::string OUTPUT_FILE::failure_note() const
{
    if (is_standard(m_name))
        return "";
    if (!m_existed)
        return s_removed;
    return m_before.regular ? kept_incomplete(m_name) : "";
}

PROGRESS::PROGRESS(const char* verb, const std::string& name, uint64_t input_size, bool total_known)
    : m_verb(verb), m_name(name), m_total(total_known ? input_size : 0),
      m_enabled(input_size > (uint64_t(64) << 20) && is_terminal(stderr)),
      m_last(std::chrono::steady_clock::now())
{
}

PROGRESS::~PROGRESS()
{
    if (m_shown)
        std::fprintf(stderr, "\r%*s\r", int(m_shown), "");
}

// A carriage return and spaces over the rest of the last line, rather than an escape
// sequence to erase it, which a Windows console would print as it stands.
void PROGRESS::show(const std::string& line)
{
    std::fprintf(stderr, "\r%-*s", int(std::max(line.size(), m_shown)), line.c_str());
    m_shown = line.size();
}

void PROGRESS::update(uint64_t done)
{
    if (!m_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last < std::chrono::milliseconds(250))
        return;
    m_last = now;
    std::string line;
    if (m_total)
        string_printf(&line, "%s %s: %3d%% (%llu of %llu MB)", m_verb, m_name.c_str(),
                      int(done * 100 / m_total), (unsigned long long)(done >> 20),
                      (unsigned long long)(m_total >> 20));
    else
        string_printf(&line, "%s %s: %llu MB", m_verb, m_name.c_str(), (unsigned long long)(done >> 20));
    show(line);
}

} // namespace nuvz
