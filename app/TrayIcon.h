#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the notification area. Mouse events arrive as the
// mouse message numbers the program has always acted on: 515 (left double
// click) restores the main window, 517 (right button released) opens the
// pop-up menu, anything else does nothing.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    static constexpr int IconId = 1;
    static constexpr int LeftDoubleClick = 515;
    static constexpr int RightButtonUp = 517;

    TrayIcon(const QIcon &icon, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Adds the icon with the tip; an icon already present keeps its tip.
    void add(const QString &tip);
    // Puts the icon back, with the program file's name as tip, if it went away.
    void ShowTrayIcon();
    void remove();
    // The tip of an icon in place: how the relay stands.
    void setTip(const QString &tip);
    // A message from the icon that goes away by itself.
    void showBalloon(const QString &title, const QString &text);
    // The icon's alarm look, or its normal one.
    void setAlarm(bool on);
    bool alarm() const { return m_alarm; }

    bool isRegistered() const { return m_registered; }
    QString tip() const { return m_tip; }
    // Whether this desktop has a notification area at all.
    static bool desktopHasTray();

    void mouseMessage(int message);

signals:
    void restoreRequested();
    void menuRequested();

private:
    QSystemTrayIcon *m_icon;
    QIcon m_normal;
    bool m_alarm = false;
    bool m_registered = false;
    QString m_tip;
};
