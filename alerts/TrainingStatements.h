#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

// The text of every query and statement of the training-expiry task, built
// fragment by fragment. The host database's own SQL is the contract here, so
// each builder reproduces its statement exactly (double blanks included);
// every text value between single quotes goes through SqlText().

// --- Auto-close of automatic issues -------------------------------------
// Open automatic issues whose training was renewed beyond the issue window,
// whose item became optional, or whose employee is suspended or terminated.
QString AutoCloseSelectQuery(const QDate &issueWindowDate);
// CR LF CR LF "(AUTO CLOSED <date-time>)", appended to the description.
QString AutoCloseNote(const QDateTime &closedAt);
QString CloseIssueStatement(const QString &note, const QDateTime &editedDate, const QVariant &issueId);

// --- Renewal-date keys ------------------------------------------------------
// How the host declares a stored renewal date (AutomationServer_Emails.ItemKey,
// Issues.AUTO_Date). A datetime or datetime2 key is compared as a date-time,
// which an index on (ItemID, key) serves; any other type is read as text,
// which always matches (only slower on a large table).
enum class RenewalKeyType { Text, DateTime };
struct RenewalKeyTypes
{
    RenewalKeyType EmailKey = RenewalKeyType::Text;
    RenewalKeyType IssueKey = RenewalKeyType::Text;
};
// The declared types of both key columns: rows of TABLE_NAME, COLUMN_NAME,
// DATA_TYPE.
QString RenewalKeyTypesQuery();

// --- Expiry notifications -------------------------------------------------
QString NotificationCandidateQuery(const QString &category, const QDate &notificationWindowDate,
                                   RenewalKeyTypes keys = {});

// "<Name>: <LastName>, <FirstName> <MiddleName> <Suffix> - Expires <RenewDate>";
// a Null part is empty and its separators stay.
QString ItemDescription(const QVariant &name, const QVariant &lastName, const QVariant &firstName,
                        const QVariant &middleName, const QVariant &suffix, const QVariant &renewDate);
// Five lines, each ended by CR LF: client, item ID, item description, an
// empty line and 54 asterisks (the separator between items of one digest).
QString NotificationBody(const QVariant &customerName, const QVariant &itemId, const QString &itemDescription);
QString NotificationSubject(const QVariant &customerName, const QString &itemDescription);

QString QueueRowStatement(const QString &emailFrom, const QString &emailFromName, const QString &emailTo,
                          const QString &subject, const QString &body);

struct NotificationLogValues
{
    QDateTime EmailDate;
    QString Category;
    QVariant ItemID;
    QVariant RenewDate;
    bool ContractManager = false;
    bool ContractSpecialist = false;
    bool Client = false;
};
QString LogRowStatement(const NotificationLogValues &log);

// --- Automatic issues -------------------------------------------------------
QString AutomaticIssueSelectQuery(const QDate &issueWindowDate, RenewalKeyType issueKey = RenewalKeyType::Text);

struct AutomaticIssueValues
{
    QVariant ContractID;
    QVariant ItemID;
    QString ItemDesc;
    QDate IssueDate;
    QVariant DueDate;
    QString Description;
    QVariant Priority; // the rule's IssuePriority as read; Null is empty text
    QDateTime EnteredDate;
    QDateTime EditedDate;
    QVariant AutoDate;
};
QString AutomaticIssueInsertStatement(const AutomaticIssueValues &issue);
