#include "DateValues.h"

#include <QRegularExpression>

bool IsDateTypeName(const QString &declaredType)
{
    return declaredType.contains(QLatin1String("DATE"), Qt::CaseInsensitive)
        || declaredType.contains(QLatin1String("TIME"), Qt::CaseInsensitive);
}

QDateTime ParseStoredDate(const QString &text)
{
    static const QRegularExpression iso(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})(?:[ T](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,3})\d*)?)?)?$)"));
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch m = iso.match(trimmed);
    if (!m.hasMatch())
        return ParseSystemDateText(trimmed);

    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return QDateTime();
    int msec = 0;
    if (m.capturedLength(7) > 0) {
        QString fraction = m.captured(7);
        while (fraction.size() < 3)
            fraction += QLatin1Char('0');
        msec = fraction.toInt();
    }
    const QTime time(m.capturedLength(4) > 0 ? m.captured(4).toInt() : 0,
                     m.capturedLength(5) > 0 ? m.captured(5).toInt() : 0,
                     m.capturedLength(6) > 0 ? m.captured(6).toInt() : 0, msec);
    if (!time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

bool IsFullIsoDateTime(const QString &text)
{
    static const QRegularExpression full(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}(?:\.\d{1,3})?$)"));
    return full.match(text).hasMatch();
}

QDateTime ParseSystemDateText(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2}) ([AaPp][Mm]))?$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const QDate date(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
    if (!date.isValid())
        return QDateTime();
    QTime time(0, 0);
    if (m.capturedLength(4) > 0) {
        const int hour12 = m.captured(4).toInt();
        if (hour12 < 1 || hour12 > 12)
            return QDateTime();
        const bool pm = m.captured(7).startsWith(QLatin1Char('P'), Qt::CaseInsensitive);
        const int hour = (hour12 % 12) + (pm ? 12 : 0);
        time = QTime(hour, m.captured(5).toInt(), m.captured(6).toInt());
        if (!time.isValid())
            return QDateTime();
    }
    return QDateTime(date, time);
}

QString IsoDateTimeText(const QDateTime &value)
{
    const QDate d = value.date();
    const QTime t = value.time();
    QString text = QStringLiteral("%1-%2-%3 %4:%5:%6")
                       .arg(d.year(), 4, 10, QLatin1Char('0'))
                       .arg(d.month(), 2, 10, QLatin1Char('0'))
                       .arg(d.day(), 2, 10, QLatin1Char('0'))
                       .arg(t.hour(), 2, 10, QLatin1Char('0'))
                       .arg(t.minute(), 2, 10, QLatin1Char('0'))
                       .arg(t.second(), 2, 10, QLatin1Char('0'));
    if (t.msec() != 0)
        text += QStringLiteral(".%1").arg(t.msec(), 3, 10, QLatin1Char('0'));
    return text;
}
