// Profilers with substituted stopwatch and memory figures: exact log lines in-process;
// the once-per-process CSV file in fresh processes (death-test children re-executed from
// the test binary), checked by the parent after the child has exited.
#include <nuv/nuv_profiler.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Host figures the tests move forward by hand, and the debug lines the profilers send.
struct FIGURES {
    double clock[5] = {0, 100.0, 20.0, 0, 30.0}; // by stopwatch kind: 1 wall, 2 user, 4 system
    uint64_t in_use = 1000;
    uint64_t virtual_used = 8192;
    int reads = 0;
    std::vector<std::string> lines; // "[TAG] text"

    FIGURES()
    {
        host_test::set_clock([this](int kind) {
            ++reads;
            return clock[kind];
        });
        host_test::set_memory(
            [this] {
                ++reads;
                return in_use;
            },
            [this] {
                ++reads;
                return virtual_used;
            });
        host_test::set_debug_sink([this](const char* tag, const char* text) {
            lines.push_back(std::string("[") + tag + "] " + text);
        });
    }
    ~FIGURES()
    {
        host_test::set_clock(nullptr);
        host_test::set_memory(nullptr, nullptr);
        host_test::set_debug_sink(nullptr);
    }
    // CPU time is split between user and system time: the profilers read both.
    void spend(double cpu, double wall)
    {
        clock[2] += cpu / 2;
        clock[4] += cpu / 2;
        clock[1] += wall;
    }
};

const unsigned int s_times = NUV_PROFILER::CPU_TIME | NUV_PROFILER::WC_TIME;
const unsigned int s_all = s_times | NUV_PROFILER::MEM | NUV_PROFILER::VMEM;

// In-process tests never turn the file on: a whole-binary run shares one decision.
class ProfilerTest : public ::testing::Test {
protected:
    void SetUp() override { host_test::set_config("nuv_profiler_to_file", false); }
    void TearDown() override { host_test::clear_config(); }
};

TEST_F(ProfilerTest, EachKindAloneAndAllFour)
{
    FIGURES f;
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::CPU_TIME, true);
        f.spend(0.5, 3.0);
    }
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::WC_TIME, true);
        f.spend(2.0, 1.25);
    }
    {
        NUV_PROFILER p("SUB", "X", s_all, true);
        f.spend(0.5, 1.0);
        f.in_use += 100;
        f.virtual_used -= 4096;
    }
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::MEM | NUV_PROFILER::VMEM, true);
        f.in_use += 100;
        f.virtual_used += 4096;
    }
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::MEM, true);
        f.in_use -= 300;
    }
    {
        NUV_PROFILER p("SUB", "X", 0, true);
        f.spend(1.0, 1.0);
    }
    std::vector<std::string> expected = {
        "[SUB] PROFILE X: TIME = 0.500000s",
        "[SUB] PROFILE X:WC_TIME = 1.250000s",
        "[SUB] PROFILE X: TIME = 0.500000s, WC_TIME = 1.000000s, MEM = 100, VMEM = -4096",
        "[SUB] PROFILE X:MEM = 100, VMEM = 4096",
        "[SUB] PROFILE X:MEM = -300",
        "[SUB] PROFILE X:",
    };
    EXPECT_EQ(f.lines, expected);
}

// The memory figure is unsigned: its difference wraps like an unsigned subtraction before
// it is shown as signed, whatever the two figures are.
TEST_F(ProfilerTest, MemoryDifferenceOfExtremeFiguresWraps)
{
    FIGURES f;
    f.in_use = uint64_t(1) << 63;
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::MEM, true);
        f.in_use = 1;
    }
    f.in_use = 1;
    {
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::MEM, true);
        f.in_use = uint64_t(1) << 63;
    }
    std::vector<std::string> expected = {
        "[SUB] PROFILE X:MEM = -9223372036854775807",
        "[SUB] PROFILE X:MEM = 9223372036854775807",
    };
    EXPECT_EQ(f.lines, expected);
}

