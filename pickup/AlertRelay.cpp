#include "pickup/AlertRelay.h"

#include "pickup/OutboxReport.h"
#include "store/Clock.h"
#include "store/CodePage.h"
#include "store/DbError.h"
#include "store/FieldValues.h"
#include "store/UpdateCom.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Alerts that are done stay in the outbox this long, for whoever wants to
// see what became of them, then they go.
constexpr qint64 KeepDoneDays = 7;
constexpr qint64 PurgeEveryMs = qint64(3600) * 1000;
// While a modem test or a test message has the line, the dispatch looks
// again this often.
constexpr int LineBusyRetryMs = 20;
// While a robot holds its taken file open, the relay looks again this often.
constexpr int HeldOpenLookMs = 200;
const QString NotAPhoneNumber = QStringLiteral("not a phone number");
// An SMS given up is counted, for the tray's tip, this long.
constexpr qint64 GivenUpShownSecs = qint64(24) * 3600;

} // namespace

AlertRelay::AlertRelay(QObject *parent)
    : QObject(parent)
    , m_pageLog(this)
    , m_trace(this)
    , m_intake(m_outbox, m_pageLog)
    , m_logs(m_outbox, m_pageLog)
    , m_sender(m_trace, m_pageLog, this)
    , m_timer(this)
    , m_watcher(this)
    , m_soon(this)
    , m_nextSend(this)
{
    m_timer.setInterval(TickIntervalMs);
    // A coarse timer may fire up to 5 % late to share wake-ups; an alert
    // should wait no longer than one tick.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AlertRelay::Timer1_Timer);
    m_nextSend.setSingleShot(true);
    connect(&m_nextSend, &QTimer::timeout, this, &AlertRelay::dispatchNext);

    // A file that appears in a watched folder is taken at once.
    m_soon.setSingleShot(true);
    m_soon.setTimerType(Qt::PreciseTimer);
    connect(&m_soon, &QTimer::timeout, this, &AlertRelay::runCycle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { cycleSoon(NotifiedCycleMs); });

    m_outbox.onSetAside([this](const QString &name, int alerts) {
        const QString text = QStringLiteral("The outbox was damaged and has been set aside as %1; %2 alerts waiting in "
                                            "it were carried over.")
                                 .arg(name)
                                 .arg(alerts);
        m_pageLog.report(text);
        emit outboxSetAside(text);
    });
}

