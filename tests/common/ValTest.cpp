#include "common/Val.h"
#include "common/Error.h"

#include "TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(Val, NumberForms)
{
    EXPECT_EQ(Val(u"42"), 42.0);
    EXPECT_EQ(Val(u"-17.25"), -17.25);
    EXPECT_EQ(Val(u"+3"), 3.0);
    EXPECT_EQ(Val(u".5"), 0.5);
    EXPECT_EQ(Val(u"5."), 5.0);
    EXPECT_EQ(Val(u"12abc"), 12.0);
    EXPECT_EQ(Val(u"1.2.3"), 1.2);
    EXPECT_EQ(Val(u"12,5"), 12.0);
    EXPECT_EQ(Val(u"abc"), 0.0);
    EXPECT_EQ(Val(u""), 0.0);
    EXPECT_EQ(Val(u"-"), 0.0);
    EXPECT_EQ(Val(u"."), 0.0);
    EXPECT_EQ(Val(u"--5"), 0.0);
}

TEST(Val, BlanksTabsAndLineFeedsAnywhereAreSkipped)
{
    EXPECT_EQ(Val(u"  1 2 3"), 123.0);
    EXPECT_EQ(Val(u"\t- 1\n2 . 5 "), -12.5);
    EXPECT_EQ(Val(u"1 e 3"), 1000.0);
    // A carriage return is not a blank: the number ends there.
    EXPECT_EQ(Val(u"12\r3"), 12.0);
    const char bytes[] = " 4 2 x";
    EXPECT_EQ(Val(bytes, sizeof bytes - 1), 42.0);
    EXPECT_EQ(Val(bytes, 2), 4.0); // the length bounds the text
}

TEST(Val, Exponents)
{
    EXPECT_EQ(Val(u"1e3"), 1000.0);
    EXPECT_EQ(Val(u"1.5E+2"), 150.0);
    EXPECT_EQ(Val(u"25e-1"), 2.5);
    EXPECT_EQ(Val(u"2d2"), 200.0);
    EXPECT_EQ(Val(u"2D-1"), 0.2);
    // An exponent without digits is not part of the number.
    EXPECT_EQ(Val(u"7e"), 7.0);
    EXPECT_EQ(Val(u"7e+x"), 7.0);
    EXPECT_EQ(Val(u"e5"), 0.0);
    EXPECT_TRUE(std::isinf(Val(u"1e999")));
    EXPECT_EQ(Val(u"1e-999"), 0.0);
}

TEST(Val, ConversionsRoundHalfToEven)
{
    EXPECT_EQ(CInt(0.5), 0);
    EXPECT_EQ(CInt(1.5), 2);
    EXPECT_EQ(CInt(2.5), 2);
    EXPECT_EQ(CInt(-2.5), -2);
    EXPECT_EQ(CInt(-3.5), -4);
    EXPECT_EQ(CInt(120.6), 121);
    EXPECT_EQ(CLng(2.5), 2);
    EXPECT_EQ(CLng(-1234567.5), -1234568);
    EXPECT_EQ(CByte(254.5), 254);
    EXPECT_EQ(CByte(-0.4), 0);
    EXPECT_EQ(RoundHalfEven(4.5), 4.0);
}

TEST(Val, ConversionsOutsideTheRangeOverflow)
{
    EXPECT_EQ(CInt(32767.4), 32767);
    EXPECT_EQ(CInt(-32768.5), -32768);
    EXPECT_EQ(errorOf([] { CInt(32767.5); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CInt(-32769); }), ErrorNumber::Overflow);
    EXPECT_EQ(CLng(2147483647.0), 2147483647);
    EXPECT_EQ(errorOf([] { CLng(2147483647.5); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CLng(-2147483649.0); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CByte(255.5); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CByte(-1); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CInt(Val(u"1e999")); }), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf([] { CLng(std::nan("")); }), ErrorNumber::Overflow);
}
