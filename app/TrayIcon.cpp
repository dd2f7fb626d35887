#include "app/TrayIcon.h"

#include "app/AppIcon.h"

#include "store/AppInfo.h"

#include <QSystemTrayIcon>

TrayIcon::TrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent)
    , m_icon(new QSystemTrayIcon(icon, this))
    , m_normal(icon)
{
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            mouseMessage(LeftDoubleClick);
        else if (reason == QSystemTrayIcon::Context)
            mouseMessage(RightButtonUp);
    });
}

TrayIcon::~TrayIcon()
{
    remove();
}

bool TrayIcon::desktopHasTray()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::add(const QString &tip)
{
    if (m_registered && (m_icon->isVisible() || !desktopHasTray()))
        return;
    m_tip = tip;
    m_icon->setToolTip(tip);
    if (desktopHasTray())
        m_icon->show();
    m_registered = true;
}

void TrayIcon::ShowTrayIcon()
{
    add(AppInfo::exeName());
}

void TrayIcon::remove()
{
    if (!m_registered)
        return;
    m_icon->hide();
    m_registered = false;
}

void TrayIcon::setTip(const QString &tip)
{
    m_tip = tip;
    m_icon->setToolTip(tip);
}

void TrayIcon::showBalloon(const QString &title, const QString &text)
{
    if (m_registered && m_icon->isVisible())
        m_icon->showMessage(title, text, QSystemTrayIcon::Warning);
}

void TrayIcon::mouseMessage(int message)
{
    if (message == LeftDoubleClick)
        emit restoreRequested();
    else if (message == RightButtonUp)
        emit menuRequested();
}

void TrayIcon::setAlarm(bool on)
{
    if (on == m_alarm)
        return;
    m_alarm = on;
    m_icon->setIcon(on ? alarmIcon() : m_normal);
}
