#include "CompanySettings.h"

#include "DbConnection.h"
#include "Recordset.h"

#include <QVariant>

#include <cmath>
#include <optional>
#include <limits>

CompanySettingsValues CompanySettings;

namespace {
QString valueText(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

[[noreturn]] void unconvertible(const QString &column, const QVariant &value, const QString &why)
{
    throw CompanySettingsError(column, valueText(value),
                               QStringLiteral("The column %1 holds \"%2\", %3.")
                                   .arg(column, valueText(value), why));
}

// A whole number from a number or from text that holds one; halves go to the
// even neighbour (2.5 -> 2, 3.5 -> 4). nullopt when it is not a number.
std::optional<double> numberOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        // A true flag is -1 as a number on the host.
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
    case QMetaType::Float: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        return ok ? std::optional<double>(number) : std::nullopt;
    }
    default: {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return number;
    }
    }
}

double roundHalfToEven(double x)
{
    const double floor = std::floor(x);
    const double diff = x - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

QString readText(const Recordset &rs, const QString &column)
{
    return valueText(rs.Field(column));
}

qint16 readPoll(const Recordset &rs, const QString &column)
{
    const QVariant value = rs.Field(column);
    if (value.isNull())
        return 0;
    const std::optional<double> number = numberOf(value);
    if (!number || !std::isfinite(*number))
        unconvertible(column, value, QStringLiteral("which is not a number"));
    const double rounded = roundHalfToEven(*number);
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        unconvertible(column, value, QStringLiteral("which is outside -32768 to 32767"));
    return qint16(rounded);
}

bool readFlag(const Recordset &rs, const QString &column)
{
    const QVariant value = rs.Field(column);
    if (value.isNull())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    const std::optional<double> number = numberOf(value);
    if (!number || std::isnan(*number))
        unconvertible(column, value, QStringLiteral("which is neither a number nor true or false"));
    return *number != 0;
}
}

QString CompanySettingsSql()
{
    return QStringLiteral("SELECT TOP 1 * FROM Company");
}

void LoadCompanySettings()
{
    Recordset rs;
    rs.Open(CompanySettingsSql(), DatabaseConnection());
    struct Closer {
        Recordset &rs;
        ~Closer() { rs.Close(); }
    } closer{rs};

    const bool eof = rs.Eof();
    const bool bof = rs.Bof();
    if (eof || bof)
        return;

    // Each value is stored as soon as it is read: a failure at one column
    // leaves the columns before it loaded.
    auto require = [&rs](const QString &column) {
        if (!rs.HasField(column))
            throw CompanySettingsError(column, QString(),
                                       QStringLiteral("The Company table has no column %1.").arg(column));
        return column;
    };
    CompanySettingsValues &s = CompanySettings;
    s.Name = readText(rs, require(QStringLiteral("Name")));
    s.Address1 = readText(rs, require(QStringLiteral("Address1")));
    s.Address2 = readText(rs, require(QStringLiteral("Address2")));
    s.City = readText(rs, require(QStringLiteral("City")));
    s.State = readText(rs, require(QStringLiteral("State")));
    s.Zip = readText(rs, require(QStringLiteral("Zip")));
    s.Phone = readText(rs, require(QStringLiteral("Phone")));
    s.Fax = readText(rs, require(QStringLiteral("Fax")));
    s.Email = readText(rs, require(QStringLiteral("Email")));
    s.Website = readText(rs, require(QStringLiteral("Website")));
    s.AutomationServerPoll = readPoll(rs, require(QStringLiteral("AutomationServerPoll")));
    s.AutomationServerEmailFrom = readText(rs, require(QStringLiteral("AutomationServerEmailFrom")));
    s.AutomationServerEmailServer = readText(rs, require(QStringLiteral("AutomationServerEmailServer")));
    s.AutomationServerEmailUser = readText(rs, require(QStringLiteral("AutomationServerEmailUser")));
    s.AutomationServerEmailPassword = readText(rs, require(QStringLiteral("AutomationServerEmailPassword")));
    s.AutomationServerEmailUseSSLTLS = readFlag(rs, require(QStringLiteral("AutomationServerEmailUseSSLTLS")));
    s.AutomationServerEmailServerPort = readText(rs, require(QStringLiteral("AutomationServerEmailServerPort")));
    s.AutomationServerEmailFooter = readText(rs, require(QStringLiteral("AutomationServerEmailFooter")));
}