TEST_F(ProfilerTest, DisabledProfilersMeasureAndPrintNothing)
{
    FIGURES f;
    {
        NUV_PROFILER p("SUB", "X", s_all, false);
        NUV_RECURSIVE_PROFILER r("SUB", "R", s_all, false);
        f.spend(1.0, 1.0);
    }
    EXPECT_EQ(f.reads, 0);
    EXPECT_TRUE(f.lines.empty());
}

TEST_F(ProfilerTest, NestedRecursiveProfilersSplitTotalExclusiveAndChildTimes)
{
    FIGURES f;
    {
        NUV_RECURSIVE_PROFILER outer("SUB", "O", s_times, true);
        f.spend(0.2, 0.3);
        {
            NUV_RECURSIVE_PROFILER inner("SUB", "I", s_times, true);
            f.spend(0.1, 0.2);
        }
        f.spend(0.2, 0.5);
    }
    std::vector<std::string> expected = {
        "[SUB] PROFILE I:>> TIME = 0.100000s, WC_TIME = 0.200000s",
        "[SUB] PROFILE O:> TOTAL_TIME = 0.500000s, EXCLUSIVE_TIME = 0.400000s, CHILD_TIME = 0.100000s, "
        "TOTAL_WC_TIME = 1.000000s, EXCLUSIVE_WC_TIME = 0.800000s, CHILD_WC_TIME = 0.200000s",
    };
    EXPECT_EQ(f.lines, expected);

    // The chain is unwound: a new outermost profiler is at depth 1 again.
    f.lines.clear();
    {
        NUV_RECURSIVE_PROFILER again("SUB", "A", NUV_PROFILER::CPU_TIME, true);
    }
    EXPECT_EQ(f.lines, std::vector<std::string>{"[SUB] PROFILE A:> TIME = 0.000000s"});
}

TEST_F(ProfilerTest, ChildTotalsSumDirectChildrenOnly)
{
    FIGURES f;
    {
        NUV_RECURSIVE_PROFILER outer("SUB", "O", NUV_PROFILER::CPU_TIME, true);
        for (int i = 0; i < 2; ++i) {
            NUV_RECURSIVE_PROFILER child("SUB", "C", NUV_PROFILER::CPU_TIME, true);
            f.spend(0.25, 0);
            NUV_RECURSIVE_PROFILER grandchild("SUB", "G", NUV_PROFILER::CPU_TIME, true);
            f.spend(0.125, 0);
        }
        NUV_PROFILER plain("SUB", "P", NUV_PROFILER::CPU_TIME, true); // not part of the chain
        f.spend(0.5, 0);
    }
    ASSERT_EQ(f.lines.size(), 6u);
    EXPECT_EQ(f.lines[0], "[SUB] PROFILE G:>>> TIME = 0.125000s");
    EXPECT_EQ(f.lines[1], "[SUB] PROFILE C:>> TOTAL_TIME = 0.375000s, EXCLUSIVE_TIME = 0.250000s, "
                          "CHILD_TIME = 0.125000s");
    EXPECT_EQ(f.lines[4], "[SUB] PROFILE P: TIME = 0.500000s");
    EXPECT_EQ(f.lines[5], "[SUB] PROFILE O:> TOTAL_TIME = 1.250000s, EXCLUSIVE_TIME = 0.500000s, "
                          "CHILD_TIME = 0.750000s");
}

