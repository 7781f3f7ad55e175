#pragma once

#include <QString>

#include <stdexcept>

// The settings of the host's Company row, read once at start-up and read-only
// afterwards. Each field bears its column's name.
struct CompanySettingsValues
{
    QString Name;
    QString Address1;
    QString Address2;
    QString City;
    QString State;
    QString Zip;
    QString Phone;
    QString Fax;
    QString Email;
    QString Website;
    qint16 AutomationServerPoll = 0;
    QString AutomationServerEmailFrom;
    QString AutomationServerEmailServer;
    QString AutomationServerEmailUser;
    QString AutomationServerEmailPassword;
    bool AutomationServerEmailUseSSLTLS = false;
    QString AutomationServerEmailServerPort; // converted to a number only when a message is sent
    QString AutomationServerEmailFooter;
};

extern CompanySettingsValues CompanySettings;

// A Company column that is missing or whose value cannot be converted.
class CompanySettingsError : public std::runtime_error
{
public:
    CompanySettingsError(const QString &column, const QString &value, const QString &reason)
        : std::runtime_error(reason.toStdString()), Column(column), Value(value), Reason(reason)
    {}
    QString Column;
    QString Value;
    QString Reason;
};

// The one query of the company settings: "SELECT TOP 1 * FROM Company".
QString CompanySettingsSql();

// Reads CompanySettingsSql() over the open DatabaseConnection().
// No row: nothing changes. Null columns read as empty text, 0 or false.
// Throws CompanySettingsError or DbError.
void LoadCompanySettings();
