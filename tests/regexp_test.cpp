// Regular expressions: syntax choice, groups and their table, windows and offsets,
// match, replace, copying, debug lines and errors. Boost.Regex called directly serves
// as the oracle for window offsets.
#include <nuv/nuv_regexp.h>

#include <host/host_services.h>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

// Readable ranges in failure messages.
void PrintTo(const NUV_REGEXP::RANGE& range, std::ostream* out)
{
    *out << "(" << range.start << ", " << range.end << ")";
}

namespace {

const size_t npos = std::string::npos;
using RANGE = NUV_REGEXP::RANGE;

// Read once, as the library does: some tests change the variable afterwards.
bool posix_selected()
{
    static const bool s_posix = std::getenv("NUV_REGEXP_POSIX") != nullptr;
    return s_posix;
}

// Runs this test program again with `filter` and NUV_REGEXP_POSIX set (empty); returns
// its exit status.
int run_child_with_posix(const std::string& filter)
{
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("NUV_REGEXP_POSIX=", 0) != 0)
            env_text.push_back(*e);
    env_text.push_back("NUV_REGEXP_POSIX=");
    std::vector<char*> envp;
    for (auto& e : env_text)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::string program = "/proc/self/exe";
    std::string filter_arg = "--gtest_filter=" + filter;
    char* argv[] = {&program[0], &filter_arg[0], nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(RegexpSyntax, PerlFirstAlternativeWinsAndEnvironmentIsReadOnce)
{
    if (posix_selected())
        GTEST_SKIP() << "NUV_REGEXP_POSIX is set for this process";
    NUV_REGEXP re("a|ab", true);
    EXPECT_EQ(re.search("ab", 0, npos), RANGE(0, 1));
    // Too late: the syntax was chosen at the first pattern of the process.
    setenv("NUV_REGEXP_POSIX", "1", 1);
    NUV_REGEXP later("a|ab", true);
    unsetenv("NUV_REGEXP_POSIX");
    EXPECT_EQ(later.search("ab", 0, npos), RANGE(0, 1));
    NUV_REGEXP lazy("a+?", true);
    EXPECT_EQ(lazy.search("aaa", 0, npos), RANGE(0, 1));
}

TEST(RegexpSyntax, PosixLeftmostLongestInChildProcess)
{
    EXPECT_EQ(run_child_with_posix("RegexpPosixChild.*"), 0);
}

// Runs only in the child started above.
TEST(RegexpPosixChild, LeftmostLongestForEveryPattern)
{
    if (!posix_selected())
        GTEST_SKIP() << "runs in a child process with NUV_REGEXP_POSIX set";
    NUV_REGEXP re("a|ab", true);
    EXPECT_EQ(re.search("ab", 0, npos), RANGE(0, 2));
    unsetenv("NUV_REGEXP_POSIX");
    NUV_REGEXP later("x|xy|xyz", true);
    EXPECT_EQ(later.search("_xyz", 0, npos), RANGE(1, 4));
    // Perl-only syntax is refused by the POSIX extended grammar.
    NUV_REGEXP lazy("a+?", true);
    EXPECT_FALSE(lazy.is_pattern_valid());
}

// Leftmost longest goes on after the first alternative has matched, and the second one
// makes the matcher give up: the *_exists tests see that error as search and match do.
TEST(RegexpPosixChild, MatcherGivingUpAfterAFirstMatchReachesTheExistsTests)
{
    if (!posix_selected())
        GTEST_SKIP() << "runs in a child process with NUV_REGEXP_POSIX set";
    std::string text(40, 'x');
    NUV_REGEXP re("x|(x+x+)+y", true);
    EXPECT_EQ(re.search(text, 0, npos), NUV_REGEXP::not_found());
    EXPECT_NE(re.get_error().find("complexity"), std::string::npos) << re.get_error();
    EXPECT_THROW(re.match_exists(text), std::runtime_error);

    NUV_REGEXP whole("x*|(x+x+)+y", true);
    EXPECT_EQ(whole.match(text, 0, npos), -1);
    EXPECT_NE(whole.get_error().find("complexity"), std::string::npos) << whole.get_error();
    EXPECT_THROW(whole.exact_match_exists(text), std::runtime_error);
}

TEST(RegexpPattern, CaseFoldingAndRecompilingTheCurrentPattern)
{
    NUV_REGEXP re("abc", false);
    EXPECT_TRUE(re.exact_match_exists("ABC"));
    re.pattern("abc", true);
    EXPECT_FALSE(re.exact_match_exists("ABC"));
    EXPECT_TRUE(re.pattern(re.get_pattern(), false));
    EXPECT_EQ(re.get_pattern(), "abc");
    EXPECT_TRUE(re.exact_match_exists("aBc"));
}

TEST(RegexpPattern, InvalidPatternKeepsMessageAndPreviousText)
{
    NUV_REGEXP fresh("(", true);
    EXPECT_FALSE(fresh.is_pattern_valid());
    EXPECT_EQ(fresh.get_pattern(), "");
    EXPECT_EQ(fresh.groups(), 0u);
    EXPECT_EQ(fresh.search("(((", 0, npos), NUV_REGEXP::not_found());
    EXPECT_EQ(fresh.match("(", 0, npos), -1);
    EXPECT_FALSE(fresh.match_exists("("));
    EXPECT_FALSE(fresh.exact_match_exists("("));
    EXPECT_NE(fresh.get_error().find("parenthesis"), std::string::npos) << fresh.get_error();

    NUV_REGEXP re("(a)(b)", true);
    re.search("ab", 0, npos);
    EXPECT_FALSE(re.pattern("[z", true));
    EXPECT_FALSE(re.is_pattern_valid());
    EXPECT_EQ(re.get_pattern(), "(a)(b)");
    EXPECT_EQ(re.groups(), 0u);
    EXPECT_EQ(re.search("ab", 0, npos), NUV_REGEXP::not_found());
    std::string message = re.get_error();
    EXPECT_FALSE(message.empty());
    // The message is never cleared by later successes.
    EXPECT_TRUE(re.pattern("b", true));
    EXPECT_EQ(re.get_error(), message);
}

TEST(RegexpPattern, TextEndsAtFirstZeroCharacter)
{
    std::string text("ab\0cd", 5);
    NUV_REGEXP re(text, true);
    ASSERT_TRUE(re.is_pattern_valid());
    EXPECT_EQ(re.get_pattern(), text);
    EXPECT_TRUE(re.exact_match_exists("ab"));
}

TEST(RegexpGroups, RangesOfGroupsAndUnsetEntries)
{
    NUV_REGEXP re("(a)(b)?", true);
    EXPECT_EQ(re.groups(), 2u);
    EXPECT_EQ(re.search("xab", 0, npos), RANGE(1, 3));
    EXPECT_EQ(re.group(0), RANGE(1, 3));
    EXPECT_EQ(re.group(1), RANGE(1, 2));
    EXPECT_EQ(re.group(2), RANGE(2, 3));
    EXPECT_EQ(re.group(3), NUV_REGEXP::not_found());

    // A group that took no part ends up empty at the end of the considered text.
    EXPECT_EQ(re.search("xa--", 0, 3), RANGE(1, 2));
    EXPECT_EQ(re.group(2), RANGE(3, 3));

    // A match ending at offset 0 reads back as unset.
    NUV_REGEXP star("x*", true);
    EXPECT_EQ(star.search("abc", 0, npos), RANGE(0, 0));
    EXPECT_EQ(star.group(0), NUV_REGEXP::not_found());
}

TEST(RegexpGroups, FailedSearchResetsOnlyWholeMatch)
{
    NUV_REGEXP re("(a)(b)", true);
    re.search("zab", 0, npos);
    EXPECT_EQ(re.search("zzz", 0, npos), NUV_REGEXP::not_found());
    EXPECT_EQ(re.group(0), NUV_REGEXP::not_found());
    EXPECT_EQ(re.group(1), RANGE(1, 2));
    EXPECT_EQ(re.group(2), RANGE(2, 3));
    EXPECT_EQ(re.match("zz", 0, npos), -1);
    EXPECT_EQ(re.group(1), RANGE(1, 2));
}

TEST(RegexpGroups, TableResizeKeepsExistingEntries)
{
    NUV_REGEXP re("(a)(b)", true);
    re.search("_ab", 0, npos);
    // Same group count: the table is left as it is, old ranges included.
    re.pattern("(c)(d)", true);
    EXPECT_EQ(re.group(1), RANGE(1, 2));
    EXPECT_EQ(re.group(0), RANGE(1, 3));
    // More groups: old entries kept, new ones unset.
    re.pattern("(c)(d)(e)", true);
    EXPECT_EQ(re.groups(), 3u);
    EXPECT_EQ(re.group(2), RANGE(2, 3));
    EXPECT_EQ(re.group(3), NUV_REGEXP::not_found());
    // Fewer groups: truncated.
    re.pattern("c", true);
    EXPECT_EQ(re.groups(), 0u);
    EXPECT_EQ(re.group(1), NUV_REGEXP::not_found());
}

TEST(RegexpSearch, WindowOffsetsCountFromWholeText)
{
    NUV_REGEXP re("ab", true);
    EXPECT_EQ(re.search("xxab", 2, 1), NUV_REGEXP::not_found());
    EXPECT_EQ(re.search("xxab", 2, 2), RANGE(2, 4));
    EXPECT_EQ(re.search("abxxab", 1, npos), RANGE(4, 6));
    EXPECT_EQ(re.search("abxxab", 1, 1000), RANGE(4, 6));

    // Anchors see the window's ends, not the text's.
    NUV_REGEXP anchored("^b.$", true);
    EXPECT_EQ(anchored.search("abcd", 1, 2), RANGE(1, 3));
}

TEST(RegexpSearch, StartAtTheEndAndEmptyTexts)
{
    NUV_REGEXP star("x*", true);
    EXPECT_EQ(star.search("abc", 3, npos), RANGE(3, 3));
    EXPECT_EQ(star.search("", 0, npos), RANGE(0, 0));
    // A start beyond the end counts as the end.
    EXPECT_EQ(star.search("abc", 7, npos), RANGE(3, 3));
    NUV_REGEXP a("a", true);
    EXPECT_EQ(a.search("aaa", 3, npos), NUV_REGEXP::not_found());
    EXPECT_EQ(a.search("", 0, npos), NUV_REGEXP::not_found());
    EXPECT_EQ(a.search("aaa", 1, 0), NUV_REGEXP::not_found());
}

TEST(RegexpSearch, EmbeddedZeroEndsConsideredTextButNotTheExistsTests)
{
    std::string text("ab\0cd", 5);
    NUV_REGEXP re("cd", true);
    EXPECT_EQ(re.search(text, 0, npos), NUV_REGEXP::not_found());
    EXPECT_EQ(re.search(text, 3, npos), RANGE(3, 5));
    EXPECT_TRUE(re.match_exists(text));
    EXPECT_EQ(re.match(text, 0, npos), -1);

    NUV_REGEXP dot("ab.cd", true);
    EXPECT_TRUE(dot.exact_match_exists(text));
    EXPECT_EQ(dot.match(text, 0, npos), -1);
    NUV_REGEXP ab("ab", true);
    EXPECT_EQ(ab.match(text, 0, npos), 2);
}

// Random windows over a small alphabet, compared with Boost.Regex on the window's
// characters up to the first zero.
TEST(RegexpSearch, RandomWindowsAgreeWithBoostOnTheWindow)
{
    if (posix_selected())
        GTEST_SKIP() << "the oracle uses Perl syntax";
    const std::vector<std::string> patterns = {"ab*", "(a|b)c", "^a", "b$", "(a)(c)?", "\\bc", "c*"};
    std::mt19937 random(12345);
    for (const auto& pattern_text : patterns) {
        NUV_REGEXP re(pattern_text, true);
        boost::regex oracle(pattern_text);
        for (int round = 0; round < 300; ++round) {
            std::string text;
            size_t size = random() % 12;
            for (size_t i = 0; i < size; ++i)
                text += "abc \0"[random() % 5];
            size_t start = random() % (size + 1);
            size_t length = random() % 3 == 0 ? npos : random() % (size + 2);

            std::string window = text.substr(start, length);
            window = window.substr(0, window.find('\0'));
            boost::smatch m;
            RANGE expected = NUV_REGEXP::not_found();
            if (boost::regex_search(window, m, oracle))
                expected = RANGE(start + static_cast<size_t>(m.position(size_t(0))),
                                 start + static_cast<size_t>(m.position(size_t(0))) + m[0].length());
            ASSERT_EQ(re.search(text, start, length), expected)
                << pattern_text << " in '" << text << "' start " << start << " length " << length;
        }
    }
}

TEST(RegexpMatch, WholeTextOnlyWithOffsetsFromItsBeginning)
{
    NUV_REGEXP re("abc", true);
    EXPECT_EQ(re.match("abc", 0, npos), 3);
    EXPECT_EQ(re.match(std::string("abc"), 0, npos), 3);
    NUV_REGEXP ab("ab", true);
    EXPECT_EQ(ab.match("abc", 0, npos), -1);
    EXPECT_EQ(ab.group(0), NUV_REGEXP::not_found());

    // start and length take no part.
    NUV_REGEXP groups("x(y+)z", true);
    EXPECT_EQ(groups.match("xyyz", 2, 1), 4);
    EXPECT_EQ(groups.group(1), RANGE(1, 3));
    EXPECT_EQ(NUV_REGEXP().match("", 0, npos), -1);
    NUV_REGEXP empty("", true);
    EXPECT_EQ(empty.match("", 0, npos), 0);
}

TEST(RegexpReplace, AllFirstAndWindow)
{
    NUV_REGEXP re("o", true);
    std::string text = "foo boo";
    EXPECT_EQ(re.replace(text, "0", true, 0, npos), 4u);
    EXPECT_EQ(text, "f00 b00");
    text = "foo boo";
    EXPECT_EQ(re.replace(text, "0", false, 0, npos), 1u);
    EXPECT_EQ(text, "f0o boo");

    NUV_REGEXP x("X", true);
    text = "aXbX";
    EXPECT_EQ(x.replace(text, "-", true, 0, 2), 1u);
    EXPECT_EQ(text, "a-bX");
    text = "XaXbX";
    EXPECT_EQ(x.replace(text, "<>", true, 1, 3), 1u);
    EXPECT_EQ(text, "Xa<>bX");
    text = "XX";
    EXPECT_EQ(x.replace(text, "", true, 0, npos), 2u);
    EXPECT_EQ(text, "");
}

TEST(RegexpReplace, EmptyMatchesAndInsertedPattern)
{
    NUV_REGEXP star("x*", true);
    std::string text = "abc";
    EXPECT_EQ(star.replace(text, "-", true, 0, npos), 0u);
    EXPECT_EQ(text, "abc");
    // A later empty match ends the loop.
    NUV_REGEXP maybe("b?", true);
    text = "bab";
    EXPECT_EQ(maybe.replace(text, "B", true, 0, npos), 1u);
    EXPECT_EQ(text, "Bab");

    NUV_REGEXP a("a", true);
    text = "aa";
    EXPECT_EQ(a.replace(text, "aa", true, 0, npos), 2u);
    EXPECT_EQ(text, "aaaa");
    NUV_REGEXP word("(o+)", true);
    text = "foo zoo";
    EXPECT_EQ(word.replace(text, "[$1\\1o]", true, 0, npos), 2u);
    EXPECT_EQ(text, "f[$1\\1o] z[$1\\1o]");

    text = "";
    EXPECT_EQ(a.replace(text, "b", true, 0, npos), 0u);
    text = "a";
    EXPECT_EQ(a.replace(text, "b", true, 1, npos), 0u);
}

TEST(RegexpObject, ComparisonByPatternText)
{
    NUV_REGEXP abc("abc", true), abd("abd", true), ab("ab", true);
    EXPECT_TRUE(abc < abd);
    EXPECT_TRUE(abc <= abd);
    EXPECT_FALSE(abc > abd);
    EXPECT_TRUE(abc > ab);
    EXPECT_TRUE(abc >= ab);
    EXPECT_TRUE(abc <= NUV_REGEXP("abc", false));
    EXPECT_TRUE(abc >= NUV_REGEXP("abc", false));
}

TEST(RegexpObject, CopiesAreIndependent)
{
    NUV_REGEXP original("(b)", true);
    original.search("ab", 0, npos);
    NUV_REGEXP copy(original);
    original.pattern("z", true);
    EXPECT_EQ(copy.get_pattern(), "(b)");
    EXPECT_EQ(copy.group(1), RANGE(1, 2));
    EXPECT_EQ(copy.search("bb", 1, npos), RANGE(1, 2));
    EXPECT_EQ(original.search("bb", 0, npos), NUV_REGEXP::not_found());

    NUV_REGEXP assigned("q", true);
    assigned = copy;
    EXPECT_EQ(assigned.search("xb", 0, npos), RANGE(1, 2));
    NUV_REGEXP& self = assigned;
    assigned = self;
    EXPECT_TRUE(assigned.is_pattern_valid());
    EXPECT_EQ(assigned.get_pattern(), "(b)");

    NUV_REGEXP invalid("(", true);
    NUV_REGEXP copy_of_invalid(invalid);
    EXPECT_FALSE(copy_of_invalid.is_pattern_valid());
    EXPECT_EQ(copy_of_invalid.get_error(), invalid.get_error());
    assigned = invalid;
    EXPECT_FALSE(assigned.is_pattern_valid());
}

TEST(RegexpObject, MovesTakeTheCompiledPattern)
{
    NUV_REGEXP source("a+", true);
    NUV_REGEXP moved(std::move(source));
    EXPECT_FALSE(source.is_pattern_valid());
    EXPECT_EQ(moved.search("baa", 0, npos), RANGE(1, 3));

    NUV_REGEXP target("z", true);
    target = std::move(moved);
    EXPECT_EQ(target.get_pattern(), "a+");
    EXPECT_EQ(target.search("caab", 0, npos), RANGE(1, 3));
    // The source now holds the target's former record and releases it.
    EXPECT_TRUE(moved.is_pattern_valid());
}

class RegexpDebug : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_test::set_debug_sink([this](const char* tag, const char* text) {
            EXPECT_STREQ(tag, "NUV");
            m_lines.push_back(text);
        });
        NUV_REGEXP::enable_debug_msgs(true);
    }
    void TearDown() override
    {
        NUV_REGEXP::enable_debug_msgs(false);
        host_test::set_debug_sink(nullptr);
    }
    std::vector<std::string> m_lines;
};

