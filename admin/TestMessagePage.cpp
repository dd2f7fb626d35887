#include "admin/TestMessagePage.h"
#include "ui_TestMessagePage.h"

#include "admin/MainLink.h"
#include "admin/WaitingHandlers.h"
#include "modem/TraceList.h"

#include <QPointer>

TestMessagePage::TestMessagePage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TestMessagePage>())
{
    ui->setupUi(this);
    connect(ui->cmdSend, &QPushButton::clicked, this, &TestMessagePage::cmdSend_Click);
}

TestMessagePage::~TestMessagePage() = default;

void TestMessagePage::attach(MainLink &main, WaitingHandlers &waits)
{
    m_main = &main;
    m_waits = &waits;
    // The trace belongs to the relay, which writes it whether or not this
    // window exists; the list only shows it.
    ui->lstResponse->setModel(&main.trace());
    // The newest line of the dialogue is the one to see.
    connect(&main.trace(), &QAbstractItemModel::rowsInserted, ui->lstResponse, &QListView::scrollToBottom);
}

void TestMessagePage::cmdSend_Click()
{
    const auto waiting = m_waits->enter();
    ui->cmdSend->setEnabled(false);
    // Number and text go as typed, line breaks included, empty or not.
    const QString message = ui->txtMessage->toPlainText();
    const QString number = ui->txtTestPhNo->text();
    // While another dialogue is under way the send waits for it, so SEND
    // comes back when the send has run, not when this handler returns.
    const QPointer<QPushButton> send = ui->cmdSend;
    m_main->SendAlarm(message, QStringLiteral("TEST"), number, [send] {
        if (send)
            send->setEnabled(true);
    });
}
