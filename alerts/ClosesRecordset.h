#pragma once

#include "Recordset.h"

// Closes a recordset when the walk over it ends, normally or by an error, so
// the next query of the cycle finds the shared recordset closed.
class ClosesRecordset
{
public:
    explicit ClosesRecordset(Recordset &recordset) : m_recordset(recordset) {}
    ~ClosesRecordset() { m_recordset.Close(); }
    ClosesRecordset(const ClosesRecordset &) = delete;
    ClosesRecordset &operator=(const ClosesRecordset &) = delete;

private:
    Recordset &m_recordset;
};
