#include "database/UnreadableDates.h"

#include <QList>
#include <QMutex>
#include <QSet>

namespace {

struct Note
{
    QString column;
    QString rowId;
    QString value;
};

struct Notes
{
    QMutex mutex;
    QList<Note> inOrder;
    QSet<QString> seen; // column and row
};

Notes &notes()
{
    static Notes all;
    return all;
}

} // namespace

void NoteUnreadableDate(const QString &column, const QString &rowId, const QString &value)
{
    Notes &all = notes();
    const QMutexLocker lock(&all.mutex);
    const QString key = column + QLatin1Char('\n') + rowId;
    if (all.seen.contains(key))
        return;
    all.seen.insert(key);
    all.inOrder.append(Note{column, rowId, value});
}

QStringList TakeUnreadableDateLines(int limit)
{
    Notes &all = notes();
    const QMutexLocker lock(&all.mutex);
    QStringList lines;
    for (const Note &note : std::as_const(all.inOrder)) {
        if (lines.size() == limit) {
            lines.append(QStringLiteral("%1 more row(s) hold a date that cannot be read and are left out as well")
                             .arg(all.inOrder.size() - limit));
            break;
        }
        lines.append(QStringLiteral("%1 of the row with ID %2 holds '%3', which is not a date: the row is left out "
                                    "until it is corrected")
                         .arg(note.column, note.rowId, note.value));
    }
    all.inOrder.clear();
    all.seen.clear();
    return lines;
}