TEST_F(ProfilerTest, DisabledProfilerInTheMiddleOfAChain)
{
    FIGURES f;
    {
        NUV_RECURSIVE_PROFILER outer("SUB", "O", s_times, true);
        f.spend(0.5, 0.5);
        {
            NUV_RECURSIVE_PROFILER middle("SUB", "M", s_times, false);
            NUV_RECURSIVE_PROFILER inner("SUB", "I", s_times, true);
            f.spend(0.25, 0.25);
        }
    }
    // The inner one counts the disabled one's depth and hands its times to it; the
    // disabled one passes nothing on, so the outer one shows no child times.
    std::vector<std::string> expected = {
        "[SUB] PROFILE I:>>> TIME = 0.250000s, WC_TIME = 0.250000s",
        "[SUB] PROFILE O:> TIME = 0.750000s, WC_TIME = 0.750000s",
    };
    EXPECT_EQ(f.lines, expected);
}

TEST_F(ProfilerTest, ChildrenOfZeroSecondsGiveThePlainForm)
{
    FIGURES f;
    {
        NUV_RECURSIVE_PROFILER outer("SUB", "O", s_times, true);
        {
            NUV_RECURSIVE_PROFILER inner("SUB", "I", s_times, true);
        }
        f.spend(0.5, 1.0);
    }
    ASSERT_EQ(f.lines.size(), 2u);
    EXPECT_EQ(f.lines[1], "[SUB] PROFILE O:> TIME = 0.500000s, WC_TIME = 1.000000s");
}

TEST_F(ProfilerTest, PercentSignsInNamesArePrintedLiterally)
{
    FIGURES f;
    {
        NUV_PROFILER p("SUB%s", "100%s %n%d%%", NUV_PROFILER::CPU_TIME, true);
        f.spend(0.5, 0);
    }
    EXPECT_EQ(f.lines, std::vector<std::string>{"[SUB%s] PROFILE 100%s %n%d%%: TIME = 0.500000s"});
}

TEST_F(ProfilerTest, LinesLongerThanTheBufferAreCut)
{
    FIGURES f;
    std::string name(5000, 'n');
    std::string subsystem(3000, 's');
    {
        NUV_RECURSIVE_PROFILER p(subsystem.c_str(), name.c_str(), s_all, true);
    }
    ASSERT_EQ(f.lines.size(), 1u);
    EXPECT_EQ(f.lines[0], "[" + subsystem + "] PROFILE " + name.substr(0, 2047 - 8));

    // Cut in the middle of an item: the text up to the cut is kept.
    f.lines.clear();
    std::string long_name(2047 - 12, 'n'); // "PROFILE " + name + ": TI" fills the buffer
    {
        NUV_PROFILER p("SUB", long_name.c_str(), NUV_PROFILER::CPU_TIME, true);
    }
    ASSERT_EQ(f.lines.size(), 1u);
    EXPECT_EQ(f.lines[0], "[SUB] PROFILE " + long_name + ": TI");
}

// ---- The CSV file: one fresh process per case ----

std::string read_file(const std::string& path, bool* exists)
{
    std::ifstream in(path, std::ios::binary);
    *exists = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char s_header[] = "\"SUBSYS\",\"NAME\",\"CPU TIME\",\"WC TIME\",\"MEM_START\",\"MEM_END\",\"MEM_DIFF\","
                        "\"VMEM_START\",\"VMEM_END\",\"VMEM_DIFF\"\n";

// Each test gets a scratch directory; its death-test child inherits the same one through
// the environment, since it runs the test body again from the start.
class ProfilerFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::testing::FLAGS_gtest_death_test_style = "threadsafe";
        if (const char* inherited = std::getenv("NUV_PROFILER_TEST_DIR")) {
            m_dir = inherited;
            return;
        }
        char dir[] = "/tmp/nuv_profiler_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        setenv("NUV_PROFILER_TEST_DIR", dir, 1);
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        unsetenv("NUV_PROFILER_TEST_DIR");
        unsetenv("NUV_OUTPUT_DIR");
        host_test::clear_config();
    }
    // Points the output directory at `text` and sets the file flag.
    void configure(const std::string& text, bool to_file)
    {
        setenv("NUV_OUTPUT_DIR", text.c_str(), 1);
        host_test::set_config("nuv_profiler_to_file", to_file);
    }

    std::string m_dir;
};

