#pragma once

#include "pickup/AlertEncoding.h"
#include "store/CodePage.h"
#include "store/Outbox.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>

class PageLog;
class QFile;

// Takes the alert files of the watched folders into the outbox. A file is
// claimed by renaming it, read, its alerts committed to the outbox together
// with how far it was read, and only then removed; so an alert is never lost
// and, the outbox knowing how far each taken file went, never taken twice.
// A file that cannot be read or removed, or a journal that cannot be
// written, leaves the file where it is, said once in the page log. Only
// plain files are taken: nothing named like an alert file can block the
// program. Each file is claimed on its own, so one robot still writing its
// file never holds up another's.
class AlertIntake
{
public:
    // Read from one file in one cycle; a longer file goes on in the next.
    static constexpr qint64 SliceBytes = 4 * 1024 * 1024;
    static constexpr int RecordsPerCommit = 1000;
    // Skipped lines reported per file; a file of garbage gets a count after.
    static constexpr int ReportedSkips = 20;
    // A file its writer holds open longer than this has its complete lines
    // taken; what the writer adds later is taken later.
    static constexpr int HeldOpenMs = 30000;

    AlertIntake(Outbox &outbox, PageLog &pageLog);

    // Takes the alert files of one watched folder: files taken before and
    // not yet read to their end first, then a new Sms.csv.
    void ProcessSmsFile(const QString &path);

    // Files whose writer still holds them open; the relay looks at them
    // again soon rather than at the next tick.
    bool filesHeldOpen() const { return !m_heldOpen.isEmpty(); }
    void setHeldOpenMs(int ms) { m_heldOpenMs = ms; }
    // The code page of alert files that are neither UTF-8 nor UTF-16.
    void setCodePage(const QString &name) { m_codePage = name; }
    // Told of the alerts of a folder each time they are in the outbox.
    void onTaken(std::function<void(const QString &folder, int alerts)> taken) { m_taken = std::move(taken); }

private:
    void claim(const QString &folder, const QString &name);
    void readTaken(const QString &folder, const QString &file);
    // Reads on from `done`, committing as it goes; true at the file's end.
    bool readSlice(const QString &folder, const QString &file, const Outbox::FileId &id, QFile &alerts, qint64 done,
                   bool writerDone);
    // Commits the records read up to `readUpTo`; false, reported, when the
    // outbox cannot be written.
    bool commit(const QString &folder, const QString &file, const Outbox::FileId &id, qint64 readUpTo,
                const QList<TakenAlert> &records);
    // Whether the writer of a taken file is done with it, or has held it
    // open so long that its complete lines are taken meanwhile; false while
    // it waits.
    bool mayRead(const QString &file, bool &writerDone);
    AlertEncoding encodingOf(const QString &file, const Outbox::FileId &id, QFile &alerts);
    void reportUnreadable(const QString &file, const QString &reason);

    Outbox &m_outbox;
    PageLog &m_pageLog;
    // Since when each taken file has been seen held open by its writer.
    QHash<QString, QElapsedTimer> m_heldOpen;
    int m_heldOpenMs = HeldOpenMs;
    QString m_codePage = QString::fromLatin1(CodePage::Default);
    QHash<QString, std::pair<Outbox::FileId, AlertEncoding>> m_encodings;
    std::function<void(const QString &, int)> m_taken;
};
