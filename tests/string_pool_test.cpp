// String pool: chunk accounting, first fit, the standard size and stable copies.
#include <nuv/nuv_string_pool.h>

#include "test_support.h"

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(StringChunk, WriteUsesTheGivenLengthOrNothing)
{
    NUV_STRING_CHUNK chunk(8);
    const char* abc = chunk.write("abc", 4);
    EXPECT_TRUE(chunk.can_fit("xyz") && !chunk.can_fit("wxyz") && chunk.write("toolong", 5) == nullptr);
    EXPECT_EQ(chunk.write("d", 4), abc + 4); // extra length is skipped and stays zero
    EXPECT_EQ(std::string(abc, 8), std::string("abc\0d\0\0\0", 8));
    EXPECT_TRUE(chunk.room() == 0 && chunk.size() == 8 && !chunk.can_fit(""));
}

TEST(StringPool, FirstFitFromTheNewestChunk)
{
    using CHUNKS = std::vector<std::pair<size_t, size_t>>; // (size, room), newest first
    const size_t S = 32768;
    const std::vector<std::pair<size_t, CHUNKS>> steps = {
        {0, {{S, S - 1}}},                         // the empty string costs one byte
        {S - 2, {{S, 0}}},                         // exact fit
        {S, {{S + 1, 0}, {S, 0}}},                 // a long string gets a chunk of its own
        {S - 101, {{S, 100}, {S + 1, 0}, {S, 0}}}, // no room anywhere: a new standard chunk
        {S - 4, {{S, 3}, {S, 100}, {S + 1, 0}, {S, 0}}},
        {10, {{S, 3}, {S, 89}, {S + 1, 0}, {S, 0}}}, // the first older chunk with room
        {2, {{S, 0}, {S, 89}, {S + 1, 0}, {S, 0}}},  // the head first when it fits
        {100000, {{100001, 0}, {S, 0}, {S, 89}, {S + 1, 0}, {S, 0}}},
        {88, {{100001, 0}, {S, 0}, {S, 0}, {S + 1, 0}, {S, 0}}},
    };
    NUV_STRING_CHUNK_MGR pool;
    std::vector<std::pair<const char*, std::string>> written;
    for (const auto& [length, expected] : steps) {
        written.emplace_back(nullptr, std::string(length, static_cast<char>('a' + written.size())));
        written.back().first = pool.write(written.back().second.c_str());
        CHUNKS chunks;
        for (NUV_STRING_CHUNK* chunk = pool.head(); chunk; chunk = chunk->get_next())
            chunks.emplace_back(chunk->size(), chunk->room());
        ASSERT_EQ(chunks, expected) << "after " << length << " characters";
    }
    for (const auto& [stored, text] : written)
        EXPECT_EQ(text, stored);
    EXPECT_NE(pool.write("x"), pool.write("x")); // never de-duplicated
}

TEST(StringChunkDeathTest, StringsTooLongToCount)
{
    // 2^31 characters without 2 GiB of memory, then zeros; the death test's statement maps its
    // own, for a child that runs the program anew.
    const size_t size = size_t(1) << 31;
    // An answer, not the end of the process.
    EXPECT_FALSE(NUV_STRING_CHUNK(8).can_fit(test_support::repeated_a(size)));
    NUV_STRING_CHUNK_MGR pool;
    EXPECT_DEATH(pool.write(test_support::repeated_a(size)), "String too long for the string pool");
}

} // namespace
