#pragma once

#include "pickup/AlertEncoding.h"
#include "store/SmsRecord.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

// Cuts the bytes of an alert file into alert lines, piece by piece as they
// are read, so that a huge file costs no more than its longest line. A line
// ends at CR or CR LF; a LF alone belongs to the field. Each line is text in
// the file's encoding.
//
// A line of five or more "|"-separated fields is a record; any other line,
// or one longer than LongestLine characters, is skipped and said why.
class AlertLineReader
{
public:
    static constexpr qsizetype LongestLine = 65536;

    struct Skipped {
        int lineNumber = 0; // counted from where this reader started
        QString why;
        QString shown; // the start of the line
    };

    // `afterCr`: the unit before the first one fed was a CR, so that a LF
    // coming first still belongs to that line's end.
    explicit AlertLineReader(const AlertEncoding &encoding, bool afterCr = false);

    void feed(QByteArrayView bytes);
    // The end of the file: a last line without its CR counts too.
    void finish();

    // Records of the lines completed since the last call.
    QList<TakenAlert> takeRecords();
    QList<Skipped> takeSkipped();
    // Bytes fed up to the end of the last complete line.
    qint64 consumed() const { return m_consumed; }

private:
    qsizetype nextCr(QByteArrayView units, qsizetype from) const;
    void endLine();

    AlertEncoding m_encoding;
    QList<TakenAlert> m_records;
    QList<Skipped> m_skipped;
    QByteArray m_line;
    qint64 m_overflow = 0; // units beyond LongestLine
    QByteArray m_carry;    // the start of a unit split between two pieces
    bool m_afterCr;
    qint64 m_fed = 0; // whole units fed, in bytes
    qint64 m_consumed = 0;
    int m_lineNumber = 0;
};
