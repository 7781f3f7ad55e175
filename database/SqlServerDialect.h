#pragma once

#include <QString>

// The embedded backend's reading of the SQL Server dialect that the system's
// statements are written in, done on tokens so that nothing inside a string
// literal or a quoted identifier is ever touched:
//  - SELECT [DISTINCT] TOP n ...           -> SELECT ... LIMIT n (per query level)
//  - DATEADD(Month, n, d)                  -> DATEADD('Month', n, d) (registered function)
//  - ISNULL(a, b)                          -> ifnull(a, b)
//  - CAST(x AS VarChar[(n)])               -> CAST(x AS TEXT) (dates stay ISO text)
//  - text + text                           -> text || text, for a chain of "+" with a
//                                             string literal in it (Null stays Null)
//  - '1/5/2027', '12/7/2026 2:05:09 PM'    -> '2027-01-05 00:00:00', '2026-12-07 14:05:09'
//  - N'text'                               -> 'text'
// Derived tables with aliases, LEFT JOIN, IN lists and the rest pass as they are.
QString RewriteSqlServerDialect(const QString &sql);
