// String pool: chunk accounting, first fit, the standard-chunk boundary, pointer
// stability, and the string table node.
#include <nuv/nuv_string_pool.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

size_t chunk_count(const NUV_STRING_CHUNK_MGR& pool)
{
    size_t count = 0;
    for (NUV_STRING_CHUNK* chunk = pool.head(); chunk; chunk = chunk->get_next())
        ++count;
    return count;
}

TEST(StringChunk, WriteUsesTheGivenLengthOrNothing)
{
    NUV_STRING_CHUNK chunk(16);
    EXPECT_EQ(chunk.size(), 16u);
    EXPECT_EQ(chunk.room(), 16u);
    const char* abc = chunk.write("abc", 4);
    EXPECT_STREQ(abc, "abc");
    EXPECT_EQ(chunk.room(), 12u);
    // Extra length is skipped and stays zero.
    const char* padded = chunk.write("de", 6);
    EXPECT_EQ(padded, abc + 4);
    EXPECT_EQ(std::string(padded, 6), std::string("de\0\0\0\0", 6));
    EXPECT_EQ(chunk.room(), 6u);
    EXPECT_EQ(chunk.write("toolong", 8), nullptr);
    EXPECT_EQ(chunk.room(), 6u);
    EXPECT_EQ(chunk.write("fghij", 6), padded + 6);
    EXPECT_EQ(chunk.room(), 0u);
    EXPECT_EQ(chunk.size(), 16u);
}

TEST(StringChunk, CanFitCountsTheTerminator)
{
    NUV_STRING_CHUNK chunk(8);
    chunk.write("abc", 4);
    EXPECT_EQ(chunk.room(), 4u);
    EXPECT_TRUE(chunk.can_fit("xyz"));
    EXPECT_FALSE(chunk.can_fit("wxyz"));
    chunk.write("", 1);
    EXPECT_FALSE(chunk.can_fit("xyz"));
    EXPECT_TRUE(chunk.can_fit("xy"));
    EXPECT_TRUE(chunk.can_fit(""));
}

TEST(StringPool, NewManagerAndEmptyString)
{
    NUV_STRING_CHUNK_MGR pool;
    ASSERT_EQ(chunk_count(pool), 1u);
    EXPECT_EQ(pool.head()->size(), 32768u);
    EXPECT_EQ(pool.head()->room(), 32768u);
    const char* empty = pool.write("");
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(pool.head()->room(), 32767u);
    // Never de-duplicated.
    EXPECT_NE(pool.write("x"), pool.write("x"));
}

TEST(StringPool, StandardChunkBoundary)
{
    NUV_STRING_CHUNK_MGR pool;
    std::string fits(32767, 'a');
    const char* stored = pool.write(fits.c_str());
    EXPECT_NE(stored, fits.c_str());
    EXPECT_EQ(std::string(stored), fits);
    EXPECT_EQ(chunk_count(pool), 1u);
    EXPECT_EQ(pool.head()->room(), 0u);

    std::string own(32768, 'b');
    const char* big = pool.write(own.c_str());
    EXPECT_EQ(std::string(big), own);
    ASSERT_EQ(chunk_count(pool), 2u);
    EXPECT_EQ(pool.head()->size(), 32769u);
    EXPECT_EQ(pool.head()->room(), 0u);

    // Both full: the next string gets a fresh standard chunk at the head.
    pool.write("c");
    ASSERT_EQ(chunk_count(pool), 3u);
    EXPECT_EQ(pool.head()->size(), 32768u);
    EXPECT_EQ(pool.head()->room(), 32766u);
}

TEST(StringPool, LongStringGoesInFrontAndLaterWritesUseOlderChunks)
{
    NUV_STRING_CHUNK_MGR pool;
    const char* first = pool.write("first");
    std::string huge(100000, 'h');
    pool.write(huge.c_str());
    ASSERT_EQ(chunk_count(pool), 2u);
    EXPECT_EQ(pool.head()->size(), 100001u);
    // The full head is passed over: the string lands right after "first".
    EXPECT_EQ(pool.write("second"), first + 6);
    EXPECT_EQ(chunk_count(pool), 2u);
}

TEST(StringPool, FirstFitPrefersOlderChunkWithRoom)
{
    NUV_STRING_CHUNK_MGR pool;
    // Leave 100 bytes in the first chunk.
    std::string filler(32768 - 100 - 1, 'f');
    pool.write(filler.c_str());
    ASSERT_EQ(pool.head()->room(), 100u);
    // 200 bytes do not fit: a new head chunk, which is then filled to 3 bytes of room.
    std::string two_hundred(199, 't');
    pool.write(two_hundred.c_str());
    ASSERT_EQ(chunk_count(pool), 2u);
    std::string rest(32768 - 200 - 3 - 1, 'r');
    pool.write(rest.c_str());
    ASSERT_EQ(pool.head()->room(), 3u);
    NUV_STRING_CHUNK* older = pool.head()->get_next();

    const char* ten = pool.write("0123456789");
    EXPECT_EQ(chunk_count(pool), 2u);
    EXPECT_EQ(older->room(), 89u);
    EXPECT_STREQ(ten, "0123456789");
    // Short enough for the head: the head comes first.
    pool.write("ab");
    EXPECT_EQ(pool.head()->room(), 0u);
    EXPECT_EQ(older->room(), 89u);
}

TEST(StringPool, PointersStayValidOverManyWrites)
{
    NUV_STRING_CHUNK_MGR pool;
    std::mt19937 random(7);
    std::vector<std::pair<const char*, std::string>> written;
    size_t characters = 0;
    for (int i = 0; i < 50000; ++i) {
        std::string s(random() % 40, static_cast<char>('a' + i % 26));
        if (i % 5000 == 0)
            s.assign(40000 + random() % 1000, 'L');
        s += std::to_string(i);
        written.emplace_back(pool.write(s.c_str()), s);
        characters += s.size() + 1;
    }
    for (const auto& entry : written)
        ASSERT_EQ(std::string(entry.first), entry.second);

    // Space: characters and terminators, plus the head's free bytes and small tails.
    size_t capacity = 0, room = 0;
    for (NUV_STRING_CHUNK* chunk = pool.head(); chunk; chunk = chunk->get_next()) {
        capacity += chunk->size();
        room += chunk->room();
    }
    EXPECT_EQ(capacity - room, characters);
    EXPECT_LT(room - pool.head()->room(), 32768u);
}

TEST(StringTableNode, LinksAndAssignment)
{
    NUV_STRING_CHUNK_MGR pool;
    NUV_STRING_TABLE_NODE a(pool.write("a")), b(pool.write("b"));
    EXPECT_EQ(a.next(), nullptr);
    EXPECT_EQ(a.previous(), nullptr);
    a.set_next(&b);
    b.set_previous(&a);
    EXPECT_EQ(a.next()->value(), std::string("b"));
    EXPECT_EQ(b.previous(), &a);

    NUV_STRING_TABLE_NODE c("c");
    c = b;
    EXPECT_STREQ(c.value(), "b");
    EXPECT_EQ(c.previous(), &a);
    NUV_STRING_TABLE_NODE d("d");
    d = std::move(a);
    EXPECT_STREQ(d.value(), "a");
    EXPECT_EQ(d.next(), &b);
    EXPECT_STREQ(a.value(), "a");
}

} // namespace
