#pragma once

#include "alerts/TrainingStatements.h"

class DbConnection;

// The renewal-date key columns' types as the host database declares them.
// A key found with another type than datetime or datetime2, with several
// types (the same table in two schemas), or not at all is read as text: that
// form matches whatever the column holds. Throws DbError when the query fails.
RenewalKeyTypes ReadRenewalKeyTypes(DbConnection &connection);
