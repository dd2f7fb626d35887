#pragma once

#include "pickup/AlertRelay.h"

#include <QIODevice>
#include <QStringList>

// The relay as the main window holds it, loaded from the current program
// folder (a ProgramFolderFixture), with its tick and its time-out unit
// shortened so that tests run in seconds; polling from the start unless
// told otherwise.
class TestRelay : public AlertRelay
{
public:
    // What a test's modem can take part in: a device the test plays byte
    // by byte answers no health round.
    enum Health { HealthRounds, NoHealthRounds };

    explicit TestRelay(int timeUnitMs = 1500, int tickMs = 60, bool polling = true, Health health = HealthRounds);

    // One tick, and the event loop running until its cycle has ended and
    // its SMS have been tried.
    void cycle();
    // Waits, the event loop running, until no cycle runs and the outbox has
    // no alert left to send or to log.
    bool waitUntilIdle(int ms = 20000);
};

// Appends alert lines "L|10:<n>|EA<n>|Title <n>|<prefix> <n>", n = from..to,
// to the Sms.csv of a watched folder, as a robot does.
void writeAlerts(const QString &folder, int from, int to, const QString &prefix = QStringLiteral("Alert"));
// Writes bytes to a file, as a robot (or a test playing one) does.
void writeFile(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly);
// The names in a folder, sorted.
QStringList folderEntries(const QString &folder);
