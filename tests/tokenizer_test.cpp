// Tokenizer: kept delimiters, copies and moves, and Boost.Tokenizer as the oracle.
#include <nuv/nuv_tokenizer.h>

#include <boost/tokenizer.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using TOKENS = std::vector<std::string>;

TEST(Tokenizer, KeptDelimitersAppendingCopiesAndMoves)
{
    NUV_TOKENIZER original(",", true, "\"", "#", "(", true), copy(original), taken(std::move(copy));
    NUV_TOKENIZER assigned(" ", false, "", "", "", false), move_assigned = assigned;
    assigned = original;
    move_assigned = std::move(taken);
    TOKENS tokens = {"old"}, expected = {"old"};
    for (NUV_TOKENIZER* tokenizer : {&original, &assigned, &move_assigned}) {
        tokenizer->tokenize(",a,,(\"b#c", tokens);
        expected.insert(expected.end(), {",", "a,", ",", "", "(", "b"});
    }
    EXPECT_EQ(tokens, expected);
    EXPECT_TRUE(copy.tokenize("a,(b#") == TOKENS{"a,(b#"} && taken.tokenize("(#") == TOKENS{"(#"}); // emptied
}

// Boost's char_separator after the stop and skip rules; it adds a final empty token ours omits.
TOKENS boost_tokens(const std::string& delimiters, bool keep_empty, const std::string& skip,
                    const std::string& stop, std::string single, const std::string& text)
{
    std::string rest;
    for (size_t i = 0; i < text.size() && text[i] && stop.find(text[i]) == std::string::npos; ++i)
        if (skip.find(text[i]) == std::string::npos)
            rest += text[i];
    auto in_delimiters = [&](char c) { return delimiters.find(c) != std::string::npos; };
    single.erase(std::remove_if(single.begin(), single.end(), in_delimiters), single.end());
    boost::char_separator<char> separator(delimiters.c_str(), single.c_str(),
                                          keep_empty ? boost::keep_empty_tokens : boost::drop_empty_tokens);
    boost::tokenizer<boost::char_separator<char>> tokenizer(rest, separator);
    TOKENS tokens(tokenizer.begin(), tokenizer.end());
    if (keep_empty && !tokens.empty() && tokens.back().empty())
        tokens.pop_back();
    return tokens;
}

// Characters in several sets, high bytes and zero characters (in texts only) included.
TEST(Tokenizer, RandomSetsAndTextsAgreeWithBoost)
{
    const std::string alphabet("abc,;#\"() \xff\0", 12);
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        std::string s[5]; // delimiters, skip, stop and single characters, text
        for (int i = 0; i < 5; ++i)
            for (size_t n = random() % (i < 4 ? 4 : 25); n > 0; --n)
                s[i] += alphabet[random() % (i < 4 ? 11 : 12)];
        bool keep_empty = random() % 2;
        ASSERT_EQ(NUV_TOKENIZER(s[0], keep_empty, s[1], s[2], s[3], false).tokenize(s[4]),
                  boost_tokens(s[0], keep_empty, s[1], s[2], s[3], s[4]))
            << "round " << round;
    }
}

} // namespace
