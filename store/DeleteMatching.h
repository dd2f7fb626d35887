#pragma once

class QString;
class Recordset;

// Deletes every record from the current one on whose `field` is exactly
// `value`, letter case included; a field without value matches nothing.
// The Settings window removes users and folders this way: every row of a
// name goes, not only the first.
void DeleteMatching(Recordset &rs, const QString &field, const QString &value);
