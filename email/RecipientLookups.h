#pragma once

#include <QString>

// Read-only look-ups for the expiry notifications. Each runs one query over
// DatabaseConnection() on a result set of its own, so a caller's result set
// keeps its position. The empty text means nothing was found (a Null value
// reads as empty too). Identifiers are decimal text placed into the statement
// as they stand. A rejected statement throws DbError.

// The contract's specialists' addresses in ascending order, each followed by
// ";"; specialists without an address are skipped, duplicates kept.
QString GetContractSpecialistEmails(const QString &contractId);
// The client address of the contract for the category "Contract Employee"
// (EmailEmployee) or "Contract" (EmailContract), compared case-sensitively;
// empty for any other category.
QString GetContractEmail(const QString &contractId, const QString &category);
QString GetIssueCategory(const QString &issueId);

QString ContractSpecialistEmailsSql(const QString &contractId);
QString ContractEmailSql(const QString &contractId);
QString IssueCategorySql(const QString &issueId);
