// One reading of a value for every table: the company row, the alert rule
// and the queue all convert through these.
#include "database/ValueConversion.h"
#include "database/ValueText.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ValueConversion, numbersSwitchesAndTextOfEveryKindOfValue)
{
    const QVariant nullBit(QMetaType::fromType<bool>()); // how a driver hands out a Null bit
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        QVariant value;
        std::optional<double> number;
        std::optional<bool> truth;
        QString text;
    } cases[] = {
        {QVariant(), std::nullopt, std::nullopt, QString()},
        {nullBit, std::nullopt, std::nullopt, QString()},
        {QVariant(true), -1.0, true, QStringLiteral("True")},
        {QVariant(0), 0.0, false, QStringLiteral("0")},
        {QVariant(2.0), 2.0, true, QStringLiteral("2")},
        {QVariant(inf), std::nullopt, std::nullopt, QStringLiteral("inf")},
        {QVariant(QStringLiteral(" 7.5 ")), 7.5, true, QStringLiteral(" 7.5 ")},
        {QVariant(QStringLiteral("false")), std::nullopt, false, QStringLiteral("false")},
        {QVariant(QStringLiteral("maybe")), std::nullopt, std::nullopt, QStringLiteral("maybe")},
    };
    for (const auto &c : cases) {
        const std::string shown = c.value.toString().toStdString();
        EXPECT_EQ(NumberOf(c.value), c.number) << shown;
        EXPECT_EQ(TruthOf(c.value), c.truth) << shown;
        EXPECT_EQ(SwitchOf(c.value), c.value.isNull() ? std::optional<bool>(false) : c.truth) << shown;
        EXPECT_EQ(ValueText(c.value), c.text) << shown;
    }
    EXPECT_EQ(RoundHalfToEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfToEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfToEven(3.5), 4.0);
}
