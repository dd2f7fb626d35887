#pragma once

#include "store/PortSettings.h"

#include <QString>
#include <QStringList>

#include <functional>

class MSComm;
class QObject;
class Recordset;

// The routines every window shares: the port settings record, the login
// check, the save of an edited user, and the Settings window's short waits.
// It keeps no state: the current port settings are a value the relay holds.
namespace UpdateCom {

// The Com row as the program uses it. A value that cannot serve is replaced
// by its default, and `complaints` gets a line saying which. A missing row
// is thrown as DbError.
PortSettings LoadComSettings(QStringList *complaints = nullptr);
// The same for the current row of any recordset with the Com columns.
PortSettings readPortSettings(Recordset &rs, QStringList *complaints);

// Stores the five box texts in the Com row and returns them as the settings
// that are current from now on. Failures are thrown as DbError before
// anything has changed.
PortSettings SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                             const QString &parityText, const QString &stopBitsText);

// The number that follows "COM" in a port text, blanks ignored ("COM 3", "COM12").
short PortNumber(const QString &portText);

// Configures and opens a port from `settings`, in a fixed order, as port
// `portNumber`. Port errors are thrown as CommError.
void OpenModemPort(MSComm &port, const PortSettings &settings, short portNumber);

// Rank of the first account whose name and password match exactly, else 0.
short CheckLogin(const QString &userName, const QString &password);

// Changes the first user found by name (compared without regard to case).
// Returns false when no user has that name.
bool UpdateUser(const QString &userName, const QString &phoneNo, bool onDuty);

// Calls `then` once more than `ms` milliseconds have passed, unless
// `context` is gone by then. Nothing waits meanwhile: every event goes on.
void Delay(float ms, QObject *context, const std::function<void()> &then);

} // namespace UpdateCom
