#include "pickup/AlertRelay.h"

#include "pickup/AlertFile.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

AlertRelay::AlertRelay(QObject *parent)
    : QObject(parent)
    , pageLog(this)
    , trace(this)
    , intake(pageLog)
    , sender(trace, pageLog, this)
    , Timer1(this)
{
    Timer1.setInterval(TickIntervalMs);
    // A coarse timer may fire up to 5 % late to share wake-ups; an alert
    // should wait no longer than one tick.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &AlertRelay::Timer1_Timer);
}

void AlertRelay::Timer1_Timer()
{
    TickCount = TickCount == 32767 ? 0 : short(TickCount + 1);
    emit tickCounted(TickCount);

    // A tick that falls due while a cycle or a dialogue is still under way
    // is skipped: the files wait on disk for the next tick.
    if (m_cycleRunning || sender.busy())
        return;
    m_cycleRunning = true;
    struct Done {
        bool &running;
        ~Done() { running = false; }
    } done{m_cycleRunning};

    intake.beginCycle();
    for (const QString &path : std::as_const(paths.PathList))
        takeAlertFile(path);
    DispatchAlerts();
}

void AlertRelay::takeAlertFile(const QString &path)
{
    const QString taken = AlertFile::takenName(path);
    // A file taken but not read, for instance when the program was stopped
    // in between, is read first.
    if (!QFileInfo::exists(taken)) {
        QString reason;
        switch (AlertFile::take(path, &reason)) {
        case AlertFile::Take::NoFile:
            m_reported.remove(path);
            return;
        case AlertFile::Take::FolderGone:
            // The folder went away after the file was seen.
            intake.ProcessSmsFile(path);
            return;
        case AlertFile::Take::Refused:
            reportOnce(path, QStringLiteral("Alert file %1 cannot be taken (%2); its alerts wait until it can.")
                                 .arg(MT4Paths::alertFile(path), reason));
            return;
        case AlertFile::Take::Taken:
            break;
        }
    } else if (m_reported.contains(taken)) {
        return; // read once already and could not be removed
    }

    // A robot still writing its lines finishes them into the taken file;
    // it is read once the robot has closed it.
    const QString writing = QStringLiteral("writing:") + taken;
    if (AlertFile::openForWriting(taken)) {
        reportOnce(writing, QStringLiteral("Alert file %1 is still open for writing; its alerts are read when the writer closes it.")
                                .arg(MT4Paths::alertFile(path)));
        return;
    }
    m_reported.remove(writing);

    intake.ProcessSmsFile(path);
    QFile file(taken);
    if (!file.remove() && file.exists()) {
        reportOnce(taken, QStringLiteral("Alert file %1 was read but cannot be removed (%2); it is not read again.")
                              .arg(taken, file.errorString()));
        return;
    }
    m_reported.remove(path);
    m_reported.remove(taken);
}

void AlertRelay::reportOnce(const QString &key, const QString &line)
{
    if (m_reported.contains(key))
        return;
    m_reported.insert(key);
    pageLog.report(line);
}

void AlertRelay::DispatchAlerts()
{
    // Rows the database refused before go in first, in their order.
    bool logging = m_unlogged.isEmpty() || writeWaitingLogs();
    const short n = intake.SmsCount;
    for (short i = 1; i <= n; ++i) {
        const SmsRecord record = intake.SmsBatch[i];
        // The recipient list may be reloaded during a send: read it afresh
        // for every recipient.
        for (qsizetype j = 0; j + 1 < recipients.PhoneList.size() && j + 1 < recipients.PhoneCount; j += 2)
            sender.SendAlarm(record.Message, recipients.PhoneList[j], recipients.PhoneList[j + 1]);
        m_unlogged.enqueue(record);
        // Once the database has refused a row in this cycle, the others of
        // the cycle wait for the next one instead of each waiting out the
        // lock again.
        if (logging)
            logging = writeWaitingLogs();
    }
    intake.SmsCount = 0;
}

bool AlertRelay::writeWaitingLogs()
{
    const qsizetype waiting = m_unlogged.size();
    while (!m_unlogged.isEmpty()) {
        const SmsRecord &record = m_unlogged.head();
        try {
            WriteLog(record.Time, record.EA_Name, record.Title, record.Message);
        } catch (const DbError &error) {
            if (!m_logRefused)
                pageLog.report(QStringLiteral("LOG row not written for alert \"%1\" of %2 at %3: %4; the row is kept and "
                                      "written when the database takes it.")
                                   .arg(record.Message.left(80), record.EA_Name, record.Time, error.text()));
            m_logRefused = true;
            return false;
        }
        m_unlogged.dequeue();
    }
    if (std::exchange(m_logRefused, false))
        pageLog.report(QStringLiteral("%1 LOG rows that had waited for the database are written.").arg(waiting));
    return true;
}

void AlertRelay::WriteLog(const QString &Time, const QString &EA_Name, const QString &Title, const QString &Message)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QStringLiteral("SELECT* From LOG order by SMS_ID"), cn);
    rs.AddNew();
    rs.SetField(QStringLiteral("Time"), Time);
    rs.SetField(QStringLiteral("EA_Name"), EA_Name);
    rs.SetField(QStringLiteral("Title"), Title);
    rs.SetField(QStringLiteral("Message"), Message);
    rs.Update();
    rs.Close();
}
