#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

// How the bytes of one alert file are text: UTF-8 or UTF-16 when the file
// starts with their byte-order mark, UTF-8 when all its bytes are valid
// UTF-8, and otherwise the alert code page (Windows-1252 unless set
// otherwise), as the robots' terminals write them.
class AlertEncoding
{
public:
    // Looks at the whole file; the device is left at its start.
    static AlertEncoding detect(QIODevice &file, const QString &codePage);

    QString name() const;
    // Bytes of the byte-order mark at the start of the file, to skip.
    int markSize() const { return m_markSize; }
    // Bytes per code unit: 2 in UTF-16, where a CR is two bytes too.
    int unitSize() const { return m_kind == Kind::Utf16LE || m_kind == Kind::Utf16BE ? 2 : 1; }
    // Whether the unit at `bytes` (unitSize() bytes) is a CR, or a LF.
    bool isCr(const char *bytes) const { return isUnit(bytes, '\r'); }
    bool isLf(const char *bytes) const { return isUnit(bytes, '\n'); }
    QString decode(QByteArrayView bytes) const;
    // A field's text as bytes of the file again, as the robot wrote them, for
    // the history files (in UTF-8 for a UTF-16 file).
    QByteArray encode(const QString &text) const;

private:
    enum class Kind { Utf8, Utf16LE, Utf16BE, CodePage };

    bool isUnit(const char *bytes, char c) const;

    Kind m_kind = Kind::Utf8;
    int m_markSize = 0;
    QString m_codePage;
};
