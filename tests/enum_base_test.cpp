// The enumeration base through a client enumeration derived from it.
#include <nuv/nuv_enum_base.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace {

struct COLOUR : NUV_ENUM_BASE {
    enum { RED, GREEN, BLUE, COUNT };
    COLOUR(int value = RED) : NUV_ENUM_BASE(value) {}
};
static_assert(std::has_virtual_destructor<NUV_ENUM_BASE>::value, "derived ones go through the base");
static_assert(std::is_same<decltype(COLOUR()++), NUV_ENUM_BASE>::value, "postfix yields a plain base");

TEST(EnumBase, ComparesStepsAndCopiesTheValue)
{
    const COLOUR blue(COLOUR::BLUE);
    const NUV_ENUM_BASE two(2), zero;
    // Every comparison, true and false, with either dynamic type on either side.
    EXPECT_TRUE(blue == 2 && 2 == blue && blue == two && two == blue && zero == 0 && 0 == zero);
    EXPECT_TRUE(blue != 3 && 3 != blue && blue != zero && zero != blue);
    EXPECT_FALSE(blue != 2 || 2 != blue || blue != two || blue == 3 || 3 == blue || blue == zero);
    COLOUR c(COLOUR::BLUE);
    EXPECT_EQ(&++c, &c);
    NUV_ENUM_BASE old = c++, other;
    EXPECT_EQ(c.get_int_value(), COLOUR::COUNT + 1); // past the last value: no range test
    EXPECT_EQ(&(other = old), &other);
    EXPECT_EQ(other.get_int_value(), COLOUR::COUNT);
    EXPECT_EQ(&(other = -5), &other);
    EXPECT_EQ(other.get_int_value(), -5);
}

} // namespace
