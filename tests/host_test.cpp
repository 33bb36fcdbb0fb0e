// Host services: configuration answers, debug lines, string helpers, real clocks and memory
// figures, load-time registration, paths, and internal errors and lack of memory with their
// handlers.
#include <host/host_services.h>

#include "test_support.h"

#include <chrono>
#include <climits>
#include <thread>

namespace {

using test_support::set_env;
using test_support::unset_env;
namespace fs = std::filesystem;

TEST(HostServices, ConfigurationDebugLinesStringsClocksAndFigures)
{
    set_env("NUV_CONFIG", "alpha,b1=1,b2=on,b3=true,c1=0,c2=off,c3=false,eps=TRUE,d=no,d=0");
    std::string answers; // with default false, then true: "eps" is no boolean, the last two are not listed
    for (const char* key : {"alpha", "b1", "b2", "b3", "c1", "c2", "c3", "eps", "d", "alph", "lpha"})
        answers += std::to_string(config_is_on(key, false)) + std::to_string(config_is_on(key, true)) + " ";
    EXPECT_EQ(answers, "11 11 11 11 00 00 00 01 00 01 01 ");

    testing::internal::CaptureStderr();
    EXPECT_TRUE(debug_message("PROF", "%s", "100% literal"));
    EXPECT_TRUE(debug_message("PROF", "%s", "")); // an empty text is still a line
    // Not convertible in the C locale: no line (Windows' C runtime takes it as Latin-1 instead).
    EXPECT_EQ(debug_message("PROF", "%ls", L"\u00e9"), test_support::WINDOWS);
    test_support::DEBUG_LINES debug; // takes the lines from here on
    debug_message("NUV", "value %d", 42);
    EXPECT_EQ(debug.lines(), std::vector<std::string>{"[NUV] value 42"});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[PROF] 100% literal\n[PROF] \n" + std::string(test_support::WINDOWS ? "[PROF] \xe9\n" : ""));

    std::string text = "old";
    string_printf(&text, "reopening as %s at %d!", "x.z", 7);
    for (auto [value, radix] : std::vector<std::pair<long long, int>>{
             {0, 10}, {5, 2}, {255, 16}, {-35, 36}, {7, 1}, {7, 37}, {LLONG_MIN, 10}, {LLONG_MAX, 36}})
        text += " " + integer_to_text(value, radix);
    EXPECT_EQ(text, "reopening as x.z at 7! 0 101 ff -z   -9223372036854775808 1y2p0ij32e8e7"); // Python 3's
    std::string one = "old", none = "old";
    string_printf(&one, "%c", 'x');
    string_printf(&none, "%s", "");
    EXPECT_EQ(one + "|" + none, "x|");

    STOPWATCH watch(true, 7);
    const double cpu_start = test_support::cpu_seconds();
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
         std::chrono::steady_clock::now() < end;) {
    }                                                           // user CPU time
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // wall-clock time only
    const double cpu = test_support::cpu_seconds() - cpu_start;
    watch.stop();
    EXPECT_GE(watch.lap_sec(1), 0.25);
    EXPECT_NEAR(watch.lap_sec(6), cpu, 0.02 + cpu / 10); // the system's count of the same time
    EXPECT_GT(watch.lap_sec(2), 2 * watch.lap_sec(4));   // the busy loop is user time
    double now = 10;                                     // substituted readings, every kind alike
    host_test::set_clock([&](int) { return now; });
    STOPWATCH fixed(true, 7);
    now = 12.5;
    const double running = fixed.lap_sec(1);
    fixed.stop();
    now = 20; // a stopped watch keeps its interval
    EXPECT_TRUE(running == 2.5 && fixed.lap_sec(1) == 2.5 && fixed.lap_sec(6) == 5);
    host_test::set_clock(nullptr);
    std::vector<char> block(8 << 20, 1);
    EXPECT_GE(memory_global_current().memory_in_use, block.size());
    EXPECT_GT(memory_process_virtual_used(), memory_global_current().memory_in_use); // in use is mapped
    EXPECT_EQ(host_test::registered_memory_clients(), "NUV");                        // the library, at load
}

