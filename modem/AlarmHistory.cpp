#include "modem/AlarmHistory.h"

#include "store/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>

QString AlarmHistory::fileName(int n)
{
    return QStringLiteral("ALARM%1.csv").arg(n);
}

void AlarmHistory::AlarmLog(const QByteArray &AlarmRecord)
{
    // The newest file is the highest number present; search downwards.
    QString name = fileName(1);
    for (int n = FileCount; n >= 1; --n) {
        const QFileInfo info(ProgramFolder::file(fileName(n)));
        if (!info.exists())
            continue;
        name = fileName(n);
        if (info.size() > FullAbove) {
            if (n == FileCount) {
                FirstInFirstOut();
                m_label4 = QStringLiteral("Deleting one.");
            } else {
                name = fileName(n + 1);
                m_label4 = QStringLiteral("Deleting None.");
            }
        }
        break;
    }
    m_label3 = name;
    emit labelsChanged();
    WriteDATA(name, AlarmRecord);
}

void AlarmHistory::FirstInFirstOut()
{
    const QString oldest = ProgramFolder::file(fileName(1));
    if (QFileInfo::exists(oldest) && !QFile::remove(oldest))
        throw Failure(QStringLiteral("cannot delete %1").arg(oldest).toStdString());
    for (int n = 2; n <= FileCount; ++n) {
        const QString from = ProgramFolder::file(fileName(n));
        const QString to = ProgramFolder::file(fileName(n - 1));
        // A target that exists was put there by hand: leave both alone.
        if (!QFileInfo::exists(from) || QFileInfo::exists(to))
            continue;
        if (!QFile::rename(from, to))
            throw Failure(QStringLiteral("cannot rename %1 to %2").arg(from, to).toStdString());
    }
}

void AlarmHistory::WriteDATA(const QString &F, const QByteArray &AlarmRecord)
{
    QFile file(ProgramFolder::file(F));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw Failure(QStringLiteral("cannot open %1: %2").arg(file.fileName(), file.errorString()).toStdString());
    const QByteArray line = AlarmRecord + "\r\n";
    if (file.write(line) != line.size() || !file.flush())
        throw Failure(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()).toStdString());
}
