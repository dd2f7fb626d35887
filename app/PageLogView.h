#pragma once

#include <QObject>

class PageLog;
class QPlainTextEdit;
class QString;

// Shows the page log in its text box, piece by piece as the relay appends,
// its newest lines only: as many as the page log keeps in memory.
//
// The text box spends about 600 bytes on every paragraph it holds and next to
// nothing on a line break inside a paragraph. So its lines are joined by line
// breaks and a new paragraph starts every LinesPerParagraph lines: the box
// looks and copies the same, and holds the log in about a fifth of the
// memory. Appending only lays out the last paragraph, so it costs the same
// however long the log grows.
class PageLogView : public QObject
{
    Q_OBJECT

public:
    static constexpr int LinesPerParagraph = 16;

    PageLogView(const PageLog &log, QPlainTextEdit &box);

private:
    void append(const QString &text);

    QPlainTextEdit &m_box;
    int m_linesInParagraph = 0;
};