TEST(HostServices, OutputDirectoryAndFullPaths)
{
    const char separator = char(fs::path::preferred_separator);
    const fs::path start = fs::current_path();
    const std::string cwd = start.u8string() + separator;
    // A setting ending in a separator ('/', or '\' on Windows) is kept; others get one.
    for (const char* setting : {"/x/out", "/x/out/", "out", "x\\", "", static_cast<const char*>(nullptr)}) {
        setting ? set_env("NUV_OUTPUT_DIR", setting) : unset_env("NUV_OUTPUT_DIR");
        std::string expected = setting && *setting ? setting : cwd;
        if (expected.back() != '/' && (expected.back() != '\\' || !test_support::WINDOWS))
            expected += separator;
        EXPECT_EQ(get_project_output_directory(), expected) << (setting ? setting : "unset");
    }
    // Full names: "/" here, "\\?\" and the current drive's root ("\\?\C:\") on Windows, then
    // the rest with the platform's separators, characters past U+FFFF as surrogate pairs
    // where wchar_t has 16 bits.
    const std::string prefix = test_support::WINDOWS ? "\\\\?\\" : "",
                      root = prefix + start.root_path().u8string();
    const auto full = [&](const std::u32string& rest) {
        std::wstring name = fs::u8path(root).wstring();
        for (char32_t c : rest)
            if (c == U'/')
                name += fs::path::preferred_separator;
            else if (sizeof(wchar_t) == 2 && c > 0xFFFF)
                name += {wchar_t(0xD7C0 + (c >> 10)), wchar_t(0xDC00 | (c & 0x3FF))};
            else
                name += wchar_t(c);
        return name;
    };
    EXPECT_EQ(get_unc_full_path("/a/b/../c/./d"), full(U"a/c/d"));
    EXPECT_EQ(narrow_platform_path(get_unc_full_path("x/y")), prefix + cwd + "x" + separator + "y");
    // UTF-8 at the edges of each length gives characters, each byte of anything else (lone continuation,
    // bad second byte, surrogate, overlong, above U+10FFFF, cut short) U+DC00 + byte; both round-trip.
    const std::string valid = "/\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf";
    const std::string odd = "/\x80\xc3(\xed\xa0\x80\xed\xbf\xbf\xc0\x80\xf4\x90\x80\x80\xff\xe2\x82";
    EXPECT_EQ(get_unc_full_path(valid.c_str()), full({0x7f, 0x80, 0x7ff, 0x800, 0xffff, 0x10000, 0x10ffff}));
    EXPECT_EQ(get_unc_full_path(odd.c_str()),
              full({0xdc80, 0xdcc3, U'(', 0xdced, 0xdca0, 0xdc80, 0xdced, 0xdcbf, 0xdcbf, 0xdcc0, 0xdc80,
                    0xdcf4, 0xdc90, 0xdc80, 0xdc80, 0xdcff, 0xdce2, 0xdc82}));
    for (const std::string& path : {valid, odd})
        EXPECT_EQ(narrow_platform_path(get_unc_full_path(path.c_str())), root + path.substr(1));
    // FILE_SYSTEM::fopen takes names beyond the platform's path limit, relative or absolute.
    test_support::TEMP_DIR dir;
    const std::string deep = test_support::make_deep_directories(dir.path()) + "/f";
    fs::current_path(dir.path());
    FILE* file = FILE_SYSTEM::fopen(deep.c_str(), "w");
    EXPECT_TRUE(file && std::fputs("written", file) >= 0 && std::fclose(file) == 0);
    fs::current_path(start);
    file = FILE_SYSTEM::fopen((dir.path().u8string() + deep.substr(1)).c_str(), "r");
    char text[16] = {};
    EXPECT_TRUE(file && std::fgets(text, sizeof text, file) && std::fclose(file) == 0);
    EXPECT_STREQ("written", text);
}

