// What nuvz does differently on each platform: arguments and standard streams, file status
// and removal, the terminal, and names for standard input and output. One source per
// platform implements it (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <host/host_services.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nuvz {

/// The arguments after the program's name, in UTF-8. Readies the process first: standard
/// input and output carry bytes untranslated, writing to a reader that went away fails
/// (exit status 1 and clean-up) instead of ending the process, and an interrupt (SIGINT,
/// SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break, closing the console) removes the file
/// readied by prepare_removal(), puts the terminal's echo back when a password was being
/// asked, and ends the process with status 128 + N, N the signal's number. Signals that
/// the process was started ignoring (nohup, background jobs) stay ignored.
std::vector<std::string> start_process(int argc, char** argv);

/// Where interrupts are handed to the main thread (Windows, whose console events arrive on
/// a thread of their own while the main thread may be writing the file to remove): ends the
/// process as start_process() describes when one came. Called between two pieces of work;
/// does nothing elsewhere.
void end_if_interrupted();

/// Holds interrupts back while it lives, so that they never meet a file readied for
/// removal halfway, or a file between its two names.
class INTERRUPTS_HELD {
public:
    INTERRUPTS_HELD();
    ~INTERRUPTS_HELD();
    INTERRUPTS_HELD(const INTERRUPTS_HELD&) = delete;
    INTERRUPTS_HELD& operator=(const INTERRUPTS_HELD&) = delete;

private:
    alignas(8) unsigned char m_saved[128]; ///< POSIX: the signal mask to put back.
};

/// What the commands need to know of a file.
struct FILE_STATUS {
    bool directory = false; ///< A directory.
    bool regular = false;   ///< A regular file: not a directory, link, device or pipe.
    uint64_t size = 0;      ///< Bytes of a regular file.
    uint64_t volume = 0;    ///< The device or volume that holds the file.
    uint64_t index = 0;     ///< The file's number there: with `volume`, its identity.
};
/// Describes `name`, or when `follow_link` is false a link itself rather than its target;
/// false with errno set when nothing of that name can be found or examined.
bool file_status(const std::string& name, FILE_STATUS* status, bool follow_link = true);
/// 0 when the file `name` can be opened for reading, else the errno of why not.
int read_access_error(const std::string& name);
/// `error`, the errno of a failed open of `name`, as the messages name it.
int open_error(const std::string& name, int error);
/// Removes the file at `path`; false when it cannot. Allocates nothing.
bool remove_path(const OPENABLE_PATH& path);
/// Creates the empty file `path` when no file of that name exists, with the permissions a
/// plain create gives (on POSIX 0666 less the umask); false with errno set (EEXIST when the
/// name is taken).
bool create_new_file(const OPENABLE_PATH& path);
/// Puts the content of the file `path` on the disk, so that a power cut after a rename
/// cannot leave the new name on a file whose data was lost; false with errno set.
bool sync_file(const OPENABLE_PATH& path);
/// Gives the file `from` the name `to` in one step, in the same directory. An existing `to`
/// is replaced only with `replace`; without it the rename fails with EEXIST, also for a
/// file that appeared after the caller looked. False with errno set.
bool rename_file(const OPENABLE_PATH& from, const OPENABLE_PATH& to, bool replace);
/// Lets a file this process still has open be removed, for handlers that end the process:
/// on Windows it closes every stream of the C runtime; elsewhere nothing is needed.
void release_open_files();

/// Whether `stream` (stdout or stderr) is a terminal.
bool is_terminal(std::FILE* stream);
/// Whether standard output is a regular file opened for appending.
bool standard_output_appends();
/// Asks `prompt` on the controlling terminal with echo off and reads one line into
/// `answer`; false, asking nothing, when the process has no terminal.
bool ask_on_terminal(const std::string& prompt, std::string* answer);
/// A stream of its own on standard input, in binary mode, that can be closed without
/// closing stdin; null with errno set when there is none.
std::FILE* duplicate_standard_input();

/// The name that the library's file streams open for IN or OUT: the file's own name, or
/// for "-" a name that reaches standard input or standard output.
class STREAM_NAME {
public:
    /// `name` is IN, or OUT when `output` is true. For IN, `ahead` > 0 first reads its first
    /// `ahead` bytes (fewer when it ends before) into head(), and the name still delivers
    /// them: a regular file is read again from its start, what can be read only once
    /// (standard input; on POSIX also a pipe or a device) is relayed through a pipe of this
    /// process, those bytes first.
    STREAM_NAME(const std::string& name, bool output, size_t ahead = 0);
    /// finish() when it was not called.
    ~STREAM_NAME();
    STREAM_NAME(const STREAM_NAME&) = delete;
    STREAM_NAME& operator=(const STREAM_NAME&) = delete;

    /// The name to open.
    const char* c_str() const { return m_name.c_str(); }
    /// The bytes read ahead.
    const std::string& head() const { return m_head; }
    /// To call once the stream that opened the name is closed: whether every byte written
    /// reached standard output; false with errno set when not.
    bool finish();

private:
    /// Moves the bytes between a standard stream and the name where the platform needs it.
    struct RELAY;

    std::string m_name;
    std::string m_head;
    RELAY* m_relay = nullptr;
};

} // namespace nuvz
