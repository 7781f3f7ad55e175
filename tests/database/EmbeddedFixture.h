#pragma once

#include "database/DbConnection.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

// A fresh schema file and the system's connection to it.
class EmbeddedFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(connection.Open(db.connectionString(), &error)) << error.toStdString();
    }

    // The one value of a one-row, one-column query through the system's
    // connection (with the dialect).
    QVariant scalar(const QString &sql)
    {
        const QuerySnapshot result = connection.Query(sql);
        if (result.rows.size() != 1 || result.rows[0].size() != 1)
            throw DbError(QStringLiteral("expected one value from: ") + sql);
        return result.rows[0][0];
    }

    TempDatabase db;
    DbConnection connection;
};
