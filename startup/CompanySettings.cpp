#include "startup/CompanySettings.h"

#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueConversion.h"

#include <QVariant>

#include <limits>

CompanySettingsValues CompanySettings;

namespace {
[[noreturn]] void unconvertible(const QString &column, const QVariant &value, const QString &why)
{
    throw CompanySettingsError(column, FieldText(value),
                               QStringLiteral("The column %1 holds \"%2\", %3.").arg(column, FieldText(value), why));
}

QString readText(const Recordset &rs, const QString &column)
{
    return FieldText(rs.Field(column));
}

qint16 readPoll(const Recordset &rs, const QString &column)
{
    const QVariant value = rs.Field(column);
    if (value.isNull())
        return 0;
    const std::optional<double> number = NumberOf(value);
    if (!number)
        unconvertible(column, value, QStringLiteral("which is not a number"));
    const double rounded = RoundHalfToEven(*number);
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        unconvertible(column, value, QStringLiteral("which is outside -32768 to 32767"));
    return qint16(rounded);
}

bool readFlag(const Recordset &rs, const QString &column)
{
    const QVariant value = rs.Field(column);
    const std::optional<bool> flag = SwitchOf(value);
    if (!flag)
        unconvertible(column, value, QStringLiteral("which is neither a number nor true or false"));
    return *flag;
}
} // namespace

QString CompanySettingsSql()
{
    return QStringLiteral("SELECT TOP 1 * FROM Company");
}

void LoadCompanySettings()
{
    Recordset rs;
    rs.Open(CompanySettingsSql(), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rs);

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
