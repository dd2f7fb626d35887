#include "pickup/SmsIntake.h"

#include "modem/PageLog.h"
#include "pickup/AlertFile.h"
#include "pickup/MT4Paths.h"
#include "store/MessageBoxes.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr int ShownLineLength = 200;
// No alert line comes near this; a longer one is a robot gone wrong, and
// only this much of it is kept while the rest is counted.
constexpr qsizetype LongestLine = 65536;
// Reports of skipped lines per file; a file of garbage gets a count after.
constexpr int ReportedSkips = 20;
constexpr qint64 ChunkSize = 65536;

QString shown(const QString &line, bool cut)
{
    QString text = line.left(ShownLineLength);
    if (cut || line.size() > ShownLineLength)
        text += QStringLiteral("...");
    return text;
}

} // namespace

SmsIntake::SmsIntake(PageLog &pageLog)
    : m_pageLog(pageLog)
{
}

void SmsIntake::beginCycle()
{
    while (SmsCount < BatchSize && !SmsQueue.isEmpty())
        SmsBatch[++SmsCount] = SmsQueue.dequeue();
}

void SmsIntake::add(const SmsRecord &record)
{
    if (SmsCount < BatchSize && SmsQueue.isEmpty())
        SmsBatch[++SmsCount] = record;
    else
        SmsQueue.enqueue(record);
}

void SmsIntake::ProcessSmsFile(const QString &path)
{
    QFile file(AlertFile::takenName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo(path).isDir())
            MsgBox(QStringLiteral("File path (") + path + QStringLiteral(") not found."), MessageBoxes::OkOnly,
                   QStringLiteral("File Error"));
        return;
    }
    readLines(MT4Paths::alertFile(path), file);
}

void SmsIntake::readLines(const QString &name, QFile &file)
{
    // A line ends at CR or CR LF; a LF alone belongs to the field. The file
    // is read in pieces, so that a huge one costs no more than its longest
    // line. One byte per character: the robot's code page reaches the modem
    // as it is.
    int lineNumber = 0;
    int skipped = 0;
    QString line;
    qint64 overflow = 0;
    bool afterCr = false;

    const auto endLine = [&] {
        ++lineNumber;
        if (line.isEmpty() && overflow == 0)
            return;
        QString why;
        QStringList pieces;
        if (overflow > 0) {
            why = QStringLiteral("it is longer than %1 characters").arg(LongestLine);
        } else {
            pieces = SplitText(line, QStringLiteral("|"));
            if (pieces.size() < 5)
                why = QStringLiteral("it has fewer than five fields");
        }
        if (why.isEmpty()) {
            add({pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]});
        } else if (++skipped <= ReportedSkips) {
            m_pageLog.report(QStringLiteral("Alert line %1 of %2 skipped, %3: %4")
                                 .arg(lineNumber)
                                 .arg(name, why, shown(line, overflow > 0)));
        }
        line.clear();
        overflow = 0;
    };

    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), ChunkSize);
        if (got <= 0)
            break;
        const QByteArrayView chunk(buffer.constData(), got);
        qsizetype start = 0;
        if (afterCr && chunk.startsWith('\n'))
            start = 1;
        afterCr = false;
        while (start < chunk.size()) {
            qsizetype end = chunk.indexOf('\r', start);
            const qsizetype stop = end < 0 ? chunk.size() : end;
            const qsizetype room = qMax<qsizetype>(0, LongestLine - line.size());
            line += QString::fromLatin1(chunk.constData() + start, qMin(room, stop - start));
            overflow += qMax<qsizetype>(0, stop - start - room);
            if (end < 0)
                break;
            endLine();
            start = end + 1;
            if (start == chunk.size())
                afterCr = true;
            else if (chunk[start] == '\n')
                ++start;
        }
    }
    if (!line.isEmpty() || overflow > 0)
        endLine();
    if (skipped > ReportedSkips)
        m_pageLog.report(QStringLiteral("%1 more alert lines of %2 skipped.").arg(skipped - ReportedSkips).arg(name));
}