void AlertRelay::load()
{
    for (const QString &complaint : UpdateCom::LoadComSettings())
        m_pageLog.report(complaint);
    reloadPaths();
    GetPhoneNo();
    const QString codePage = CodePage::load();
    if (CodePage::known(codePage)) {
        m_intake.setCodePage(codePage);
    } else {
        m_pageLog.report(QStringLiteral("The alert code page \"%1\" is not known here; alert files that are not UTF-8 "
                                        "are read as %2.")
                             .arg(FieldValues::shown(codePage), QString::fromLatin1(CodePage::Default)));
    }
    // An outbox that cannot be opened yet is said and tried on every tick;
    // the alert files wait on disk meanwhile.
    try {
        m_outbox.open();
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    updateCounts();
}

void AlertRelay::reloadPaths()
{
    m_paths.GetPathList();
    for (const QString &complaint : m_paths.complaints())
        m_pageLog.report(complaint);
    watchFolders();
}

void AlertRelay::GetPhoneNo()
{
    m_recipients.GetPhoneNo();
    for (const QString &complaint : m_recipients.complaints())
        m_pageLog.report(complaint);
}

void AlertRelay::setFolderNotifications(bool on)
{
    m_notified = on;
    watchFolders();
}

void AlertRelay::watchFolders()
{
    // A folder that does not exist yet is watched from the first tick that
    // finds it. With notifications off, every watch goes.
    const QStringList watched = m_watcher.directories();
    QStringList wanted;
    if (m_notified) {
        for (const QString &path : std::as_const(m_paths.PathList())) {
            const QString folder = QDir::cleanPath(path);
            wanted << folder;
            if (!watched.contains(folder) && QFileInfo(folder).isDir())
                m_watcher.addPath(folder);
        }
    }
    for (const QString &folder : watched) {
        if (!wanted.contains(folder))
            m_watcher.removePath(folder);
    }
}

void AlertRelay::cycleSoon(int ms)
{
    if (!m_soon.isActive() || m_soon.remainingTime() > ms)
        m_soon.start(ms);
}

void AlertRelay::start()
{
    m_sincePurge.start();
    m_timer.start();
}

void AlertRelay::stop()
{
    m_stopping = true;
    m_timer.stop();
    m_soon.stop();
}

void AlertRelay::Timer1_Timer()
{
    m_tickCount = m_tickCount == 32767 ? short(0) : short(m_tickCount + 1);
    emit tickCounted(m_tickCount);
    watchFolders();
    runCycle();
}

void AlertRelay::runCycle()
{
    if (m_stopping)
        return;
    // A cycle asked for while one is under way, or while a modem test or a
    // test message has the line, follows it.
    if (m_cycleRunning || m_sender.busy()) {
        m_cycleWanted = true;
        return;
    }
    m_cycleWanted = false;
    m_cycleRunning = true;
    for (const QString &path : m_paths.PathList())
        m_intake.ProcessSmsFile(path);
    DispatchAlerts();
}

void AlertRelay::DispatchAlerts()
{
    // LOG rows that waited for the database go first, in their order.
    m_logs.writeDue();
    if (!fillBatch()) {
        endCycle();
        return;
    }
    m_slot = 1;
    m_slotOpen = false;
    dispatchNext();
}

bool AlertRelay::fillBatch()
{
    // New alerts' first tries first, taken in turn from the folders that
    // have any, each in its file order; SMS due to be tried again take the
    // places left.
    QList<Outbox::Alert> alerts;
    try {
        QStringList folders = m_outbox.foldersWaiting();
        QList<QList<Outbox::Alert>> waiting;
        for (qsizetype i = 0; i < folders.size(); ++i)
            waiting << m_outbox.firstTries(folders[(i + m_turn) % folders.size()], BatchSize);
        ++m_turn;
        for (qsizetype round = 0; round < BatchSize && alerts.size() < BatchSize; ++round) {
            for (const QList<Outbox::Alert> &folder : std::as_const(waiting)) {
                if (round < folder.size() && alerts.size() < BatchSize)
                    alerts << folder[round];
            }
        }
        if (alerts.size() < BatchSize)
            alerts += m_outbox.retriesDue(Clock::nowUtc(), BatchSize - int(alerts.size()));
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    m_smsCount = 0;
    for (const Outbox::Alert &alert : std::as_const(alerts))
        m_smsBatch[++m_smsCount] = alert;
    return true;
}

void AlertRelay::dispatchNext()
{
    // Ending: nothing more is sent, but the LOG rows of alerts whose sends
    // are done are written.
    if (m_stopping) {
        m_logs.writeDue();
        endCycle();
        return;
    }
    // A modem test or a test message has the line: the batch waits for it.
    if (m_sender.busy()) {
        m_nextSend.start(LineBusyRetryMs);
        return;
    }
    while (m_slot <= m_smsCount) {
        Outbox::Alert &alert = m_smsBatch[m_slot];
        if (!m_slotOpen && !openRecord(alert)) {
            endCycle();
            return;
        }
        m_slotOpen = true;
        if (!m_due.isEmpty()) {
            sendOne(alert, m_due.takeFirst());
            // The next send once the event loop has had its turn.
            m_nextSend.start(0);
            return;
        }
        // Every recipient of this record had its try: then its LOG row.
        m_slotOpen = false;
        m_logs.writeDue();
        ++m_slot;
    }
    endCycle();
}

bool AlertRelay::openRecord(Outbox::Alert &alert)
{
    try {
        if (!alert.dispatched) {
            // The recipients of an alert are those on duty when its dispatch
            // begins. One whose number is no phone number gets nothing, and
            // each alert says so.
            QList<Outbox::NewSms> sms;
            for (const Recipients::Recipient &recipient : m_recipients.onDuty())
                sms.append({recipient.name, recipient.sendable() ? recipient.number : recipient.stored,
                            recipient.sendable() ? QString() : NotAPhoneNumber});
            m_outbox.beginDispatch(alert.id, sms);
            alert.dispatched = true;
            m_sender.reportAlterations(alert.record.Message);
            for (const Recipients::Recipient &recipient : m_recipients.onDuty()) {
                if (!recipient.sendable())
                    m_sender.reportNotSent(alert.record.Message, recipient.name, recipient.stored, NotAPhoneNumber);
            }
        }
        m_due = m_outbox.dueSms(alert.id, Clock::nowUtc());
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    OutboxReport::works(m_pageLog);
    return true;
}

void AlertRelay::sendOne(const Outbox::Alert &alert, const Outbox::Sms &sms)
{
    const QString &message = alert.record.Message;
    // The parts of a long message keep their reference number, so that a
    // part sent again joins those that went out before.
    const SendOutcome outcome =
        m_sender.send({message, sms.name, sms.number, alert.messageBytes, quint8(sms.id), sms.partsSent});
    const int tries = sms.tries + 1;
    try {
        if (outcome.sent) {
            m_outbox.recordSent(sms.id);
        } else if (tries >= maxTries()) {
            m_outbox.giveUp(sms.id, outcome.reason, outcome.partsSent);
            m_pageLog.report(QStringLiteral("Given up sending to %1 (%2) after %3 tries: %4")
                                 .arg(sms.name, sms.number)
                                 .arg(tries)
                                 .arg(outcome.reason));
            emit gaveUp(sms.name, sms.number, outcome.reason);
        } else {
            m_outbox.recordFailed(sms.id, outcome.reason, Clock::nowUtc().addMSecs(m_retryDelaysMs[tries - 1]),
                                  outcome.partsSent);
            // Said once, at its first failure; a later try that succeeds is
            // said as any send is, the last that fails as given up.
            if (tries == 1)
                m_sender.reportNotSent(message, sms.name, sms.number, outcome.reason);
        }
    } catch (const DbError &error) {
        // Sent or not, the outbox cannot say so: nothing more is sent until
        // it can, and this SMS is tried again then.
        OutboxReport::failed(m_pageLog, error.text());
        m_due.clear();
        m_smsCount = 0;
    }
}

void AlertRelay::endCycle()
{
    m_nextSend.stop();
    m_smsCount = 0;
    m_slot = 0;
    m_slotOpen = false;
    m_due.clear();
    purgeOld();
    updateCounts();
    m_cycleRunning = false;
    if (m_stopping) {
        emit finished();
        return;
    }
    if (m_cycleWanted)
        cycleSoon(0);
    else if (m_intake.filesHeldOpen())
        cycleSoon(HeldOpenLookMs); // a writer that closes its file is not notified
}

void AlertRelay::updateCounts()
{
    Outbox::Counts counts;
    try {
        counts = m_outbox.counts(Clock::nowUtc().addSecs(-GivenUpShownSecs));
    } catch (const DbError &) {
        return; // said where the outbox failed
    }
    if (counts.retrying == m_counts.retrying && counts.givenUp == m_counts.givenUp)
        return;
    m_counts = counts;
    emit deliveryChanged(counts.retrying, counts.givenUp);
}

void AlertRelay::purgeOld()
{
    if (m_sincePurge.isValid() && m_sincePurge.elapsed() < PurgeEveryMs)
        return;
    m_sincePurge.start();
    try {
        m_outbox.purgeDone(Clock::nowUtc().addDays(-KeepDoneDays));
    } catch (const DbError &) {
        // Tried again in an hour; nothing waits on it.
    }
}