// Drive letters and \\server\share names: the long form, '/' as '\', "." and ".." resolved.
TEST(HostServices, DriveAndShareNamesTakeTheLongForm)
{
    if (!test_support::WINDOWS)
        GTEST_SKIP() << "drive letters and \\\\server\\share names exist on Windows only";
    const std::wstring cwd = fs::current_path().wstring(), up = fs::current_path().parent_path().wstring();
    const std::pair<const char*, std::wstring> cases[] = {
        {"x/y.nuv", L"\\\\?\\" + cwd + L"\\x\\y.nuv"},
        {"x\\..\\..\\y", L"\\\\?\\" + up + L"\\y"},
        {"C:\\dir\\file", L"\\\\?\\C:\\dir\\file"},
        {"C:/dir/./sub/../file", L"\\\\?\\C:\\dir\\file"},
        {"\\\\server\\share\\dir\\file", L"\\\\?\\UNC\\server\\share\\dir\\file"},
        {"//server/share/a/../file", L"\\\\?\\UNC\\server\\share\\file"},
        {"\\\\?\\C:\\already\\long", L"\\\\?\\C:\\already\\long"},
        {"\\\\?\\UNC\\server\\share\\f", L"\\\\?\\UNC\\server\\share\\f"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(get_unc_full_path(name), expected) << name;
        EXPECT_EQ(narrow_platform_path(expected), fs::path(expected).u8string()) << name;
    }
}

TEST(HostServicesDeathTest, InternalErrorsEndTheProcess)
{
    auto fail = [] { report_internal_error("rval != 0", "NUV", "nuv_zstream", 417); };
    INTERNAL_ERROR_HANDLER exiting = [](const char* message, const char* tag, const char* source, int line) {
        std::fprintf(stderr, "handled: %s|%s|%s|%d\n", message, tag, source, line);
        std::exit(4); // not 3, which is how abort() ends a Windows process
    };
    auto returning = +[](const char*, const char*, const char*, int) { std::fputs("back\n", stderr); };
    const std::string report = "\\[NUV\\] Internal error in nuv_zstream, line 417: rval != 0\n$";
    const auto aborted = test_support::aborted();
    EXPECT_EXIT(fail(), aborted, "^" + report);
    EXPECT_EQ(set_internal_error_handler(exiting), nullptr);
    EXPECT_EXIT(fail(), testing::ExitedWithCode(4), "^handled: rval != 0\\|NUV\\|nuv_zstream\\|417\n$");
    EXPECT_EQ(set_internal_error_handler(returning), exiting);
    EXPECT_EXIT(fail(), aborted, "^back\n" + report);
    EXPECT_EQ(set_internal_error_handler(nullptr), returning);
    EXPECT_EXIT(fail(), aborted, "^" + report);
}

TEST(HostServicesDeathTest, LackOfMemoryEndsTheProcess)
{
    OUT_OF_MEMORY_HANDLER exiting = [] {
        std::fputs("handled\n", stderr);
        std::exit(4);
    };
    OUT_OF_MEMORY_HANDLER returning = [] { std::fputs("back\n", stderr); };
    const std::string report = "\\[NUV\\] Out of memory\n$";
    const auto aborted = test_support::aborted();
    EXPECT_EXIT(out_of_memory_handler(), aborted, "^" + report);
    EXPECT_EQ(set_out_of_memory_handler(exiting), nullptr);
    EXPECT_EXIT(out_of_memory_handler(), testing::ExitedWithCode(4), "^handled\n$");
    EXPECT_EQ(set_out_of_memory_handler(returning), exiting);
    EXPECT_EXIT(out_of_memory_handler(), aborted, "^back\n" + report);
    EXPECT_EQ(set_out_of_memory_handler(nullptr), returning);
    EXPECT_EXIT(out_of_memory_handler(), aborted, "^" + report);
}

} // namespace
