#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class MSComm;

// The program-wide module: the current serial settings, the history line of
// the last acknowledged send, and the routines every window shares. Its
// routines live by their job: the port settings in PortSettings.cpp, the
// accounts and users in Accounts.cpp, the wait in EventWait.cpp.
namespace UpdateCom {

// Current serial settings, loaded at start-up from the Com row.
inline short ComPort = 0;
inline QString Baud;
inline QString DataBits;
inline QString Parity;
inline QString FlowControl;
inline QString StopBit;

// History line of the last acknowledged send, in the bytes it is written as.
inline QByteArray AlarmRecord;

// Baud, parity, data bits and stop bits joined by commas, nothing trimmed.
QString SettingsString();

// Start-up load of the Com row into the current settings. A value that
// cannot serve is replaced by its default; the lines say which.
QStringList LoadComSettings();

// Stores the five box texts in the Com row and makes them current.
void SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                     const QString &parityText, const QString &stopBitsText);

// The number that follows "COM" in a port text, blanks ignored ("COM 3", "COM12").
short PortNumber(const QString &portText);

// Configures and opens a port from the current settings, in a fixed order.
void OpenModemPort(MSComm &port, short portNumber);

// Rank of the first account whose name and password match exactly, else 0.
short CheckLogin(const QString &userName, const QString &password);

// Changes the first user found by name (compared without regard to case).
// Returns false when no user has that name.
bool UpdateUser(const QString &userName, const QString &phoneNo, bool onDuty);

// Waits more than `ms` milliseconds while window events go on.
void Delay(float ms);

} // namespace UpdateCom
