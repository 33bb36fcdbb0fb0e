// Tokenizer: each rule and their order of precedence, then random sets and texts
// compared with a reference written straight from the rules.
#include <nuv/nuv_tokenizer.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using TOKENS = std::vector<std::string>;

NUV_TOKENIZER commas(bool keep_empty = false, bool keep_delimiters = false)
{
    return NUV_TOKENIZER(",", keep_empty, "", "", "", keep_delimiters);
}

NUV_TOKENIZER blanks(const std::string& skip, const std::string& stop, const std::string& single,
                     bool keep_empty = false)
{
    return NUV_TOKENIZER(" ", keep_empty, skip, stop, single, false);
}

TEST(Tokenizer, DelimitersAndEmptyTokens)
{
    EXPECT_EQ(commas().tokenize("a,,b"), (TOKENS{"a", "b"}));
    EXPECT_EQ(commas(true).tokenize("a,,b"), (TOKENS{"a", "", "b"}));
    EXPECT_EQ(commas(true).tokenize(",a"), (TOKENS{"", "a"}));
    // No trailing empty token, even when empty tokens are kept.
    EXPECT_EQ(commas(true).tokenize("a,"), (TOKENS{"a"}));
    EXPECT_EQ(commas().tokenize(""), TOKENS{});
    EXPECT_EQ(commas().tokenize(",,,"), TOKENS{});
    EXPECT_EQ(commas(true).tokenize(",,,"), (TOKENS{"", "", ""}));
    EXPECT_EQ(commas(true).tokenize(""), TOKENS{});
}

TEST(Tokenizer, KeptDelimitersEndTheirToken)
{
    EXPECT_EQ(commas(false, true).tokenize("a,b"), (TOKENS{"a,", "b"}));
    EXPECT_EQ(commas(false, true).tokenize("a,,b"), (TOKENS{"a,", ",", "b"}));
    EXPECT_EQ(commas(true, true).tokenize(",b,"), (TOKENS{",", "b,"}));
}

TEST(Tokenizer, SingleCharacterTokens)
{
    EXPECT_EQ(blanks("", "", "()").tokenize("f(x) y"), (TOKENS{"f", "(", "x", ")", "y"}));
    EXPECT_EQ(blanks("", "", "()", true).tokenize("a((b"), (TOKENS{"a", "(", "", "(", "b"}));
    EXPECT_EQ(blanks("", "", "()").tokenize("(("), (TOKENS{"(", "("}));
}

TEST(Tokenizer, SkipAndStopCharacters)
{
    EXPECT_EQ(blanks("\"", "", "").tokenize("\"a b\""), (TOKENS{"a", "b"}));
    EXPECT_EQ(blanks("\"", "", "").tokenize("x\"y"), (TOKENS{"xy"}));
    EXPECT_EQ(blanks("", "#", "").tokenize("a b # c"), (TOKENS{"a", "b"}));
    EXPECT_EQ(blanks("", "#", "").tokenize("ab#c"), (TOKENS{"ab"}));
    EXPECT_EQ(blanks("", "#", "").tokenize("#a"), TOKENS{});
}

TEST(Tokenizer, EarlierRuleWinsForCharactersInSeveralSets)
{
    // Stop before delimiter, skip and single.
    EXPECT_EQ(NUV_TOKENIZER(",", false, "", ",", "", false).tokenize("a,b"), (TOKENS{"a"}));
    EXPECT_EQ(NUV_TOKENIZER("", false, "#", "#", "#", false).tokenize("a#b"), (TOKENS{"a"}));
    // Skip before delimiter: the token is not ended.
    EXPECT_EQ(NUV_TOKENIZER(", ", false, ",", "", "", false).tokenize("a,b c"), (TOKENS{"ab", "c"}));
    // Delimiter before single: no token of its own.
    EXPECT_EQ(NUV_TOKENIZER(",", false, "", "", ",", false).tokenize("a,b"), (TOKENS{"a", "b"}));
    // Order and repetition inside a set do not matter.
    EXPECT_EQ(NUV_TOKENIZER(";,;,", false, "", "", "", false).tokenize("a;b,c"), (TOKENS{"a", "b", "c"}));
}

