#pragma once

#include "database/SchemaDateColumns.h"

#include <QList>
#include <QString>

#include <functional>

// Gives the date columns of the open database; called at most once per
// statement, and only when a date-shaped literal meets a column.
using SchemaDateColumnsSource = std::function<SchemaDateColumns()>;

// The embedded backend's reading of the SQL Server dialect that the system's
// statements are written in, done on tokens so that nothing inside a string
// literal or a quoted identifier is ever touched:
//  - SELECT [DISTINCT] TOP n ...           -> SELECT ... LIMIT n (per query level)
//  - DATEADD(Month, n, d)                  -> DATEADD('Month', n, d) (registered function)
//  - ISNULL(a, b)                          -> ifnull(a, b)
//  - CAST(x AS VarChar[(n)])               -> VARCHAR_OF(CAST(x AS TEXT), n): a date-time
//                                             becomes the server's style-0 text; compared
//                                             with a date column, converted back:
//                                             CONVERT('datetime', VARCHAR_OF(...))
//  - CONVERT(VarChar(19), x, 120)          -> CONVERT('VarChar(19)', x, 120) (TRY_CONVERT too)
//  - DATEADD(i, n, T.C) of a table column  -> DATEADD('i', n, T.C, 'T.C', T.rowid), to name
//                                             the row whose text is no date
//  - text + text                           -> text || text, for a chain of "+" with a
//                                             string literal in it (Null stays Null)
//  - '1/5/2027', '12/7/2026 2:05:09 PM'    -> '2027-01-05 00:00:00', '2026-12-07 14:05:09'
//                                             where the literal stands for a date (below);
//                                             ISO literals with a fraction are rounded to
//                                             datetime's 1/300 s there
//  - N'text'                               -> 'text'
//  - INFORMATION_SCHEMA.COLUMNS            -> TABLE_NAME, COLUMN_NAME, DATA_TYPE of SQLite's
//                                             catalogue
// Derived tables with aliases, LEFT JOIN, IN lists and the rest pass as they are.
//
// A literal in the system's date form is a date only where SQL Server would
// read it as one; anywhere else it is text and stays exactly as written:
//  - compared (=, <>, !=, <, <=, >, >=, BETWEEN, IN) with a DATEADD, GETDATE or
//    CAST(... AS DATETIME) call, or with a date column;
//  - a value of INSERT INTO t (c, ...) VALUES (...) for a date column c of t;
//  - assigned by UPDATE t SET c = '...' to a date column c of t;
//  - the date of DATEADD, or the value of CAST('...' AS DATETIME).
// Whether a column is a date comes from `schema`; a qualified name is looked
// up in the table (or the table of the alias) it names, a plain one in the
// tables of the statement.
QString RewriteSqlServerDialect(const QString &sql, const SchemaDateColumnsSource &schema);

// Without knowledge of the database: no column is a date, so only literals
// met by DATEADD, GETDATE or CAST(... AS DATETIME) are read as dates.
QString RewriteSqlServerDialect(const QString &sql);

// The statement as the rewrite reads it: blanks, comments, string literals
// (quotes kept, an N prefix dropped), quoted names, words, numbers, and
// operators and brackets. `unterminated` is set when the last literal or
// quoted name runs to the end.
enum class SqlTokenKind { Space, Comment, String, QuotedName, Word, Number, Punct };
struct SqlToken
{
    SqlTokenKind kind;
    QString text;
};
QList<SqlToken> SqlTokens(const QString &sql, bool *unterminated = nullptr);
