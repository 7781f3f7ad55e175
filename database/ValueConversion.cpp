#include "database/ValueConversion.h"

#include <cmath>

QString FieldText(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

std::optional<double> NumberOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        number = value.toDouble();
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok); // C locale: "2.5"
        if (!ok)
            return std::nullopt;
        break;
    }
    default:
        return std::nullopt;
    }
    if (!std::isfinite(number))
        return std::nullopt;
    return number;
}

double RoundHalfToEven(double number)
{
    const double below = std::floor(number);
    const double fraction = number - below;
    if (fraction > 0.5)
        return below + 1;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1;
}

std::optional<bool> TruthOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            return false;
    }
    const std::optional<double> number = NumberOf(value);
    if (!number)
        return std::nullopt;
    return *number != 0.0;
}

std::optional<bool> SwitchOf(const QVariant &value)
{
    return value.isNull() ? std::optional<bool>(false) : TruthOf(value);
}
