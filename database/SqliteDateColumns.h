#pragma once

#include "database/SchemaDateColumns.h"

struct sqlite3;

// The date columns of the database open on a SQLite connection, read from
// the declared column types (PRAGMA table_info) of its tables. (Views are
// left out: one that no longer compiles must not fail every statement.)
// Kept with the connection and read again only when its schema changes
// (PRAGMA schema_version); forgotten when the connection closes.
// Throws DbError with SQLite's message when the schema cannot be read.
SchemaDateColumns CachedDateColumns(sqlite3 *handle);

// Read afresh, without the cache.
SchemaDateColumns ReadDateColumns(sqlite3 *handle);
