#include "pickup/AlertIntake.h"

#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "pickup/AlertFile.h"
#include "pickup/AlertLineReader.h"
#include "store/DbError.h"
#include "store/MessageBoxes.h"
#include "store/Outbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 ChunkSize = 65536;

// Whether the character before `done` is a CR, so that a LF at `done`
// still belongs to that line's end.
bool endsInCr(QFile &alerts, const AlertEncoding &encoding, qint64 done)
{
    if (done <= encoding.markSize() || !alerts.seek(done - encoding.unitSize()))
        return false;
    const QByteArray before = alerts.read(encoding.unitSize());
    return before.size() == encoding.unitSize() && encoding.isCr(before.constData());
}

} // namespace

AlertIntake::AlertIntake(Outbox &outbox, PageLog &pageLog)
    : m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

void AlertIntake::ProcessSmsFile(const QString &path)
{
    AlertFile::Names names;
    QString reason;
    if (!AlertFile::list(path, names, &reason)) {
        m_pageLog.reportOnce(QStringLiteral("folder:") + path,
                             QStringLiteral("Watched folder %1 cannot be read (%2); its alerts wait until it can.")
                                 .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    if (m_pageLog.clearReport(QStringLiteral("folder:") + path))
        m_pageLog.report(QStringLiteral("Watched folder %1 can be read again.").arg(QDir::toNativeSeparators(path)));
    const QDir folder(path);
    // Files gone by other hands are no longer waited for.
    for (auto it = m_heldOpen.begin(); it != m_heldOpen.end();) {
        if (QFileInfo(it.key()).dir() == folder && !names.takenFiles.contains(QFileInfo(it.key()).fileName()))
            it = m_heldOpen.erase(it);
        else
            ++it;
    }
    for (const QString &taken : std::as_const(names.takenFiles))
        readTaken(path, folder.filePath(taken));
    for (const QString &name : std::as_const(names.alertFiles))
        claim(path, name);
}

void AlertIntake::claim(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QString file = dir.filePath(name);
    Outbox::FileId id;
    bool plainFile = false;
    if (!AlertFile::identify(file, id, plainFile))
        return;
    if (!plainFile) {
        m_pageLog.reportOnce(
            QStringLiteral("special:") + file,
            QStringLiteral("%1 is not a plain file; it is left alone.").arg(QDir::toNativeSeparators(file)));
        return;
    }
    // Without an outbox to put its alerts in, the file stays as the robot
    // left it.
    try {
        m_outbox.open();
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    const QString taken = dir.filePath(AlertFile::newTakenName(folder, name));
    QFile alerts(file);
    if (!alerts.rename(taken)) {
        if (!QFileInfo(folder).isDir()) {
            // The folder went away after its file was seen. Said in a box
            // that waits for nobody: the relay goes on meanwhile.
            MessageBoxes::current().notify(QStringLiteral("File path (") + folder + QStringLiteral(") not found."),
                                           QStringLiteral("File Error"));
        } else if (QFileInfo::exists(file)) {
            m_pageLog.reportOnce(QStringLiteral("claim:") + file,
                                 QStringLiteral("Alert file %1 cannot be taken (%2); its alerts wait until it can.")
                                     .arg(QDir::toNativeSeparators(file), alerts.errorString()));
        }
        return;
    }
    m_pageLog.clearReport(QStringLiteral("claim:") + file);
    readTaken(folder, taken);
}

void AlertIntake::readTaken(const QString &folder, const QString &file)
{
    const QString shownName = QDir::toNativeSeparators(file);
    Outbox::FileId id;
    bool plainFile = false;
    if (!AlertFile::identify(file, id, plainFile))
        return;
    if (!plainFile) {
        m_pageLog.reportOnce(QStringLiteral("special:") + file,
                             QStringLiteral("%1 is not a plain file; it is left alone.").arg(shownName));
        return;
    }
    bool writerDone = true;
    if (!mayRead(file, writerDone))
        return;

    QFile alerts(file);
    if (!alerts.open(QIODevice::ReadOnly)) {
        reportUnreadable(file, alerts.errorString());
        return;
    }
    m_pageLog.clearReport(QStringLiteral("read:") + file);

    qint64 done = 0;
    try {
        done = m_outbox.committedBytes(file, id);
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    if (!readSlice(folder, file, id, alerts, done, writerDone) || !writerDone)
        return;
    alerts.close();

    if (!QFile::remove(file)) {
        m_pageLog.reportOnce(
            QStringLiteral("remove:") + file,
            QStringLiteral("Alert file %1 was read but cannot be removed; it is not read again.").arg(shownName));
        return;
    }
    m_pageLog.clearReport(QStringLiteral("remove:") + file);
    m_encodings.remove(file);
    try {
        m_outbox.forgetFile(file);
    } catch (const DbError &) {
        // The file is gone, and its row names no file any more.
    }
}

AlertEncoding AlertIntake::encodingOf(const QString &file, const Outbox::FileId &id, QFile &alerts)
{
    // Decided once per file, on all its bytes: a file a robot goes on
    // writing keeps the encoding of its start.
    const auto known = m_encodings.constFind(file);
    if (known != m_encodings.cend() && known->first == id)
        return known->second;
    AlertEncoding encoding = AlertEncoding::detect(alerts, m_codePage);
    m_encodings.insert(file, {id, encoding});
    return encoding;
}

bool AlertIntake::mayRead(const QString &file, bool &writerDone)
{
    // A robot still writing its lines finishes them into the taken file;
    // it is read once the robot has closed it, or, should it keep it open
    // for long, line by line as they are complete.
    writerDone = !AlertFile::openForWriting(file);
    if (writerDone) {
        m_heldOpen.remove(file);
        m_pageLog.clearReport(QStringLiteral("writing:") + file);
        return true;
    }
    QElapsedTimer &since = m_heldOpen[file];
    if (!since.isValid())
        since.start();
    if (since.elapsed() >= m_heldOpenMs)
        return true;
    m_pageLog.reportOnce(QStringLiteral("writing:") + file,
                         QStringLiteral("Alert file %1 is still open for writing; its alerts are read when the writer "
                                        "closes it, or in %2 s, line by line.")
                             .arg(QDir::toNativeSeparators(file))
                             .arg(m_heldOpenMs / 1000));
    return false;
}

bool AlertIntake::readSlice(const QString &folder, const QString &file, const Outbox::FileId &id, QFile &alerts,
                            qint64 done, bool writerDone)
{
    const AlertEncoding encoding = encodingOf(file, id, alerts);
    done = qMax<qint64>(done, encoding.markSize());
    // Resuming after a CR: a LF first still belongs to that line's end.
    const bool afterCr = endsInCr(alerts, encoding, done);
    if (!alerts.seek(done))
        return false;

    AlertLineReader reader(encoding, afterCr);
    QList<TakenAlert> records;
    qint64 committed = 0;
    int skipped = 0;
    qint64 left = SliceBytes;
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = alerts.read(buffer.data(), ChunkSize);
        if (got < 0) {
            reportUnreadable(file, alerts.errorString());
            return false;
        }
        const bool atEnd = got == 0;
        // A last line without its line end is complete only when its
        // writer is done with the file.
        if (atEnd && writerDone)
            reader.finish();
        else
            reader.feed(QByteArrayView(buffer.constData(), got));
        left -= got;
        records += reader.takeRecords();
        for (const AlertLineReader::Skipped &line : reader.takeSkipped()) {
            if (++skipped <= ReportedSkips)
                m_pageLog.report(QStringLiteral("Alert line %1 of %2 skipped, %3: %4")
                                     .arg(line.lineNumber)
                                     .arg(QDir::toNativeSeparators(file), line.why, line.shown));
        }

        // A slice ends at a line end: inside one line too long to keep (its
        // start already forgotten) reading goes on to its end.
        const bool sliceDone = atEnd || (left <= 0 && reader.consumed() > committed);
        if (records.size() >= RecordsPerCommit || (sliceDone && reader.consumed() > committed)) {
            if (!commit(folder, file, id, done + reader.consumed(), records))
                return false;
            committed = reader.consumed();
            records.clear();
        }
        if (sliceDone) {
            if (skipped > ReportedSkips)
                m_pageLog.report(QStringLiteral("%1 more alert lines of %2 skipped.")
                                     .arg(skipped - ReportedSkips)
                                     .arg(QDir::toNativeSeparators(file)));
            return atEnd;
        }
    }
}

bool AlertIntake::commit(const QString &folder, const QString &file, const Outbox::FileId &id, qint64 readUpTo,
                         const QList<TakenAlert> &records)
{
    try {
        m_outbox.commitAlerts(folder, file, id, readUpTo, records);
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    OutboxReport::works(m_pageLog);
    if (m_taken && !records.isEmpty())
        m_taken(folder, int(records.size()));
    return true;
}

void AlertIntake::reportUnreadable(const QString &file, const QString &reason)
{
    m_pageLog.reportOnce(QStringLiteral("read:") + file,
                         QStringLiteral("Alert file %1 cannot be read (%2); it stays where it is and is read once "
                                        "it can be.")
                             .arg(QDir::toNativeSeparators(file), reason));
}
