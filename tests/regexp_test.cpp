// Regular expressions: syntax, groups, windows, match, replace, copies, debug lines, errors.
#include <nuv/nuv_regexp.h>

#include "test_support.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

const size_t npos = std::string::npos;
using RANGE = NUV_REGEXP::RANGE;
const RANGE NF = NUV_REGEXP::not_found();
const std::string ZERO("ab\0cd", 5);

TEST(RegexpSyntax, PerlUnlessPosixIsSetBeforeTheFirstPattern)
{
    NUV_REGEXP re("a|ab", true);
    test_support::set_env("NUV_REGEXP_POSIX", "1"); // too late: chosen at the first pattern
    NUV_REGEXP later("a|ab", true);
    test_support::unset_env("NUV_REGEXP_POSIX");
    EXPECT_TRUE(re.search("ab", 0, npos) == RANGE(0, 1) && later.search("ab", 0, npos) == RANGE(0, 1));
}

// Whether `call` makes the matcher give up.
template <class F> bool gives_up(F call)
{
    try {
        call();
    } catch (const std::runtime_error&) {
        return true;
    }
    return false;
}

// Ends the process with 0 when every pattern has POSIX syntax: leftmost longest goes on past a
// first match, into a matcher error.
[[noreturn]] void exit_0_when_posix()
{
    NUV_REGEXP re("a|ab", true);
    test_support::unset_env("NUV_REGEXP_POSIX");
    NUV_REGEXP later("x|xy|xyz", true), found("x|(x+x+)+y", true), whole("x*|(x+x+)+y", true);
    std::exit(re.search("ab", 0, npos) == RANGE(0, 2) && later.search("_xyz", 0, npos) == RANGE(1, 4) &&
                      gives_up([&] { found.match_exists(std::string(40, 'x')); }) &&
                      gives_up([&] { whole.exact_match_exists(std::string(40, 'x')); })
                  ? 0
                  : 1);
}

TEST(RegexpSyntaxDeathTest, PosixWhenSetFromTheStart)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe"; // the program anew: no pattern made yet
    test_support::set_env("NUV_REGEXP_POSIX", test_support::WINDOWS ? "1" : ""); // set, empty where it can be
    EXPECT_EXIT(exit_0_when_posix(), ::testing::ExitedWithCode(0), "");
    test_support::unset_env("NUV_REGEXP_POSIX");
}

TEST(RegexpPattern, CaseZeroCharacterAndErrors)
{
    NUV_REGEXP re("abc", false);
    EXPECT_TRUE(re.exact_match_exists("ABC") && re.pattern("abc", true) && !re.exact_match_exists("ABC"));
    EXPECT_TRUE(re.pattern(re.get_pattern(), false) && re.exact_match_exists("aBc"));
    EXPECT_TRUE(re.pattern(ZERO, true) && re.exact_match_exists("ab")); // up to the zero
    EXPECT_FALSE(re.pattern("(", true) || re.match_exists("(") || re.exact_match_exists("("));
    EXPECT_EQ(re.get_pattern() + std::to_string(re.groups() + NUV_REGEXP().groups()), ZERO + "0");
    EXPECT_TRUE(re.search("(((", 0, npos) == NF && re.match("(", 0, npos) == -1);
    const std::string message = re.get_error(); // the library's, never cleared
    EXPECT_TRUE(message.find("parenthesis") != npos && re.pattern("b", true) && re.get_error() == message);

    // Exponential backtracking makes the matcher give up: caught only by search and match.
    const std::string text(40, 'x');
    NUV_REGEXP searched("(x+x+)+y", true), matched("(x+x+)+y", true);
    EXPECT_TRUE(searched.search(text, 0, npos) == NF && matched.match(text, 0, npos) == -1);
    const std::string& error = searched.get_error();
    EXPECT_TRUE(error.find("complexity") != npos && matched.get_error() == error) << error;
    EXPECT_THROW(matched.match_exists(text), std::runtime_error);
    EXPECT_THROW(matched.exact_match_exists(text), std::runtime_error);
}

TEST(RegexpGroups, SearchAndMatchFillTheTable)
{
    NUV_REGEXP re("(a)(b)?", true);
    auto groups = [&re] { return std::vector<RANGE>{re.group(0), re.group(1), re.group(2), re.group(3)}; };
    EXPECT_EQ(re.search("ab", 0, npos), RANGE(0, 2));
    EXPECT_EQ(groups(), (std::vector<RANGE>{{0, 2}, {0, 1}, {1, 2}, NF}));
    EXPECT_EQ(re.search("xa--", 0, 3), RANGE(1, 2)); // group 2 empty at the window's end
    EXPECT_EQ(groups(), (std::vector<RANGE>{{1, 2}, {1, 2}, {3, 3}, NF}));
    EXPECT_EQ(re.match("ab", 7, 1), 2); // start and length take no part
    EXPECT_EQ(groups(), (std::vector<RANGE>{{0, 2}, {0, 1}, {1, 2}, NF}));
    // A failure resets only the whole match; a new pattern keeps the entries it still has.
    EXPECT_TRUE(re.search("zzz", 0, npos) == NF && re.match("zz", 0, npos) == -1);
    EXPECT_TRUE(re.pattern("(c)(d)(e)", true) && groups() == (std::vector<RANGE>{NF, {0, 1}, {1, 2}, NF}));
    EXPECT_TRUE(re.pattern("c", true) && groups() == (std::vector<RANGE>{NF, NF, NF, NF}));
    // A match ending at offset 0 reads back as an unset entry.
    EXPECT_TRUE(re.pattern("x*", true) && re.search("abc", 0, npos) == RANGE(0, 0) && re.group(0) == NF);
}

