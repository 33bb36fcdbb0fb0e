// Pieces shared by the nuvz commands: exit codes, argument parsing, messages, the output
// file written under a temporary name, and the progress line.
#pragma once

#include "platform.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ios>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace nuvz {

/// Exit codes of every command.
enum EXIT_CODE { EXIT_OK = 0, EXIT_FILE = 1, EXIT_USAGE = 2, EXIT_DECODE = 3 };

/// The commands; each takes the arguments after its name and returns an exit code.
int command_pack(const std::vector<std::string>& args);
int command_unpack(const std::vector<std::string>& args);
int command_info(const std::vector<std::string>& args);
int command_md5(const std::vector<std::string>& args);

/// Command-line arguments split into flags, options with a value and positional arguments.
struct ARGS {
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
};

/// Splits `args` by the flags and value options a command accepts ("--name value" or
/// "--name=value"; "-f" is "--force"; "--" ends the options; "-" is positional). Returns an
/// error text, empty on success.
std::string parse_args(const std::vector<std::string>& args, const std::set<std::string>& flag_names,
                       const std::set<std::string>& value_names, ARGS* out);

/// Prints a usage error with a pointer to --help; returns EXIT_USAGE.
int usage_error(const std::string& text);
/// Prints "nuvz: NAME: TEXT".
void file_error(const std::string& name, const std::string& text);

/// Why `name` cannot be read as a regular file, or an empty text when it can be.
std::string unreadable_reason(const std::string& name);
/// Size of a regular file, 0 for anything else.
uint64_t file_size(const std::string& name);
/// Checks IN and OUT of pack and unpack (IN readable, not the same file as OUT); prints the
/// problem and returns its exit code, or EXIT_OK.
int check_files(const std::string& in, const std::string& out);
/// IN and OUT of pack (`packing`) or unpack from the positional arguments of `args`. OUT
/// left out is IN with ".nuv" added (".gz" with --gzip) for pack, and IN without its
/// ".nuv" or ".gz" for unpack. Returns an error text, empty on success.
std::string in_and_out(const ARGS& args, bool packing, std::string* in, std::string* out);

/// "-": standard input as IN, standard output as OUT. No file of that name is ever made.
inline bool is_standard(const std::string& name)
{
    return name == "-";
}
/// Opens the file `name` into `file` (binary) unless it is "-"; prints why it cannot and
/// gives false.
template <class FILE_STREAM> bool open_unless_standard(FILE_STREAM& file, const std::string& name)
{
    if (is_standard(name))
        return true;
    file.open(name.c_str(), std::ios_base::binary);
    if (!file.is_open())
        file_error(name, std::strerror(open_error(name, errno ? errno : EIO)));
    return file.is_open();
}
/// `name` as messages show it: "-" becomes `standard` ("standard input", "standard output").
inline std::string shown(const std::string& name, const char* standard)
{
    return is_standard(name) ? standard : name;
}

/// The key bytes a file is opened with: an AES key (16, 24 or 32 bytes), a password's bytes
/// or a raw sealing key; empty for none.
using KEY = std::vector<unsigned char>;
/// What the key options give: a password, or a raw key from --key-hex; both empty for none.
struct SECRET {
    std::string password;
    KEY raw;
};
/// Fills `secret` from at most one of --password, --password-file (its first line),
/// --prompt (asked twice on the terminal) and --key-hex; leaves it empty when none is given.
/// Returns an error text, empty on success.
std::string resolve_secret(const ARGS& args, SECRET* secret);
/// The key that opens a file with `secret`: the raw key; for a password, its bytes (up to a
/// NUL, as the sealing writer takes it) when the file is `sealed`, else its MD5 digest, the
/// key of the older encrypted kinds. Empty for no secret.
KEY key_for(const SECRET& secret, bool sealed);
/// Whether `head`, the first bytes of a file, start with the sealed kind's header.
bool is_sealed_head(const std::string& head);

/// The first `count` bytes of the file `name` (fewer when it is shorter or unreadable).
std::string read_head(const std::string& name, size_t count);

/// Removes the file `name`; false when it cannot.
bool remove_file(const std::string& name);
/// Readies the removal of `name` by remove_prepared_file(); an empty name for none.
void prepare_removal(const std::string& name);
/// Whether prepare_removal() readied a file.
bool removal_prepared();
/// Removes the file readied by prepare_removal(), for handlers that end the process and
/// must not allocate. `close_files` first closes every file the process has open (see
/// release_open_files), which only the thread that writes the file may do.
void remove_prepared_file(bool close_files);

/// OUT of pack and unpack. A file is written under a temporary name beside it,
/// "OUT.nuvz-partial-XXXXXX", and renamed to OUT once it is complete, so that OUT is never
/// seen half written: a failure, an interrupt, or the library ending the process removes the
/// temporary file instead. Standard output, and an existing device or pipe such as
/// /dev/null, are written in place.
class OUTPUT {
public:
    /// OUT `name`; `force` lets an existing file be replaced.
    OUTPUT(const std::string& name, bool force);
    /// Removes the temporary file unless it became OUT; puts back the library's handlers.
    ~OUTPUT();
    OUTPUT(const OUTPUT&) = delete;
    OUTPUT& operator=(const OUTPUT&) = delete;

    /// Whether OUT may be written: not a directory, and not an existing file without
    /// `force`. Prints the problem and returns its exit code, or EXIT_OK.
    int check() const;
    /// Creates the temporary file and, until commit(), lets an internal error or a lack of
    /// memory in the library remove it and end the process with "nuvz: OUT: `failure`"
    /// (or "out of memory") and EXIT_FILE. Prints why and returns false when it cannot.
    bool open(const char* failure);
    /// The name to write: the temporary file, or OUT itself when written in place.
    const std::string& name() const { return m_temporary.empty() ? m_name : m_temporary; }
    /// Once the written file is closed and complete: puts its data on the disk and renames it
    /// to OUT. Prints why and removes it when it cannot.
    bool commit();

private:
    /// Removes the temporary file, if there is one.
    void discard();

    std::string m_name;
    bool m_force;
    bool m_in_place;
    std::string m_temporary; ///< Empty when there is none.
    bool m_handlers = false; ///< Whether the library's handlers are this object's.
    INTERNAL_ERROR_HANDLER m_previous_internal_error = nullptr;
    OUT_OF_MEMORY_HANDLER m_previous_out_of_memory = nullptr;
};

/// A progress line on stderr for long jobs: silent unless stderr is a terminal and the input
/// is over 64 MB. With a known total it shows a percentage, else the amount done.
class PROGRESS {
public:
    PROGRESS(const char* verb, const std::string& name, uint64_t input_size, bool total_known);
    ~PROGRESS();
    PROGRESS(const PROGRESS&) = delete;
    PROGRESS& operator=(const PROGRESS&) = delete;
    /// Reports `done` bytes, at most four times a second. Also the point, between two pieces
    /// of work, where an interrupt may end the process (end_if_interrupted).
    void update(uint64_t done);

private:
    const char* m_verb;
    std::string m_name;
    uint64_t m_total;
    bool m_enabled;
    /// Writes `line` over the one shown before.
    void show(const std::string& line);

    size_t m_shown = 0; ///< Length of the line on the terminal, 0 for none.
    std::chrono::steady_clock::time_point m_last;
};

} // namespace nuvz
