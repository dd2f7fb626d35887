#include "app/PageLogView.h"

#include "modem/PageLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

PageLogView::PageLogView(const PageLog &log, QPlainTextEdit &box)
    : QObject(&box)
    , m_box(box)
{
    // The newest lines of the page log, as many as it keeps; the daily
    // files have them all.
    box.setMaximumBlockCount(PageLog::KeptLines / LinesPerParagraph);
    connect(&log, &PageLog::appended, this, &PageLogView::append);
}

void PageLogView::append(const QString &text)
{
    // CR LF, CR and LF each end a line, as the text box would take them.
    QString piece;
    piece.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            piece += c;
            continue;
        }
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        if (++m_linesInParagraph == LinesPerParagraph) {
            m_linesInParagraph = 0;
            piece += QChar::ParagraphSeparator;
        } else {
            piece += QChar::LineSeparator;
        }
    }

    // A reader who scrolled back keeps his place; otherwise the box follows
    // the newest line.
    QScrollBar *bar = m_box.verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(m_box.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(piece);
    if (atEnd)
        bar->setValue(bar->maximum());
}