TEST(Tokenizer, ZeroCharacterEndsTheText)
{
    std::string text("a,b\0,c", 6);
    EXPECT_EQ(commas().tokenize(text), (TOKENS{"a", "b"}));
    // Even when the zero character is in a set.
    EXPECT_EQ(NUV_TOKENIZER(std::string(",\0", 2), true, "", "", "", false).tokenize(text),
              (TOKENS{"a", "b"}));
    EXPECT_EQ(commas().tokenize(std::string("\0a", 2)), TOKENS{});
}

TEST(Tokenizer, HighBytesAreOrdinaryMembers)
{
    NUV_TOKENIZER t("\xff", false, "\x80", "", "\xe9", false);
    EXPECT_EQ(t.tokenize("a\xff\x80"
                         "b\xe9"
                         "c"),
              (TOKENS{"a", "b", "\xe9", "c"}));
}

TEST(Tokenizer, AppendsAfterExistingEntries)
{
    NUV_TOKENIZER t = commas();
    TOKENS tokens = {"old"};
    t.tokenize("a,b", tokens);
    t.tokenize("c", tokens);
    EXPECT_EQ(tokens, (TOKENS{"old", "a", "b", "c"}));
}

TEST(Tokenizer, CopiesAndMoves)
{
    NUV_TOKENIZER original(",", true, "\"", "#", "()", true);
    const std::string text = ",\"a\"(b),c#d";
    const TOKENS expected = original.tokenize(text);
    EXPECT_EQ(expected, (TOKENS{",", "a", "(", "b", ")", ",", "c"}));

    NUV_TOKENIZER copy(original);
    EXPECT_EQ(copy.tokenize(text), expected);
    NUV_TOKENIZER assigned = commas();
    assigned = original;
    EXPECT_EQ(assigned.tokenize(text), expected);
    NUV_TOKENIZER& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.tokenize(text), expected);

    NUV_TOKENIZER moved(std::move(copy));
    EXPECT_EQ(moved.tokenize(text), expected);
    // The source's sets are empty now: the whole text is one token.
    EXPECT_EQ(copy.tokenize("a,b c"), (TOKENS{"a,b c"}));
    NUV_TOKENIZER move_assigned = commas();
    move_assigned = std::move(moved);
    EXPECT_EQ(move_assigned.tokenize(text), expected);
    EXPECT_EQ(moved.tokenize("a(b"), (TOKENS{"a(b"}));
}

// The rules as they read, with plain scans of the sets.
TOKENS reference_tokenize(const std::string& delimiters, bool keep_empty, const std::string& skip,
                          const std::string& stop, const std::string& single, bool keep_delimiters,
                          const std::string& text)
{
    auto in = [](const std::string& set, char c) { return set.find(c) != std::string::npos; };
    TOKENS tokens;
    std::string token;
    auto add = [&]() {
        if (token.empty() && !keep_empty)
            return;
        tokens.push_back(token);
        token.clear();
    };
    for (char c : text) {
        if (c == '\0' || in(stop, c))
            break;
        if (in(skip, c))
            continue;
        if (in(delimiters, c)) {
            if (keep_delimiters)
                token += c;
            add();
        } else if (in(single, c)) {
            add();
            token = c;
            add();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
    return tokens;
}

TEST(Tokenizer, RandomSetsAndTextsAgreeWithReference)
{
    const std::string alphabet("abc,;#\"() \0\xff", 13);
    std::mt19937 random(2024);
    auto random_text = [&](size_t max) {
        std::string s;
        size_t size = random() % (max + 1);
        for (size_t i = 0; i < size; ++i)
            s += alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string delimiters = random_text(3), skip = random_text(2), stop = random_text(1),
                    single = random_text(3);
        bool keep_empty = random() % 2, keep_delimiters = random() % 2;
        NUV_TOKENIZER t(delimiters, keep_empty, skip, stop, single, keep_delimiters);
        std::string text = random_text(24);
        ASSERT_EQ(t.tokenize(text),
                  reference_tokenize(delimiters, keep_empty, skip, stop, single, keep_delimiters, text))
            << "round " << round;
    }
}

} // namespace
