#include "pickup/SmsIntake.h"

#include "modem/PageLog.h"
#include "pickup/AlertFile.h"
#include "pickup/MT4Paths.h"
#include "store/MessageBoxes.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr int ShownLineLength = 200;

// Reads the whole file, and whatever a writer added while it was read.
QByteArray readAll(QFile &file)
{
    QByteArray bytes = file.readAll();
    while (file.size() > bytes.size()) {
        const QByteArray more = file.readAll();
        if (more.isEmpty())
            break;
        bytes += more;
    }
    return bytes;
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
    // One byte per character: the robot's code page reaches the modem as it is.
    readLines(MT4Paths::alertFile(path), QString::fromLatin1(readAll(file)));
}

void SmsIntake::readLines(const QString &file, const QString &text)
{
    // A line ends at CR or CR LF; a LF alone belongs to the field.
    int lineNumber = 0;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = text.indexOf(QLatin1Char('\r'), start);
        if (end < 0)
            end = size;
        const QString line = text.mid(start, end - start);
        start = end + 1;
        if (start < size && text[start] == QLatin1Char('\n'))
            ++start;
        ++lineNumber;

        if (line.isEmpty())
            continue;
        const QStringList pieces = SplitText(line, QStringLiteral("|"));
        if (pieces.size() < 5) {
            QString shown = line.left(ShownLineLength);
            if (line.size() > ShownLineLength)
                shown += QStringLiteral("...");
            m_pageLog.report(QStringLiteral("Alert line %1 of %2 skipped, it has fewer than five fields: %3")
                                 .arg(lineNumber)
                                 .arg(file, shown));
            continue;
        }
        add({pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]});
    }
}