TEST(RegexpSearch, WindowsOffsetsAndTheZeroCharacter)
{
    const std::vector<std::tuple<const char*, std::string, size_t, size_t, RANGE>> cases = {
        {"ab", "xxab", 2, 1, NF},        {"ab", "xxab", 2, 2, {2, 4}},   {"^b.$", "abcd", 1, 2, {1, 3}},
        {"\\bc", "ac", 1, npos, {1, 2}}, {"x*", "abc", 3, npos, {3, 3}}, {"a", "aaa", 1, 0, NF},
        {"cd", ZERO, 0, npos, NF},       {"cd", ZERO, 3, npos, {3, 5}},  {"b", ZERO, 1, 3, {1, 2}},
    };
    for (const auto& [pattern, text, start, length, expected] : cases) {
        SCOPED_TRACE(std::string(pattern) + " in '" + text + "' from " + std::to_string(start));
        EXPECT_EQ(NUV_REGEXP(pattern, true).search(text, start, length), expected);
    }
    // match() takes the text up to the zero; the exists tests take the whole string.
    NUV_REGEXP ab("ab", true), whole("ab.cd", true);
    EXPECT_TRUE(ab.match(ZERO, 0, npos) == 2 && whole.match(ZERO, 0, npos) == -1);
    EXPECT_TRUE(whole.exact_match_exists(ZERO) && NUV_REGEXP("cd", true).match_exists(ZERO));
}

TEST(RegexpReplace, FirstAllWindowsAndEmptyMatches)
{
    using CASE = std::tuple<const char*, std::string, const char*, bool, size_t, size_t, size_t, const char*>;
    const std::vector<CASE> cases = {
        {"o", "oxoxo", "0", true, 0, npos, 3, "0x0x0"}, {"o", "oo", "0", false, 0, npos, 1, "0o"},
        {"X", "XaXbX", "<>", true, 1, 3, 1, "Xa<>bX"},  {"X", "XX", "", true, 0, npos, 2, ""},
        {"x*", "abc", "-", true, 0, npos, 0, "abc"},    {"b?", "bab", "B", true, 0, npos, 1, "Bab"},
        {"a", "aa", "aa", true, 0, npos, 2, "aaaa"},    {"(o)", "o", "$&$1", true, 0, npos, 1, "$&$1"},
    };
    for (auto [pattern, text, replacement, all, start, length, count, result] : cases) {
        SCOPED_TRACE(std::string(pattern) + " in '" + text + "'");
        EXPECT_EQ(NUV_REGEXP(pattern, true).replace(text, replacement, all, start, length), count);
        EXPECT_EQ(text, result);
    }
}

TEST(RegexpObject, ComparisonCopiesAndMoves)
{
    const NUV_REGEXP abc("abc", true), abd("abd", true), ab("ab", true), same("abc", false);
    EXPECT_TRUE(abc < abd && abc <= abd && !(abc > abd) && !(abc >= abd));
    EXPECT_TRUE(abc > ab && abc >= ab && !(abc < ab) && !(abc <= ab));
    EXPECT_TRUE(abc <= same && abc >= same && !(abc < same) && !(abc > same));

    NUV_REGEXP original("(b)", true), assigned("q", true), moved("z", true);
    original.search("ab", 0, npos);
    NUV_REGEXP copy(original);
    original.pattern("(q)", true); // copies hold an expression and groups of their own
    assigned = copy;
    EXPECT_TRUE(copy.group(1) == RANGE(1, 2) && assigned.search("xxb", 0, npos) == RANGE(2, 3));
    moved = std::move(copy);   // the source takes the target's former expression
    copy.search("z", 0, npos); // with no group table left to fill
    EXPECT_TRUE(moved.search("cb", 0, npos) == RANGE(1, 2) && copy.match_exists("z"));
    NUV_REGEXP taken(std::move(moved));
    EXPECT_TRUE(taken.exact_match_exists("b") && !moved.is_pattern_valid());
}

TEST(RegexpDebug, SearchLinesGoThroughTheDebugServiceAndMatchToStandardOutput)
{
    test_support::DEBUG_LINES debug;
    NUV_REGEXP re("(a)(b)?", true);
    re.search("xa", 0, npos); // off at first
    NUV_REGEXP::enable_debug_msgs(true);
    re.search("--xab", 2, npos);
    re.search("zzz", 1, 1);
    testing::internal::CaptureStdout();
    re.match("a", 0, npos);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "match:'(a)(b)?' str:'a' = 1\n");
    NUV_REGEXP::enable_debug_msgs(false);
    const std::vector<std::string> expected = {"[NUV] pattern:'(a)(b)?' str:'xab' matched:'ab'",
                                               "[NUV] \tgroup(1):'a'", "[NUV] \tgroup(2):'b'",
                                               "[NUV] pattern:'(a)(b)?' str:'z' failed"};
    EXPECT_EQ(debug.lines(), expected);
}

} // namespace
