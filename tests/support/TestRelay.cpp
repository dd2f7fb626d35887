#include "support/TestRelay.h"

#include "store/Outbox.h"
#include "store/ProgramFolder.h"
#include "store/Sql.h"
#include "support/RunUntil.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

// Alerts in the outbox that still have something to do.
int openAlerts()
{
    const QString name = QStringLiteral("test-outbox");
    int open = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(ProgramFolder::file(QString::fromLatin1(Outbox::FileName)));
        if (db.open()) {
            try {
                open = Sql::value(db, QStringLiteral("SELECT count(*) FROM alert WHERE first_done = 0 OR logged = 0 "
                                                     "OR id IN (SELECT alert_id FROM sms WHERE state = 'waiting')"))
                           .toInt();
            } catch (const DbError &) {
                open = -1;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return open;
}

} // namespace

TestRelay::TestRelay(int timeUnitMs, int tickMs, bool polling, Health health)
{
    setHealthRounds(health == HealthRounds);
    load();
    setTimeUnitMs(timeUnitMs);
    Timer1().setInterval(tickMs);
    if (polling)
        start();
}

void TestRelay::cycle()
{
    Timer1_Timer();
    QVERIFY(runUntil([this] { return !cycleRunning() && !sending(); }, 60000));
}

bool TestRelay::waitUntilIdle(int ms)
{
    const auto filesWaiting = [this] {
        return std::any_of(paths().PathList().cbegin(), paths().PathList().cend(),
                           [](const QString &folder) { return !folderEntries(folder).isEmpty(); });
    };
    return runUntil([&] { return !cycleRunning() && !sending() && !filesWaiting() && openAlerts() == 0; }, ms);
}

void writeAlerts(const QString &folder, int from, int to, const QString &prefix)
{
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += QStringLiteral("L|10:%1|EA%2|Title %2|%3 %2\r\n")
                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                     .arg(i)
                     .arg(prefix)
                     .toLatin1();
    writeFile(MT4Paths::alertFile(folder), bytes, QIODevice::WriteOnly | QIODevice::Append);
}

void writeFile(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode)
{
    QFile file(name);
    QVERIFY2(file.open(mode), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
