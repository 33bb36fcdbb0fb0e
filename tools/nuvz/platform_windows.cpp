// nuvz on Windows: the wide command line, file status by handle, exclusive creation and
// moves, console events, the console, and named pipes that give standard input and output
// a name the library's streams can open.
#include "nuvz.h"

#include <host/host_services.h>

#include <windows.h>

#include <sddl.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace nuvz {
namespace {

std::string utf8_from_wide(const std::wstring& text)
{
    const int length = int(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::wstring wide_from_utf8(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], size);
    return wide;
}

// The errno that POSIX gives for the Win32 errors a name can meet; EIO for the rest.
int errno_from_win32(DWORD error)
{
    static const struct {
        DWORD win32;
        int posix;
    } s_errors[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},
        {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_INVALID_NAME, ENOENT},
        {ERROR_BAD_NETPATH, ENOENT},
        {ERROR_BAD_NET_NAME, ENOENT},
        {ERROR_INVALID_DRIVE, ENOENT},
        {ERROR_ACCESS_DENIED, EACCES},
        {ERROR_SHARING_VIOLATION, EACCES},
        {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
        {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_ALREADY_EXISTS, EEXIST},
        {ERROR_DISK_FULL, ENOSPC},
        {ERROR_HANDLE_DISK_FULL, ENOSPC},
    };
    for (const auto& entry : s_errors)
        if (entry.win32 == error)
            return entry.posix;
    return EIO;
}

HANDLE os_handle(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool is_console(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// The console keeps its code page after the process ends: put back the one it had.
UINT s_console_code_page = 0;
void restore_console_code_page()
{
    SetConsoleOutputCP(s_console_code_page);
}

// Messages are UTF-8, names included: a console shows them so while nuvz runs.
void show_utf8_on_console()
{
    if (!is_console(os_handle(stderr)) && !is_console(os_handle(stdout)))
        return;
    s_console_code_page = GetConsoleOutputCP();
    if (s_console_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restore_console_code_page);
}

uint64_t join(DWORD high, DWORD low)
{
    return (uint64_t(high) << 32) | low;
}

// Opens `name` for `access` with every sharing mode, directories included; `flags` adds
// to FILE_FLAG_BACKUP_SEMANTICS. Sets errno when it cannot.
HANDLE open_name(const std::string& name, DWORD access, DWORD flags)
{
    const HANDLE file = CreateFileW(OPENABLE_PATH(name).c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        errno = errno_from_win32(GetLastError());
    return file;
}

// A link is a reparse point that stands for another name (a symbolic link or a junction);
// other reparse points, such as files kept in the cloud, are files of their own.
bool is_link(HANDLE file, DWORD attributes)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

HANDLE open_console(const wchar_t* name)
{
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

bool write_console(HANDLE output, const std::wstring& text)
{
    DWORD done = 0;
    return WriteConsoleW(output, text.data(), DWORD(text.size()), &done, nullptr) && done == text.size();
}

// One line typed on the console `input`, without its line end, in `line`; false when the
// reading stopped before a line end (Ctrl-C, or the console went away).
bool read_console_line(HANDLE input, std::wstring* line)
{
    wchar_t piece[256];
    DWORD done = 0;
    while (ReadConsoleW(input, piece, 256, &done, nullptr) && done > 0) {
        line->append(piece, done);
        if (line->back() == L'\n')
            break;
    }
    const bool ended = !line->empty() && line->back() == L'\n';
    while (!line->empty() && (line->back() == L'\n' || line->back() == L'\r'))
        line->pop_back();
    return ended;
}

// Console events that end the process, with the status a POSIX shell shows for the signal
// each stands for: Ctrl-C is SIGINT (130), Ctrl-Break the C runtime's SIGBREAK (21, so
// 149), and closing the console the hang-up of a terminal, SIGHUP (1, so 129).
const struct {
    DWORD event;
    int status;
} s_console_events[] = {
    {CTRL_C_EVENT, 128 + SIGINT},
    {CTRL_BREAK_EVENT, 128 + SIGBREAK},
    {CTRL_CLOSE_EVENT, 128 + 1},
};

// The status a console event asked for, 0 until one came.
std::atomic<int> s_interrupt{0};
// Taken for good by whoever ends the process for an event; INTERRUPTS_HELD takes it for a
// while.
std::mutex s_ending;
// The thread that runs the commands, to wake from a read that waits.
HANDLE s_main_thread = nullptr;
// The console input whose echo ask_on_terminal() turned off, and its mode before, for an
// event that ends the process meanwhile.
std::atomic<HANDLE> s_prompt_input{INVALID_HANDLE_VALUE};
DWORD s_prompt_mode = 0;

DWORD WINAPI close_files(void*)
{
    release_open_files();
    return 0;
}

// Puts the console back as it was, removes the output's temporary file, and ends the
// process at once: no exit handlers, which could wait for locks that the threads
// TerminateProcess stops hold. Closing the files first (so that the temporary one can be
// removed) waits for a file that the main thread is reading: away from the main thread it
// happens on a thread of its own, not waited for long.
void end_interrupted(int status, bool main_thread)
{
    s_ending.lock(); // never unlocked: a second caller waits for the end
    const HANDLE input = s_prompt_input.load();
    if (input != INVALID_HANDLE_VALUE)
        SetConsoleMode(input, s_prompt_mode);
    const HANDLE closer = main_thread ? nullptr : CreateThread(nullptr, 0, close_files, nullptr, 0, nullptr);
    if (closer)
        WaitForSingleObject(closer, 500);
    remove_prepared_file(main_thread);
    if (s_console_code_page)
        restore_console_code_page();
    TerminateProcess(GetCurrentProcess(), UINT(status));
}

bool file_to_remove()
{
    const std::lock_guard<std::mutex> lock(s_ending);
    return removal_prepared();
}

// Runs on a thread of its own. Without a file to remove, the process ends from here at once.
// With one, the main thread ends the process at its next piece of work (end_if_interrupted),
// where it can close the file and remove it; a main thread that waits for input is woken:
// its read fails, and it comes to that point. Should it still not come (a read that cannot
// be cancelled), the process ends from here.
BOOL WINAPI on_console_event(DWORD event)
{
    for (const auto& entry : s_console_events) {
        if (entry.event != event)
            continue;
        s_interrupt = entry.status;
        if (file_to_remove()) {
            Sleep(100);
            CancelSynchronousIo(s_main_thread);
            Sleep(1000);
        }
        end_interrupted(entry.status, false);
    }
    return FALSE;
}

// After a console read that an event cut short: the event's handler may start a moment
// later than the read returned.
void wait_for_interrupt()
{
    for (int i = 0; i < 100 && !s_interrupt; ++i)
        Sleep(10);
    end_if_interrupted();
}

} // namespace

std::vector<std::string> start_process(int, char**)
{
    // Packed data and md5's input must cross untranslated; SIGPIPE does not exist here: a
    // write to a pipe whose reader went away fails by itself.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    show_utf8_on_console();
    s_main_thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    SetConsoleCtrlHandler(on_console_event, TRUE);
    // The narrow argv holds the names in the ANSI code page, which loses characters; the
    // wide command line has them all. A lone surrogate, which UTF-8 cannot hold, becomes
    // U+FFFD.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(utf8_from_wide(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool file_status(const std::string& name, FILE_STATUS* status, bool follow_link)
{
    const HANDLE file = open_name(name, FILE_READ_ATTRIBUTES, follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = GetFileType(file);
    // A device (NUL, CON) or a pipe may have no such information: neither a file nor a directory.
    const bool known =
        GetFileInformationByHandle(file, &info) || type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
    if (known) {
        status->directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        status->regular =
            !status->directory && type == FILE_TYPE_DISK && !is_link(file, info.dwFileAttributes);
        status->size = status->regular ? join(info.nFileSizeHigh, info.nFileSizeLow) : 0;
        status->volume = info.dwVolumeSerialNumber;
        status->index = join(info.nFileIndexHigh, info.nFileIndexLow);
    } else {
        errno = errno_from_win32(GetLastError());
    }
    CloseHandle(file);
    return known;
}

void end_if_interrupted()
{
    if (const int status = s_interrupt.load())
        end_interrupted(status, true);
}

INTERRUPTS_HELD::INTERRUPTS_HELD()
{
    s_ending.lock();
}

INTERRUPTS_HELD::~INTERRUPTS_HELD()
{
    s_ending.unlock();
}

int read_access_error(const std::string& name)
{
    const HANDLE file = open_name(name, GENERIC_READ, 0);
    if (file == INVALID_HANDLE_VALUE)
        return errno;
    CloseHandle(file);
    return 0;
}

// Windows refuses to open a directory as a file with "access denied"; POSIX and the
// messages say what it is.
int open_error(const std::string& name, int error)
{
    FILE_STATUS status;
    return error == EACCES && file_status(name, &status) && status.directory ? EISDIR : error;
}

bool remove_path(const OPENABLE_PATH& path)
{
    return DeleteFileW(path.c_str()) != 0;
}

// Windows cannot delete a file that is still open, and the stream writing it is in the
// middle of failing: closing every stream of the C runtime releases the file first.
void release_open_files()
{
    _fcloseall();
}

bool create_new_file(const OPENABLE_PATH& path)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

bool sync_file(const OPENABLE_PATH& path)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    const bool synced = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    if (!synced)
        errno = errno_from_win32(GetLastError());
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return synced;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists: the no-replace rename.
bool rename_file(const OPENABLE_PATH& from, const OPENABLE_PATH& to, bool replace)
{
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(from.c_str(), to.c_str(), flags))
        return true;
    errno = errno_from_win32(GetLastError());
    return false;
}

// The console, not _isatty: that also answers true for NUL and other character devices.
bool is_terminal(std::FILE* stream)
{
    return is_console(os_handle(stream));
}

// pack refuses an appending standard output on POSIX because it reopens /dev/stdout and so
// would cut the file. Here the packed data goes through the inherited handle at its own
// position (STREAM_NAME), which cuts nothing, and cmd's ">>" opens no append mode that
// could be asked for anyway: nothing to refuse.
bool standard_output_appends()
{
    return false;
}

bool ask_on_terminal(const std::string& prompt, std::string* answer)
{
    const HANDLE input = open_console(L"CONIN$");
    const HANDLE output = open_console(L"CONOUT$");
    bool written = false, ended = true;
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
        GetConsoleMode(input, &s_prompt_mode) && is_console(output)) {
        s_prompt_input = input;
        SetConsoleMode(input, (s_prompt_mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                                  ~DWORD(ENABLE_ECHO_INPUT));
        written = write_console(output, wide_from_utf8(prompt));
        std::wstring line;
        ended = read_console_line(input, &line);
        *answer = utf8_from_wide(line);
        written = write_console(output, L"\r\n") && written;
        SetConsoleMode(input, s_prompt_mode);
        s_prompt_input = INVALID_HANDLE_VALUE;
    }
    for (HANDLE handle : {input, output})
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    if (!ended)
        wait_for_interrupt();
    return written;
}

std::FILE* duplicate_standard_input()
{
    const int descriptor = _dup(_fileno(stdin));
    if (descriptor < 0)
        return nullptr;
    _setmode(descriptor, _O_BINARY);
    std::FILE* input = _fdopen(descriptor, "rb");
    if (!input)
        _close(descriptor);
    return input;
}

namespace {

const DWORD PIPE_BUFFER = 1 << 16;

// Only this user may open the pipes: they carry the packed file, or what arrives on
// standard input. Made once and kept for the life of the process, since the input relay
// may still create pipes while the process ends.
SECURITY_ATTRIBUTES make_owner_only()
{
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return attributes;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    wchar_t* sid = nullptr;
    if (size && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        const std::wstring text = L"D:P(A;;GA;;;" + std::wstring(sid) + L")";
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, nullptr);
        LocalFree(sid);
    }
    CloseHandle(token);
    return attributes;
}

// The server end of a new instance of the pipe `name`, or INVALID_HANDLE_VALUE. `first`
// makes sure no other process created the name before.
HANDLE create_pipe(const std::wstring& name, DWORD direction, bool first)
{
    static SECURITY_ATTRIBUTES s_owner_only = make_owner_only();
    if (!s_owner_only.lpSecurityDescriptor) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateNamedPipeW(name.c_str(), direction | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                            PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER, PIPE_BUFFER, 0, &s_owner_only);
}

// Waits for the other end to open the pipe; true once it has.
bool connect(HANDLE pipe)
{
    return ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

bool write_all(HANDLE target, const char* bytes, DWORD size)
{
    DWORD put = 0;
    for (; size > 0; bytes += put, size -= put)
        if (!WriteFile(target, bytes, size, &put, nullptr))
            return false;
    return true;
}

// Reads into the `size` bytes at `data` from `source`; how many it got, fewer only at the
// end or on an error.
DWORD read_fully(HANDLE source, char* data, DWORD size)
{
    DWORD done = 0, got = 0;
    while (done < size && ReadFile(source, data + done, size - done, &got, nullptr) && got > 0)
        done += got;
    return done;
}

// Copies `head`, then the rest of standard input, into the pipe `name`, to one reader after
// another: what a reader that stops early did not take goes to the next, as with a
// /dev/stdin opened again (the library opens standard input a second time for a file that
// is not packed). After the end of the input each reader gets the end at once. Runs until
// the process ends.
void relay_input(const std::wstring& name, HANDLE pipe, const std::string& head)
{
    const HANDLE source = os_handle(stdin);
    std::vector<char> buffer(std::max<size_t>(PIPE_BUFFER, head.size()));
    DWORD held = DWORD(head.size()), offset = 0;
    std::copy(head.begin(), head.end(), buffer.begin());
    bool ended = false;
    while (pipe != INVALID_HANDLE_VALUE) {
        const bool connected = connect(pipe);
        const HANDLE next = create_pipe(name, PIPE_ACCESS_OUTBOUND, false);
        while (connected) {
            if (held == 0 && !ended) {
                ended = !ReadFile(source, buffer.data(), PIPE_BUFFER, &held, nullptr) || held == 0;
                offset = 0;
            }
            DWORD put = 0;
            if (held == 0 || !WriteFile(pipe, buffer.data() + offset, held, &put, nullptr))
                break;
            offset += put;
            held -= put;
        }
        if (connected && held == 0)
            FlushFileBuffers(pipe); // the reader takes the rest before the end
        CloseHandle(pipe);
        pipe = next;
    }
}

} // namespace

// Copies what the writer puts into the pipe to standard output, until the writer closes
// its end. When standard output refuses, it closes the pipe, so the writer's next write
// fails too, as a write to a pipe without reader does on POSIX.
struct STREAM_NAME::RELAY {
    RELAY(const std::wstring& pipe_name, HANDLE server)
        : name(pipe_name), pipe(server), thread(&RELAY::run, this)
    {
    }

    std::wstring name;
    HANDLE pipe;
    bool delivered = true;
    std::thread thread; // last: it starts once the rest is in place

    void run()
    {
        const HANDLE target = os_handle(stdout);
        std::vector<char> buffer(PIPE_BUFFER);
        DWORD got = 0;
        if (connect(pipe))
            while (delivered && ReadFile(pipe, buffer.data(), PIPE_BUFFER, &got, nullptr))
                delivered = write_all(target, buffer.data(), got);
        CloseHandle(pipe);
    }
};

// Standard input and output have no names here: each gets a pipe of this process, which a
// thread joins to the inherited handle. Other names are files, read again after their head.
STREAM_NAME::STREAM_NAME(const std::string& name, bool output, size_t ahead) : m_name(name)
{
    if (!is_standard(name)) {
        if (!output && ahead > 0)
            m_head = read_head(name, ahead);
        return;
    }
    const std::wstring pipe_name =
        L"\\\\.\\pipe\\nuvz-" + std::to_wstring(GetCurrentProcessId()) + (output ? L"-out" : L"-in");
    const HANDLE pipe = create_pipe(pipe_name, output ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND, true);
    if (pipe == INVALID_HANDLE_VALUE) {
        m_name.clear(); // opens nothing
        return;
    }
    m_name = utf8_from_wide(pipe_name);
    if (output) {
        m_relay = new RELAY(pipe_name, pipe);
    } else {
        m_head.resize(ahead);
        m_head.resize(read_fully(os_handle(stdin), &m_head[0], DWORD(ahead)));
        std::thread(relay_input, pipe_name, pipe, m_head).detach();
    }
}

STREAM_NAME::~STREAM_NAME()
{
    finish();
    delete m_relay;
}

bool STREAM_NAME::finish()
{
    if (!m_relay)
        return true;
    if (m_relay->thread.joinable()) {
        // A writer that never opened the pipe leaves the relay waiting for one: be that
        // writer, with nothing to write.
        const HANDLE writer =
            CreateFileW(m_relay->name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
        m_relay->thread.join();
    }
    if (!m_relay->delivered)
        errno = EPIPE;
    return m_relay->delivered;
}

} // namespace nuvz
