#include "app/WidgetMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

WidgetMessageBoxes::WidgetMessageBoxes()
{
    install(this);
}

WidgetMessageBoxes::~WidgetMessageBoxes()
{
    install(nullptr);
}

MessageBoxes::Answer WidgetMessageBoxes::show(const QString &text, const QString &title, Buttons buttons,
                                              Icon icon, Answer defaultButton)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Question: box.setIcon(QMessageBox::Question); break;
    case Warning: box.setIcon(QMessageBox::Warning); break;
    case Critical: box.setIcon(QMessageBox::Critical); break;
    case NoIcon: box.setIcon(QMessageBox::NoIcon); break;
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
