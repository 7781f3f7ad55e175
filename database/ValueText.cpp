#include "database/ValueText.h"

#include "database/DateText.h"
#include "database/DbError.h"
#include "database/ValueConversion.h"

#include <QRegularExpression>

#include <cmath>

QString ValueText(const QVariant &value)
{
    // A Null keeps its column's type (a Null bit is a Bool variant): it is
    // recognised before the type is looked at.
    if (value.isNull())
        return QString();
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return DateText(value.toDateTime());
    case QMetaType::QDate:
        return DateText(value.toDate());
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        // A whole number held as floating point reads as its digits ("3", not "3.0").
        if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e15)
            return QString::number(qint64(number));
        return QString::number(number, 'g', 15);
    }
    default:
        return FieldText(value);
    }
}

QString IdentityText(const QVariant &value, const QString &column)
{
    const QString text = ValueText(value);
    // Anchored to the very end: "$" alone would let a final line break through.
    static const QRegularExpression wholeNumber(QRegularExpression::anchoredPattern(QStringLiteral("-?[0-9]+")));
    if (!wholeNumber.match(text).hasMatch())
        throw DbError(QStringLiteral("%1 is not an identity: \"%2\"").arg(column, text));
    return text;
}
