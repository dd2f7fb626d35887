#pragma once

#include <QString>

// The code page of alert files that are neither UTF-8 nor UTF-16, as the
// robots' terminals write them: an option of the desk, kept in Config.mdb in
// a table of its own, AlertCodePage (one row, one field, CodePage).
namespace CodePage {

constexpr auto Default = "Windows-1252";

// The stored code page; the default where the table or its row is missing.
QString load();

// Whether a code page name is one this system can read.
bool known(const QString &name);

// Stores the code page, making the table where it is missing. Failures are
// thrown as DbError.
void save(const QString &name);

} // namespace CodePage
