#pragma once

#include <QString>

// A desktop autostart entry (XDG: ~/.config/autostart/vantrel.desktop), so
// that the program starts with the desk's session and relays alerts after a
// reboot with nobody at the desk.
namespace Autostart {

// The entry for the program in `folder`.
QString entry(const QString &folder);

// Writes the entry; returns its path, or an empty text and `error`.
QString install(const QString &folder, QString *error);

} // namespace Autostart