// Child bodies: profile with substituted figures, then leave through exit() so that the
// CSV file is closed the way it is at the end of any process.
[[noreturn]] void child_report_one_block()
{
    {
        FIGURES f;
        host_test::set_debug_sink(nullptr); // to stderr, for the parent's pattern
        NUV_PROFILER p("SUB", "X", NUV_PROFILER::CPU_TIME, true);
        f.spend(0.5, 1.0);
    }
    std::exit(0);
}

TEST_F(ProfilerFileTest, FlagOffCreatesNoFile)
{
    configure(m_dir + "/", false);
    EXPECT_EXIT(child_report_one_block(), ::testing::ExitedWithCode(0),
                "\\[SUB\\] PROFILE X: TIME = 0\\.500000s");
    bool exists = true;
    read_file(m_dir + "/nuv_profiler_output.csv", &exists);
    EXPECT_FALSE(exists);
}

[[noreturn]] void child_report_every_form()
{
    {
        FIGURES f;
        {
            NUV_PROFILER p("SUB", "X", NUV_PROFILER::CPU_TIME, true);
            f.spend(0.5, 1.0);
        }
        {
            NUV_PROFILER p("SUB", "ALL", s_all, true);
            f.spend(0.5, 1.0);
            f.in_use += 100;
            f.virtual_used -= 4096;
        }
        {
            NUV_PROFILER p("SUB", "MEMS", NUV_PROFILER::MEM | NUV_PROFILER::VMEM, true);
            f.in_use -= 100;
            f.virtual_used += 4096;
        }
        {
            NUV_PROFILER p("SUB", "NONE", 0, true);
            NUV_PROFILER off("SUB", "OFF", s_all, false);
        }
        {
            NUV_RECURSIVE_PROFILER outer("SUB", "O", s_times, true);
            f.spend(0.2, 0.3);
            {
                NUV_RECURSIVE_PROFILER inner("SUB", "I", s_times, true);
                f.spend(0.1, 0.2);
            }
            f.spend(0.2, 0.5);
        }
        {
            NUV_PROFILER p("S\"Q", "50%s \"odd\", name", NUV_PROFILER::WC_TIME, true);
            f.spend(0, 0.125);
        }
    }
    std::exit(0);
}

TEST_F(ProfilerFileTest, FlagOnWritesHeaderAndOneRowPerReport)
{
    configure(m_dir + "/", true);
    EXPECT_EXIT(child_report_every_form(), ::testing::ExitedWithCode(0), "");
    bool exists = false;
    std::string csv = read_file(m_dir + "/nuv_profiler_output.csv", &exists);
    ASSERT_TRUE(exists);
    std::string expected = std::string(s_header) +
                           "\"SUB\",\"X\",0.500000,,,,,,,\n"
                           "\"SUB\",\"ALL\",0.500000,1.000000,1000,1100,100,8192,4096,-4096\n"
                           "\"SUB\",\"MEMS\",,,1100,1000,-100,4096,8192,4096\n"
                           "\"SUB\",\"NONE\",,,,,,,,\n"
                           "\"SUB\",\"I\",0.100000,0.200000,,,,,,\n"
                           "\"SUB\",\"O\",0.500000,1.000000,,,,,,\n"
                           "\"S\"Q\",\"50%s \"odd\", name\",,0.125000,,,,,,\n";
    EXPECT_EQ(csv, expected);
}

[[noreturn]] void child_report_with_long_names()
{
    {
        FIGURES f;
        std::string subsystem(3000, 's');
        NUV_PROFILER p(subsystem.c_str(), "X", s_all, true);
    }
    std::exit(0);
}

