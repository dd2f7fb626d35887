#include "app/CentreOnScreen.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// Lives as a child of the window until it has centred it.
class FirstShow : public QObject
{
public:
    explicit FirstShow(QWidget &window)
        : QObject(&window)
        , m_window(window)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_frame.isValid()) {
            // The native window exists by now, and is not on screen yet: where
            // the platform tells the frame up front (Windows), this is the
            // only move.
            centreOnScreen(m_window);
            m_frame = m_window.frameGeometry().size();
        } else if (event->type() == QEvent::Paint && m_frame.isValid()) {
            // An X11 window manager adds its frame only once the window is
            // mapped; centre again, once, with the frame it has.
            if (m_window.frameGeometry().size() != m_frame)
                centreOnScreen(m_window);
            m_window.removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QWidget &m_window;
    QSize m_frame;
};

} // namespace

void centreOnScreen(QWidget &window)
{
    const QRect available = window.screen()->availableGeometry();
    QRect frame = window.frameGeometry();
    frame.moveCenter(available.center());
    // Larger than the screen: the caption and the menus stay reachable.
    frame.moveLeft(std::max(frame.left(), available.left()));
    frame.moveTop(std::max(frame.top(), available.top()));
    window.move(frame.topLeft());
}

void centreWhenFirstShown(QWidget &window)
{
    new FirstShow(window);
}
