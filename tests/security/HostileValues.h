#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Texts that break or bend a statement that pastes them in unescaped, and
// texts that stress the rest of the road (non-ASCII, line breaks, size).
inline QList<QPair<QString, QString>> HostileTexts()
{
    QString megabyte;
    megabyte.reserve(1 << 20);
    while (megabyte.size() < (1 << 20))
        megabyte += QStringLiteral("O'Brien'); DELETE FROM Issues; -- ");
    return {
        {QStringLiteral("apostrophe"), QStringLiteral("O'Brien")},
        {QStringLiteral("closing the statement"), QStringLiteral("x'); DELETE FROM Issues; --")},
        {QStringLiteral("quote then comment"), QStringLiteral("'--")},
        {QStringLiteral("backslash escape"), QStringLiteral("\\'")},
        {QStringLiteral("drop table"), QStringLiteral("'; DROP TABLE Company; --")},
        {QStringLiteral("always true"), QStringLiteral("' OR '1'='1")},
        {QStringLiteral("block comment"), QStringLiteral("/* ' */ */")},
        {QStringLiteral("national prefix"), QStringLiteral("N'")},
        {QStringLiteral("name delimiters"), QStringLiteral("]\"[`")},
        {QStringLiteral("concatenation"),
         QStringLiteral("' + (SELECT AutomationServerEmailPassword FROM Company) + '")},
        {QStringLiteral("line breaks and tab"), QStringLiteral("a\r\nb\nc\rd\te")},
        {QStringLiteral("unicode"), QStringLiteral("Zo\u00eb \U0001F600 \u540d\u524d \u202eevil\u202c \uff07")},
        {QStringLiteral("only quotes"), QStringLiteral("''''")},
        {QStringLiteral("a megabyte"), megabyte},
    };
}

// Identities as a tampered row could hold them: none is a whole number.
inline QList<QString> HostileIdentities()
{
    return {QStringLiteral("7 OR 1=1"), QStringLiteral("7; DELETE FROM Issues"),
            QStringLiteral("7--"),      QStringLiteral("(SELECT 7)"),
            QStringLiteral("0x07"),     QStringLiteral(""),
            QStringLiteral("7.5"),      QStringLiteral("1e3"),
            QStringLiteral("\uff17"),   QStringLiteral("7 "),
            QStringLiteral("'7'"),      QStringLiteral("7\n")};
}
