#include "app/WidgetMessageBoxes.h"

#include <QApplication>

WidgetMessageBoxes::WidgetMessageBoxes()
{
    install(this);
}

WidgetMessageBoxes::~WidgetMessageBoxes()
{
    install(nullptr);
}

MessageBoxes::Answer WidgetMessageBoxes::show(const QString &text, const QString &title, Buttons buttons, Icon icon,
                                              Answer defaultButton)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case NoIcon:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if (buttons == YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultButton == No ? QMessageBox::No : QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Yes : No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Ok;
}

bool WidgetMessageBoxes::notify(const QString &text, const QString &title)
{
    if (m_notice)
        return false;
    // No parent and no modality: nothing waits for it, nothing is blocked by it.
    m_notice = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    m_notice->setAttribute(Qt::WA_DeleteOnClose);
    m_notice->setWindowModality(Qt::NonModal);
    m_notice->show();
    return true;
}
