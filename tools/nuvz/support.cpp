// Argument parsing, messages, file checks, the output written under a temporary name, and
// the progress line of nuvz.
#include "nuvz.h"

#include <host/host_services.h>
#include <nuv/nuv_fstream.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

namespace nuvz {

namespace {
// Short forms of long options.
const std::map<std::string, std::string> s_short_options = {{"-f", "--force"}};
} // namespace

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
        const auto short_form = s_short_options.find(arg);
        const std::string name =
            short_form != s_short_options.end() ? short_form->second : arg.substr(0, equals);
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

bool removal_prepared()
{
    return s_prepared_removal != nullptr;
}

void remove_prepared_file(bool close_files)
{
    if (!s_prepared_removal)
        return;
    if (close_files)
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

std::string read_head(const std::string& name, size_t count)
{
    std::tenvik_ifstream file;
    file.open(name.c_str(), std::ios_base::binary);
    std::string head(count, '\0');
    file.read(&head[0], std::streamsize(count));
    head.resize(size_t(std::max<std::streamsize>(file.gcount(), 0)));
    return head;
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

std::string in_and_out(const ARGS& args, bool packing, std::string* in, std::string* out)
{
    const std::vector<std::string>& names = args.positional;
    if (names.empty() || names.size() > 2)
        return "needs IN, and OUT unless its name comes from IN";
    *in = names[0];
    if (names.size() == 2) {
        *out = names[1];
        return std::string();
    }
    if (is_standard(*in))
        return "needs OUT when IN is standard input";
    if (packing) {
        *out = *in + (args.flags.count("--gzip") ? ".gz" : ".nuv");
        return std::string();
    }
    const size_t base = in->find_last_of("/\\") + 1; // 0 without a directory
    for (const char* suffix : {".nuv", ".gz"}) {
        const size_t stem = in->size() - std::min(in->size(), std::strlen(suffix));
        if (stem > base && in->compare(stem, std::string::npos, suffix) == 0) {
            *out = in->substr(0, stem);
            return std::string();
        }
    }
    return "needs OUT: '" + *in + "' does not end in .nuv or .gz";
}

namespace {

// What the library's handlers say before ending the process, composed beforehand: they
// may not allocate.
std::string s_failure_line, s_out_of_memory_line;

[[noreturn]] void end_with(const std::string& line)
{
    remove_prepared_file(true);
    std::fputs(line.c_str(), stderr);
    std::_Exit(EXIT_FILE);
}

// A packed file whose disk fills up ends the process from inside the library (its writing
// stream reports an internal error), as does memory that cannot be had.
void on_internal_error(const char*, const char*, const char*, int)
{
    end_with(s_failure_line);
}

void on_out_of_memory()
{
    end_with(s_out_of_memory_line);
}

// A name for the temporary file of `out` that no other run is likely to pick.
std::string temporary_name(const std::string& out)
{
    static const char s_letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, sizeof s_letters - 2);
    std::string name = out + ".nuvz-partial-";
    for (int i = 0; i < 6; ++i)
        name += s_letters[pick(random)];
    return name;
}

} // namespace

OUTPUT::OUTPUT(const std::string& name, bool force)
    : m_name(name), m_force(force), m_in_place(is_standard(name))
{
    FILE_STATUS status;
    if (!m_in_place && file_status(name, &status))
        m_in_place = !status.regular && !status.directory;
}

OUTPUT::~OUTPUT()
{
    discard();
    if (m_handlers) {
        set_internal_error_handler(m_previous_internal_error);
        set_out_of_memory_handler(m_previous_out_of_memory);
    }
}

int OUTPUT::check() const
{
    FILE_STATUS status;
    if (m_in_place)
        return EXIT_OK;
    if (file_status(m_name, &status) && status.directory) {
        file_error(m_name, std::strerror(EISDIR));
        return EXIT_FILE;
    }
    if (!m_force && file_status(m_name, &status, false)) {
        file_error(m_name, "already exists; use --force (-f) to replace it");
        return EXIT_FILE;
    }
    return EXIT_OK;
}

bool OUTPUT::open(const char* failure)
{
    const std::string shown_name = shown(m_name, "standard output");
    s_failure_line = "nuvz: " + shown_name + ": " + failure + "\n";
    s_out_of_memory_line = "nuvz: " + shown_name + ": out of memory\n";
    m_previous_internal_error = set_internal_error_handler(on_internal_error);
    m_previous_out_of_memory = set_out_of_memory_handler(on_out_of_memory);
    m_handlers = true;
    if (m_in_place)
        return true;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const std::string name = temporary_name(m_name);
        const OPENABLE_PATH path(name);
        const INTERRUPTS_HELD held; // an interrupt finds no file, or one readied for removal
        if (create_new_file(path)) {
            m_temporary = name;
            prepare_removal(name);
            return true;
        }
        error = errno;
    }
    file_error(m_name, std::strerror(error));
    return false;
}

bool OUTPUT::commit()
{
    if (m_temporary.empty())
        return true;
    const OPENABLE_PATH from(m_temporary), to(m_name);
    bool renamed = sync_file(from);
    if (renamed) {
        const INTERRUPTS_HELD held; // the file has one of its names, and only its new one is kept
        renamed = rename_file(from, to, m_force);
        if (renamed) {
            m_temporary.clear();
            prepare_removal(std::string());
        }
    }
    if (!renamed) {
        const int error = errno;
        discard();
        file_error(m_name,
                   error == EEXIST ? "already exists; use --force (-f) to replace it" : std::strerror(error));
    }
    return renamed;
}

void OUTPUT::discard()
{
    if (m_temporary.empty())
        return;
    remove_file(m_temporary);
    const INTERRUPTS_HELD held;
    m_temporary.clear();
    prepare_removal(std::string());
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
    end_if_interrupted();
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
