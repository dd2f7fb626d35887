// The "Test Message" page: one SMS to any number through the very send
// that alerts use, its dialogue traced in the Response list.

#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/MainLink.h"

#include <QPointer>

void frmSettings::cmdSend_Click()
{
    const Waiting waiting(*this);
    ui->cmdSend->setEnabled(false);
    // Number and text go as typed, line breaks included, empty or not.
    const QString message = ui->txtMessage->toPlainText();
    const QString number = ui->txtTestPhNo->text();
    // While another dialogue is under way the send waits for it, so SEND
    // comes back when the send has run, not when this handler returns.
    const QPointer<QPushButton> send = ui->cmdSend;
    m_main.SendAlarm(message, QStringLiteral("TEST"), number, [send] {
        if (send)
            send->setEnabled(true);
    });
}
