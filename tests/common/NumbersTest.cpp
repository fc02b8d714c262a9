// The number parse, the rounding conversions, Variant conversions and the code page.
#include "common/Cp1252.h"
#include "common/Error.h"
#include "common/Val.h"
#include "common/Variant.h"

#include "TestSupport.h"

#include <QStringDecoder>
#include <cmath>
#include <ctime>
#include <gtest/gtest.h>

namespace {

TEST(Numbers, ValReadsTheLeadingNumberConversionsRoundHalfToEvenOrOverflowDatesCountDaysSince1899AndCp1252RoundTrips)
{
    const std::pair<const char16_t *, double> cases[] = {
        {u"42", 42},    {u"-17.25", -17.25}, {u"+3", 3},     {u".5", 0.5},      {u"5.", 5},
        {u"12abc", 12}, {u"1.2.3", 1.2},     {u"12,5", 12},  {u"abc", 0},       {u"", 0},
        {u"-", 0},      {u".", 0},           {u"--5", 0},    {u"  1 2 3", 123}, {u"\t- 1\n2 . 5 ", -12.5},
        {u"12\r3", 12}, {u"1 e 3", 1000},    {u"1e3", 1000}, {u"1.5E+2", 150},  {u"25e-1", 2.5},
        {u"2d2", 200},  {u"2D-1", 0.2},      {u"7e", 7},     {u"7e+x", 7},      {u"e5", 0},
        {u"1e-999", 0},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(Val(QStringView(text)), expected) << QString::fromUtf16(text).toStdString();
    EXPECT_TRUE(std::isinf(Val(u"1e999")));
    const char bytes[] = " 4 2 x";
    EXPECT_EQ(Val(bytes, sizeof bytes - 1), 42.0);
    EXPECT_EQ(Val(bytes, 2), 4.0); // the length bounds the text
    const std::pair<double, int> ints[] = {{0.5, 0},   {1.5, 2},     {2.5, 2},         {-2.5, -2},
                                           {-3.5, -4}, {120.6, 121}, {32767.4, 32767}, {-32768.5, -32768}};
    for (const auto &[value, expected] : ints)
        EXPECT_EQ(CInt(value), expected) << value;
    EXPECT_EQ(std::make_tuple(CLng(-1234567.5), CLng(2147483647.0), int(CByte(254.5)), int(CByte(-0.4))),
              std::make_tuple(-1234568, 2147483647, 254, 0));
    const std::function<void()> overflows[] = {
        [] { CInt(32767.5); }, [] { CInt(-32769); }, [] { CLng(2147483647.5); },  [] { CLng(-2147483649.0); },
        [] { CByte(255.5); },  [] { CByte(-1); },    [] { CInt(Val(u"1e999")); }, [] { CLng(std::nan("")); },
    };
    for (const auto &f : overflows)
        EXPECT_EQ(errorOf(f), ErrorNumber::Overflow);
    // The regional number takes a text that is a number as a whole.
    EXPECT_EQ(std::make_pair(RegionalNumber(" 2.5 "), RegionalNumber("-1e3")), std::make_pair(2.5, -1000.0));
    for (const char *bad : {"", "12abc", "1 2", "abc"})
        EXPECT_EQ(errorOf([&] { RegionalNumber(QLatin1String(bad)); }), ErrorNumber::TypeMismatch) << bad;

    // "type code:text" of the converted value, or the error raised.
    auto to = [](VarType type, const Variant &from) {
        try {
            const Variant v = from.convertTo(type);
            return QString::number(int(v.type())) + ':' + v.toString();
        } catch (const RuntimeError &e) {
            return QStringLiteral("error %1").arg(e.number());
        }
    };
    using T = VarType;
    using std::int16_t, std::int32_t;
    // clang-format off
    const QStringList converted = {
        to(T::Integer, 2.5), to(T::Integer, 3.5), to(T::Byte, int32_t(255)), to(T::Integer, true),
        to(T::Boolean, int16_t(0)), to(T::Currency, 1.23456), to(T::String, int16_t(7)), to(T::Double, int16_t(7)),
        to(T::String, 0.1f), to(T::String, 2.5), to(T::String, Currency{12345}), to(T::String, false),
        to(T::String, true), to(T::Integer, " 42 "), to(T::Long, "2.5"), to(T::Byte, "1e2"), to(T::Boolean, "true"),
        to(T::Boolean, " False "), to(T::Boolean, "2"), to(T::Integer, int32_t(40000)), to(T::Byte, true),
        to(T::Single, 1e39), to(T::Currency, 1e300), to(T::Date, 1e300), to(T::Byte, 255.5), to(T::Integer, "70000"),
        to(T::Integer, "12abc"), to(T::Double, ""), to(T::Long, "1 2"), to(T::Boolean, "yes"), to(T::Date, "someday")};
    // clang-format on
    EXPECT_EQ(converted.join('|'), "2:2|2:4|17:255|2:-1|11:False|6:1.2346|8:7|5:7|8:0.1|8:2.5|8:1.2345|8:False|8:True|"
                                   "2:42|3:2|17:100|11:True|11:False|11:True|error 6|error 6|error 6|error 6|error 6|"
                                   "error 6|error 6|error 13|error 13|error 13|error 13|error 13");
    EXPECT_EQ(std::make_pair(Variant(" 12abc").toDouble(), Variant(true).toDouble()), std::make_pair(12.0, -1.0));
    // Dates are wall-clock days since 1899 in any zone.
    const QByteArray oldZone = qgetenv("TZ");
    for (const char *zone : {"UTC", "Europe/Madrid", "America/New_York"}) {
        qputenv("TZ", zone);
        tzset();
        EXPECT_DOUBLE_EQ(Variant(QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::LocalTime)).toDouble(), 45474.5)
            << zone;
        EXPECT_DOUBLE_EQ(Variant(QDateTime(QDate(1899, 12, 31), QTime(18, 0), Qt::LocalTime)).toDouble(), 1.75) << zone;
        const QDateTime back = Variant(45474.25).convertTo(VarType::Date).get<QDateTime>().toLocalTime();
        EXPECT_EQ(back, QDateTime(QDate(2024, 7, 1), QTime(6, 0), Qt::LocalTime)) << zone;
    }
    oldZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldZone);
    tzset();

    // Every byte of the code page round-trips and decodes as the reference decoder does.
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    const QString text = Cp1252::decode(all);
    EXPECT_EQ(Cp1252::encode(text), all);
    EXPECT_EQ(Cp1252::encode(QStringLiteral("Ω€")), QByteArray("?\x80"));
    QStringDecoder reference("windows-1252");
    if (!reference.isValid())
        GTEST_SKIP() << "no windows-1252 decoder to compare with";
    const QString expected = reference.decode(all);
    ASSERT_EQ(expected.size(), 256);
    for (int b = 0; b < 256; ++b) // bytes the code page leaves undefined decode as U+FFFD there
        EXPECT_TRUE(text[b] == expected[b] || expected[b] == QChar(0xFFFD)) << b;
}

} // namespace