TEST_F(ProfilerFileTest, RowsLongerThanTheBufferAreCut)
{
    configure(m_dir + "/", true);
    EXPECT_EXIT(child_report_with_long_names(), ::testing::ExitedWithCode(0), "");
    bool exists = false;
    std::string csv = read_file(m_dir + "/nuv_profiler_output.csv", &exists);
    ASSERT_TRUE(exists);
    EXPECT_EQ(csv, s_header + ("\"" + std::string(2046, 's') + "\n"));
}

[[noreturn]] void child_cannot_open_file()
{
    int warnings = 0, reports = 0;
    {
        FIGURES f;
        for (int i = 0; i < 3; ++i) {
            NUV_PROFILER p("SUB", "X", NUV_PROFILER::CPU_TIME, i != 1);
            f.spend(0.5, 0);
        }
        for (const std::string& line : f.lines) {
            std::fprintf(stderr, "%s\n", line.c_str());
            warnings += line.find("Warning") != std::string::npos;
            reports += line == "[SUB] PROFILE X: TIME = 0.500000s";
        }
    }
    std::exit(warnings == 1 && reports == 2 ? 0 : 1);
}

TEST_F(ProfilerFileTest, UnwritableDirectoryGivesOneWarningAndLogOnlyReports)
{
    std::string missing = m_dir + "/missing/";
    configure(missing, true);
    EXPECT_EXIT(child_cannot_open_file(), ::testing::ExitedWithCode(0),
                "^\\[NUV\\] Warning: Cannot open " + m_dir +
                    "/missing/nuv_profiler_output\\.csv for writing\\.\n");
    struct stat info;
    EXPECT_NE(stat(missing.c_str(), &info), 0);
}

TEST_F(ProfilerFileTest, OutputDirectoryTextIsUsedWithoutASeparator)
{
    configure(m_dir + "/out", true);
    EXPECT_EXIT(child_report_one_block(), ::testing::ExitedWithCode(0), "");
    bool exists = false;
    std::string csv = read_file(m_dir + "/outnuv_profiler_output.csv", &exists);
    ASSERT_TRUE(exists);
    EXPECT_EQ(csv, s_header + std::string("\"SUB\",\"X\",0.500000,,,,,,,\n"));
}

[[noreturn]] void child_disabled_only()
{
    NUV_PROFILER p("SUB", "X", s_all, false);
    std::exit(0);
}

TEST_F(ProfilerFileTest, DisabledFirstProfilerStillOpensTheFile)
{
    configure(m_dir + "/", true);
    EXPECT_EXIT(child_disabled_only(), ::testing::ExitedWithCode(0), "");
    bool exists = false;
    EXPECT_EQ(read_file(m_dir + "/nuv_profiler_output.csv", &exists), s_header);
    EXPECT_TRUE(exists);
}

// Runs at exit after the CSV file was closed (registered before the first profiler).
void report_after_file_closed()
{
    NUV_RECURSIVE_PROFILER outer("SUB", "LATE_OUTER", s_all, true);
    NUV_PROFILER late("SUB", "LATE", NUV_PROFILER::CPU_TIME, true);
}

[[noreturn]] void child_profilers_at_exit()
{
    std::atexit(report_after_file_closed);
    child_report_one_block();
}

TEST_F(ProfilerFileTest, ProfilersDestroyedAfterTheFileClosedReportToTheLogOnly)
{
    configure(m_dir + "/", true);
    EXPECT_EXIT(child_profilers_at_exit(), ::testing::ExitedWithCode(0),
                "\\[SUB\\] PROFILE LATE: TIME = [0-9]+\\.[0-9]{6}s\n"
                "\\[SUB\\] PROFILE LATE_OUTER:> TIME = [0-9.]+s, WC_TIME = [0-9.]+s, MEM = -?[0-9]+, VMEM = "
                "-?[0-9]+\n$");
    bool exists = false;
    std::string csv = read_file(m_dir + "/nuv_profiler_output.csv", &exists);
    EXPECT_EQ(csv, s_header + std::string("\"SUB\",\"X\",0.500000,,,,,,,\n"));
}

} // namespace
