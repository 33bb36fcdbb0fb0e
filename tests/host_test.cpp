// Host services: configuration parsing, debug lines, internal errors, stopwatch and
// memory substitution, path resolution and load-time registration.
#include <host/host_services.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

class ConfigTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("NUV_CONFIG");
        host_test::clear_config();
    }
};

TEST_F(ConfigTest, ReadsNamesAndValuesFromEnvironment)
{
    setenv("NUV_CONFIG", "alpha,beta=0,gamma=on,delta=false,eps=TRUE,zeta=true", 1);
    EXPECT_TRUE(config_is_on("alpha", false));
    EXPECT_FALSE(config_is_on("beta", true));
    EXPECT_TRUE(config_is_on("gamma", false));
    EXPECT_FALSE(config_is_on("delta", true));
    EXPECT_TRUE(config_is_on("zeta", false));
    // Values other than the six words leave the default.
    EXPECT_FALSE(config_is_on("eps", false));
    EXPECT_TRUE(config_is_on("eps", true));
    // Unlisted keys and prefixes of listed ones get the default.
    EXPECT_FALSE(config_is_on("alph", false));
    EXPECT_TRUE(config_is_on("missing", true));
}

TEST_F(ConfigTest, InProcessAnswersWin)
{
    setenv("NUV_CONFIG", "alpha", 1);
    host_test::set_config("alpha", false);
    host_test::set_config("other", true);
    EXPECT_FALSE(config_is_on("alpha", true));
    EXPECT_TRUE(config_is_on("other", false));
    host_test::clear_config();
    EXPECT_TRUE(config_is_on("alpha", false));
}

TEST(DebugMessage, SinkReceivesFormattedLine)
{
    std::vector<std::pair<std::string, std::string>> lines;
    host_test::set_debug_sink([&](const char* tag, const char* text) { lines.emplace_back(tag, text); });
    debug_message("NUV", "value %d and %s", 42, "text");
    host_test::set_debug_sink(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, "NUV");
    EXPECT_EQ(lines[0].second, "value 42 and text");
}

TEST(DebugMessage, WritesTaggedLineToStderr)
{
    testing::internal::CaptureStderr();
    debug_message("PROF", "%s", "100% literal");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[PROF] 100% literal\n");
}

TEST(InternalErrorDeathTest, PrintsAllFourArgumentsAndAborts)
{
    EXPECT_DEATH(report_internal_error("rval != 0", "NUV", "nuv_zstream", 417),
                 "NUV.*nuv_zstream.*417.*rval != 0");
    EXPECT_DEATH(out_of_memory_handler(), "Out of memory");
}

TEST(StringServices, PrintfLengthCopyAndRadix)
{
    std::string out = "old";
    string_printf(&out, "Close the previously opened stream before reopening as %s!", "x.z");
    EXPECT_EQ(out, "Close the previously opened stream before reopening as x.z!");
    string_printf(&out, "%s", "");
    EXPECT_EQ(out, "");

    EXPECT_EQ(string_length("abc"), 3u);
    char buffer[8];
    EXPECT_STREQ(string_copy(buffer, "nuv"), "nuv");

    EXPECT_EQ(integer_to_text(0, 16), "0");
    EXPECT_EQ(integer_to_text(10, 16), "a");
    EXPECT_EQ(integer_to_text(255, 16), "ff");
    EXPECT_EQ(integer_to_text(-35, 36), "-z");
    EXPECT_EQ(integer_to_text(-9223372036854775807LL - 1, 10), "-9223372036854775808");
}

TEST(Stopwatch, SubstitutedClockGivesExactLaps)
{
    double now[5] = {0, 10.0, 20.0, 0, 30.0};
    host_test::set_clock([&](int kind) { return now[kind]; });
    STOPWATCH watch(false, 7);
    watch.start();
    now[1] += 1.25;
    now[2] += 0.25;
    now[4] += 0.25;
    EXPECT_DOUBLE_EQ(watch.lap_sec(1), 1.25);
    EXPECT_DOUBLE_EQ(watch.lap_sec(6), 0.5);
    watch.stop();
    now[1] += 100.0;
    EXPECT_DOUBLE_EQ(watch.lap_sec(1), 1.25); // stopped: the interval is frozen
    watch.set_types(1);
    watch.start();
    now[2] += 5.0;
    EXPECT_DOUBLE_EQ(watch.lap_sec(6), 0.0); // CPU kinds not measured
    host_test::set_clock(nullptr);
}

TEST(Stopwatch, RealClockAdvances)
{
    STOPWATCH watch(true, 7);
    volatile double sink = 0;
    for (int i = 0; i < 2000000; ++i)
        sink = sink + i;
    EXPECT_GT(watch.lap_sec(1), 0.0);
    EXPECT_GE(watch.lap_sec(6), 0.0);
}

TEST(Memory, RealFiguresFollowAllocationsAndCanBeSubstituted)
{
    uint64_t before = memory_global_current().memory_in_use;
    std::vector<char> block(8 << 20, 1);
    uint64_t after = memory_global_current().memory_in_use;
    EXPECT_GE(after, before + (8u << 20));
    EXPECT_GT(memory_process_virtual_used(), 8u << 20);

    host_test::set_memory([] { return uint64_t(100); }, [] { return uint64_t(4096); });
    EXPECT_EQ(memory_global_current().memory_in_use, 100u);
    EXPECT_EQ(memory_process_virtual_used(), 4096u);
    host_test::set_memory(nullptr, nullptr);
}

TEST(OutputDirectory, EnvironmentTextAsSetElseCurrentDirectory)
{
    setenv("NUV_OUTPUT_DIR", "/tmp/no_separator", 1);
    EXPECT_STREQ(get_project_output_directory(), "/tmp/no_separator");
    unsetenv("NUV_OUTPUT_DIR");
    std::string dir = get_project_output_directory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
}

TEST(Paths, FullPathIsAbsoluteNormalisedAndRoundTrips)
{
    EXPECT_EQ(get_unc_full_path("/a/b/../c/./d"), L"/a/c/d");
    std::string cwd = get_project_output_directory();
    EXPECT_EQ(narrow_platform_path(get_unc_full_path("x/y")), cwd + "x/y");

    // UTF-8 becomes real characters; other bytes survive the round trip unchanged.
    EXPECT_EQ(get_unc_full_path("/t/\xc3\xa9"), L"/t/\u00e9");
    const char* odd = "/t/\xff\xc3\x28\xed\xa0\x80\xf4\x90\x80\x80";
    EXPECT_EQ(narrow_platform_path(get_unc_full_path(odd)), odd);
}

TEST(Registration, LibraryRegisteredAtLoad)
{
    EXPECT_EQ(host_test::registered_memory_clients(), "NUV");
    {
        MEMORY_INITIALIZER other("OTHER");
        EXPECT_EQ(host_test::registered_memory_clients(), "NUV,OTHER");
    }
    EXPECT_EQ(host_test::registered_memory_clients(), "NUV");
}

} // namespace
