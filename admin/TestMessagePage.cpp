#include "admin/TestMessagePage.h"
#include "ui_TestMessagePage.h"

#include "admin/MainLink.h"
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

void TestMessagePage::attach(MainLink &main)
{
    m_main = &main;
    // The trace belongs to the relay, which writes it whether or not this
    // window exists; the list only shows it.
    ui->lstResponse->setModel(&main.trace());
    // The newest line of the dialogue is the one to see.
    connect(&main.trace(), &QAbstractItemModel::rowsInserted, ui->lstResponse, &QListView::scrollToBottom);
}

void TestMessagePage::cmdSend_Click()
{
    ui->cmdSend->setEnabled(false);
    // Number and text go as typed, line breaks included, empty or not.
    const QString message = ui->txtMessage->toPlainText();
    const QString number = ui->txtTestPhNo->text();
    // The send goes after whatever the modem is doing; SEND comes back when
    // it has been tried.
    const QPointer<QPushButton> send = ui->cmdSend;
    m_main->SendAlarm(message, QStringLiteral("TEST"), number, [send] {
        if (send)
            send->setEnabled(true);
    });
}