TEST_F(RegexpDebug, SearchLinesGoThroughTheDebugService)
{
    NUV_REGEXP re("(a)(b)?", true);
    re.search("--xab", 2, npos);
    re.search("xa", 0, npos);
    re.search("zzz", 1, 1);
    NUV_REGEXP().search("q", 0, npos);
    std::vector<std::string> expected = {
        "pattern:'(a)(b)?' str:'xab' matched:'ab'",
        "\tgroup(1):'a'",
        "\tgroup(2):'b'",
        "pattern:'(a)(b)?' str:'xa' matched:'a'",
        "\tgroup(1):'a'",
        "\tgroup(2):''",
        "pattern:'(a)(b)?' str:'z' failed",
        "pattern:'' str:'q' failed",
    };
    EXPECT_EQ(m_lines, expected);
}

TEST_F(RegexpDebug, MatchPrintsToStandardOutput)
{
    NUV_REGEXP re("abc", true);
    testing::internal::CaptureStdout();
    re.match("abc", 0, npos);
    re.match("abcd", 0, npos);
    NUV_REGEXP().match("x", 0, npos);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "match:'abc' str:'abc' = 3\nmatch:'abc' str:'abcd' = -1\nmatch:'' str:'x' = -1\n");
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(RegexpDebug, ReplaceTracesEveryInnerSearch)
{
    NUV_REGEXP re("o", true);
    std::string text = "oxo";
    re.replace(text, "0", true, 0, npos);
    std::vector<std::string> expected = {"pattern:'o' str:'oxo' matched:'o'",
                                         "pattern:'o' str:'xo' matched:'o'"};
    EXPECT_EQ(m_lines, expected);
}

// Exponential backtracking makes the matcher give up.
TEST(RegexpErrors, MatcherGivingUpIsCaughtOnlyBySearchAndMatch)
{
    NUV_REGEXP re("(x+x+)+y", true);
    ASSERT_TRUE(re.is_pattern_valid());
    std::string text(40, 'x');
    re.search("aaa", 0, npos);
    EXPECT_EQ(re.search(text, 0, npos), NUV_REGEXP::not_found());
    EXPECT_NE(re.get_error().find("complexity"), std::string::npos) << re.get_error();

    NUV_REGEXP again("(x+x+)+y", true);
    EXPECT_EQ(again.match(text, 0, npos), -1);
    EXPECT_NE(again.get_error().find("complexity"), std::string::npos);
    EXPECT_THROW(again.match_exists(text), std::runtime_error);
    EXPECT_THROW(again.exact_match_exists(text), std::runtime_error);
    // The object stays usable.
    EXPECT_EQ(again.search("xxy", 0, npos), RANGE(0, 3));
}

} // namespace
