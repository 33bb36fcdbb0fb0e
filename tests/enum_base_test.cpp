// The enumeration base through a derived client enumeration.
#include <nuv/nuv_enum_base.h>

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

namespace {

class COLOUR : public NUV_ENUM_BASE {
public:
    enum { RED, GREEN, BLUE, COUNT };
    COLOUR(int value = RED) : NUV_ENUM_BASE(value) {}
    ~COLOUR() override { ++s_destroyed; }
    static int s_destroyed;
};
int COLOUR::s_destroyed = 0;

TEST(EnumBase, DefaultIsZeroFromEitherSide)
{
    NUV_ENUM_BASE e;
    EXPECT_EQ(e.get_int_value(), 0);
    EXPECT_TRUE(e == 0);
    EXPECT_TRUE(0 == e);
    EXPECT_FALSE(0 != e);
    EXPECT_TRUE(1 != e);
}

TEST(EnumBase, LoopOverDerivedEnumeration)
{
    int seen = 0;
    for (COLOUR c; c != COLOUR::COUNT; ++c)
        EXPECT_EQ(c.get_int_value(), seen++);
    EXPECT_EQ(seen, 3);
}

TEST(EnumBase, IncrementPastLastValueKeepsGrowing)
{
    COLOUR c(COLOUR::BLUE);
    ++c;
    ++c;
    EXPECT_EQ(c.get_int_value(), COLOUR::COUNT + 1);
}

TEST(EnumBase, PrefixReturnsSelfPostfixReturnsOldBaseValue)
{
    COLOUR c(COLOUR::GREEN);
    EXPECT_EQ(&++c, &c);
    EXPECT_EQ(c, COLOUR::BLUE);

    static_assert(std::is_same<decltype(c++), NUV_ENUM_BASE>::value, "postfix yields the base");
    NUV_ENUM_BASE old = c++;
    EXPECT_EQ(old.get_int_value(), COLOUR::BLUE);
    EXPECT_EQ(c.get_int_value(), COLOUR::COUNT);
}

TEST(EnumBase, ComparisonIgnoresDynamicType)
{
    COLOUR c(COLOUR::BLUE);
    NUV_ENUM_BASE plain(2);
    EXPECT_TRUE(c == plain);
    EXPECT_TRUE(plain == c);
    EXPECT_FALSE(c != plain);
    plain = 7;
    EXPECT_TRUE(c != plain);
    EXPECT_EQ(plain.get_int_value(), 7);
}

TEST(EnumBase, CopyAndAssignmentCopyTheValue)
{
    NUV_ENUM_BASE a(-5);
    NUV_ENUM_BASE b(a);
    NUV_ENUM_BASE c;
    c = a;
    EXPECT_EQ(b, -5);
    EXPECT_EQ(c, -5);
    EXPECT_EQ(&(c = 9), &c);
}

TEST(EnumBase, DerivedDestroyedThroughBasePointer)
{
    int before = COLOUR::s_destroyed;
    std::unique_ptr<NUV_ENUM_BASE> e(new COLOUR(COLOUR::GREEN));
    e.reset();
    EXPECT_EQ(COLOUR::s_destroyed, before + 1);
}

} // namespace
