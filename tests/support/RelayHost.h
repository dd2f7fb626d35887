#pragma once

#include <QProcess>
#include <QString>

// Starts vantrel-relayhost, the relay without its windows, on a program
// folder, with a 20 ms tick and a 300 ms time-out unit, as a child that
// tests may kill at any moment; it dies with the test should the test die.
bool startRelayHost(QProcess &host, const QString &folder);
