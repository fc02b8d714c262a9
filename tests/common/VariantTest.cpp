#include "common/Variant.h"
#include "common/Error.h"

#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>

namespace {

int errorOf(const Variant &v, VarType target)
{
    try {
        v.convertTo(target);
    } catch (const RuntimeError &e) {
        return e.number();
    }
    return 0;
}

// Runs with the process in another time zone, and back.
class InTimeZone {
public:
    explicit InTimeZone(const char *zone) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~InTimeZone()
    {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool had_;
    QByteArray old_;
};

} // namespace

TEST(Variant, TypesAndTexts)
{
    EXPECT_EQ(Variant().type(), VarType::Empty);
    EXPECT_EQ(Variant(std::int16_t(1)).type(), VarType::Integer);
    EXPECT_EQ(Variant(std::int32_t(1)).type(), VarType::Long);
    EXPECT_EQ(Variant(1.0f).type(), VarType::Single);
    EXPECT_EQ(Variant(std::uint8_t(1)).type(), VarType::Byte);
    EXPECT_EQ(Variant("x").type(), VarType::String);
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(false).toDouble(), 0.0);
    EXPECT_EQ(Variant(true).toDouble(), -1.0);
    EXPECT_EQ(Variant(0.1f).toString(), "0.1");
    EXPECT_EQ(Variant(2.5).toString(), "2.5");
    EXPECT_EQ(Variant(Currency{12345}).toString(), "1.2345");
    EXPECT_EQ(Variant(" 12abc").toDouble(), 12.0);
}

TEST(Variant, NumbersConvertWithHalfToEvenAndRangeChecks)
{
    EXPECT_EQ(Variant(2.5).convertTo(VarType::Integer), Variant(std::int16_t(2)));
    EXPECT_EQ(Variant(3.5).convertTo(VarType::Integer), Variant(std::int16_t(4)));
    EXPECT_EQ(Variant(std::int32_t(255)).convertTo(VarType::Byte), Variant(std::uint8_t(255)));
    EXPECT_EQ(Variant(true).convertTo(VarType::Integer), Variant(std::int16_t(-1)));
    EXPECT_EQ(Variant(std::int16_t(0)).convertTo(VarType::Boolean), Variant(false));
    EXPECT_EQ(Variant(1.23456).convertTo(VarType::Currency), Variant(Currency{12346}));
    EXPECT_EQ(Variant(std::int16_t(7)).convertTo(VarType::String), Variant("7"));
    EXPECT_EQ(Variant(std::int16_t(7)).convertTo(VarType::Double), Variant(7.0));
    EXPECT_EQ(errorOf(Variant(std::int32_t(40000)), VarType::Integer), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf(Variant(true), VarType::Byte), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf(Variant(1e39), VarType::Single), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf(Variant(1e300), VarType::Currency), ErrorNumber::Overflow);
    EXPECT_EQ(errorOf(Variant(255.5), VarType::Byte), ErrorNumber::Overflow);
}

TEST(Variant, TextsMustBeNumbersAsAWhole)
{
    EXPECT_EQ(Variant(" 42 ").convertTo(VarType::Integer), Variant(std::int16_t(42)));
    EXPECT_EQ(Variant("2.5").convertTo(VarType::Long), Variant(std::int32_t(2)));
    EXPECT_EQ(Variant("1e2").convertTo(VarType::Byte), Variant(std::uint8_t(100)));
    EXPECT_EQ(errorOf(Variant("12abc"), VarType::Integer), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf(Variant(""), VarType::Double), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf(Variant("1 2"), VarType::Long), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf(Variant("70000"), VarType::Integer), ErrorNumber::Overflow);
    EXPECT_EQ(Variant("true").convertTo(VarType::Boolean), Variant(true));
    EXPECT_EQ(Variant(" False ").convertTo(VarType::Boolean), Variant(false));
    EXPECT_EQ(Variant("2").convertTo(VarType::Boolean), Variant(true));
    EXPECT_EQ(errorOf(Variant("yes"), VarType::Boolean), ErrorNumber::TypeMismatch);
    EXPECT_EQ(errorOf(Variant("someday"), VarType::Date), ErrorNumber::TypeMismatch);
}

TEST(Variant, DatesAreWallClockDaysSince1899)
{
    // A wall-clock count of days: the zone's offset, now or in 1899, plays no part.
    for (const char *zone : {"UTC", "Europe/Madrid", "America/New_York"}) {
        InTimeZone tz(zone);
        const QDateTime noon(QDate(2024, 7, 1), QTime(12, 0), Qt::LocalTime);
        EXPECT_DOUBLE_EQ(Variant(noon).toDouble(), 45474.5) << zone;
        const Variant date = Variant(45474.25).convertTo(VarType::Date);
        ASSERT_EQ(date.type(), VarType::Date);
        const QDateTime local = date.get<QDateTime>().toLocalTime();
        EXPECT_EQ(local.date(), QDate(2024, 7, 1)) << zone;
        EXPECT_EQ(local.time(), QTime(6, 0)) << zone;
        EXPECT_DOUBLE_EQ(Variant(QDateTime(QDate(1899, 12, 31), QTime(18, 0), Qt::LocalTime)).toDouble(), 1.75) << zone;
    }
    EXPECT_EQ(errorOf(Variant(1e300), VarType::Date), ErrorNumber::Overflow);
}
