// Profilers with substituted figures, each run in a child process: the CSV file is decided once per
// process.
#include <nuv/nuv_profiler.h>

#include "test_support.h"

#include <cstdlib>
#include <string>

namespace {

using P = NUV_PROFILER;
using R = NUV_RECURSIVE_PROFILER;
const unsigned s_times = P::CPU_TIME | P::WC_TIME, s_all = s_times | P::MEM | P::VMEM;

// Figures moved on by hand, every reading counted: clocks by kind (1 wall, 2 user, 4 system CPU).
double s_clock[8] = {0, 100.0, 20.0, 0, 30.0};
uint64_t s_in_use = 1000, s_virtual = 8192;
int s_reads = 0;

// One block: its CPU and wall-clock seconds and its memory changes, made just before it reports.
struct CHANGE {
    double cpu = 0, wall = 0, mem = 0, vmem = 0;
};
template <class BASE> struct BLOCK : BASE {
    BLOCK(const char* name, unsigned types, CHANGE change = {}) : BASE("SUB", name, types, true), m(change) {}
    ~BLOCK() override
    {
        s_clock[1] += m.wall, s_clock[2] += m.cpu / 2, s_clock[4] += m.cpu / 2; // CPU: user and system
        s_in_use += m.mem, s_virtual += m.vmem;
    }
    const CHANGE m;
};

const std::string s_long_subsystem = "S\"%s" + std::string(3000, 's'), // printed literally, and cut
    s_long_name = "50%d \"odd\", %n" + std::string(5000, 'n'),
                  s_fitting_name = std::string(2037, 'f'); // "PROFILE " + name + ":" leaves room for one '>'

[[noreturn]] void report_every_form(const char* config, const std::string& dir)
{
    test_support::set_env("NUV_CONFIG", config);
    test_support::set_env("NUV_OUTPUT_DIR", dir.c_str());
    host_test::set_clock([](int kind) { return ++s_reads, s_clock[kind & 7]; });
    host_test::set_memory([] { return ++s_reads, s_in_use; }, [] { return ++s_reads, s_virtual; });
    std::atexit([] { BLOCK<P>("LATE", P::CPU_TIME, {0.5}); });    // runs after the file closed, but...
    P("SUB", "OFF", s_all, false), R("SUB", "OFF", s_all, false); // opens the file...
    test_support::set_env("NUV_OUTPUT_DIR", "/nonexistent/");     // ...so this comes too late
    std::fprintf(stderr, "%d readings\n", s_reads);
    BLOCK<P>("X", P::CPU_TIME, {0.5, 3.0});
    BLOCK<P>("W", P::WC_TIME, {2.0, 1.25});
    BLOCK<P>("ALL", s_all, {0.5, 1.0, 100, -4096});
    BLOCK<P>("MEMS", P::MEM | P::VMEM, {1.0, 1.0, -300, 4096});
    {
        BLOCK<R> o("O", s_times, {0.4, 0.8});
        BLOCK<R>("I", s_times, {0.1, 0.2});
    }
    {
        BLOCK<R> p("P", P::CPU_TIME, {0.25});
        {
            BLOCK<R> c("C", s_times, {0.25, 0.5});
            BLOCK<R>("G", P::CPU_TIME, {0.125, 0.25}); // measures no wall time, so passes none to C
            BLOCK<R>("Z", P::CPU_TIME);                // child totals are sums
        }
        R d("SUB", "D", s_times, false); // in the chain, but passes nothing on to P
        BLOCK<R> e("E", P::CPU_TIME, {0.5});
        BLOCK<R>("Y", P::MEM); // measures no seconds, so passes none to E
    }
    R(s_long_subsystem.c_str(), s_long_name.c_str(), s_all, true);
    R("SUB", s_long_name.c_str(), 0, true);    // measures nothing: the depth mark alone meets the cut
    R("SUB", s_fitting_name.c_str(), 0, true); // the depth mark is the line's last character
    std::exit(0);                              // closes the file the way every process end does
}

TEST(Profiler, ReportLinesAndTheOncePerProcessFile)
{
    ::testing::FLAGS_gtest_death_test_style = "fast"; // the children write into the parent's directory
    test_support::TEMP_DIR temp;
    // The child's count of readings and the CSV header, then each block's report line and row.
    const std::pair<std::string, std::string> reports[] = {
        {"0 readings",
         R"("SUBSYS","NAME","CPU TIME","WC TIME","MEM_START","MEM_END","MEM_DIFF","VMEM_START",)"
         R"("VMEM_END","VMEM_DIFF")"},
        {"[SUB] PROFILE X: TIME = 0.500000s", R"("SUB","X",0.500000,,,,,,,)"},
        {"[SUB] PROFILE W:WC_TIME = 1.250000s", R"("SUB","W",,1.250000,,,,,,)"},
        {"[SUB] PROFILE ALL: TIME = 0.500000s, WC_TIME = 1.000000s, MEM = 100, VMEM = -4096",
         R"("SUB","ALL",0.500000,1.000000,1000,1100,100,8192,4096,-4096)"},
        {"[SUB] PROFILE MEMS:MEM = -300, VMEM = 4096", R"("SUB","MEMS",,,1100,800,-300,4096,8192,4096)"},
        {"[SUB] PROFILE I:>> TIME = 0.100000s, WC_TIME = 0.200000s", R"("SUB","I",0.100000,0.200000,,,,,,)"},
        {"[SUB] PROFILE O:> TOTAL_TIME = 0.500000s, EXCLUSIVE_TIME = 0.400000s, CHILD_TIME = 0.100000s, "
         "TOTAL_WC_TIME = 1.000000s, EXCLUSIVE_WC_TIME = 0.800000s, CHILD_WC_TIME = 0.200000s",
         R"("SUB","O",0.500000,1.000000,,,,,,)"},
        {"[SUB] PROFILE G:>>> TIME = 0.125000s", R"("SUB","G",0.125000,,,,,,,)"},
        {"[SUB] PROFILE Z:>>> TIME = 0.000000s", R"("SUB","Z",0.000000,,,,,,,)"},
        {"[SUB] PROFILE C:>> TOTAL_TIME = 0.375000s, EXCLUSIVE_TIME = 0.250000s, CHILD_TIME = 0.125000s, "
         "WC_TIME = 0.750000s",
         R"("SUB","C",0.375000,0.750000,,,,,,)"},
        {"[SUB] PROFILE Y:>>>>MEM = 0", R"("SUB","Y",,,800,800,0,,,)"},
        {"[SUB] PROFILE E:>>> TIME = 0.500000s", R"("SUB","E",0.500000,,,,,,,)"},
        {"[SUB] PROFILE P:> TOTAL_TIME = 1.125000s, EXCLUSIVE_TIME = 0.750000s, CHILD_TIME = 0.375000s",
         R"("SUB","P",1.125000,,,,,,,)"},
        {"[" + s_long_subsystem + "] " + ("PROFILE " + s_long_name).substr(0, 2047),
         "\"" + s_long_subsystem.substr(0, 2046)},
        {"[SUB] " + ("PROFILE " + s_long_name).substr(0, 2047), ("\"SUB\",\"" + s_long_name).substr(0, 2047)},
        {"[SUB] PROFILE " + s_fitting_name + ":>",
         ("\"SUB\",\"" + s_fitting_name + "\",,,,,,,,").substr(0, 2047)},
    };
    std::string log, csv;
    for (const auto& report : reports)
        log += report.first + "\n", csv += report.second + "\n";
    log += "[SUB] PROFILE LATE: TIME = 0.500000s\n";
    // ...on Windows, whose DLLs end their statics when they unload, after the program's
    // atexit handlers: there the late block still finds the file open.
    csv += test_support::WINDOWS ? "\"SUB\",\"LATE\",0.500000,,,,,,,\n" : "";
    for (const char* config : {"", "nuv_profiler_to_file"})
        for (const char* subdir : {"", "/missing"}) { // the settings lack the final '/'
            SCOPED_TRACE(std::string(config) + " " + subdir);
            const std::string dir = temp.path().u8string() + subdir,
                              file = dir + char(std::filesystem::path::preferred_separator) +
                                     "nuv_profiler_output.csv";
            const bool on = *config, missing = *subdir;
            const std::string warning =
                on && missing ? "[NUV] Warning: Cannot open " + file + " for writing.\n" : "";
            EXPECT_EXIT(report_every_form(config, dir), ::testing::ExitedWithCode(0),
                        ::testing::Matcher<const std::string&>(warning + log));
            EXPECT_EQ(std::filesystem::exists(file) ? test_support::read_file(file) : "none",
                      on && !missing ? test_support::as_text_file(csv) : "none"); // a text file
            std::remove(file.c_str());
        }
}

} // namespace
