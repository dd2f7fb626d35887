#include "admin/ReplyPage.h"
#include "ui_ReplyPage.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "store/ReplyOptions.h"

ReplyPage::ReplyPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ReplyPage>())
{
    ui->setupUi(this);
    connect(ui->cmdRepliesOK, &QPushButton::clicked, this, &ReplyPage::cmdRepliesOK_Click);
    connect(ui->cmdRepliesCancel, &QPushButton::clicked, this, [this] { window()->hide(); });
    connect(ui->chkReplies, &QCheckBox::toggled, this, &ReplyPage::enableEscalation);
}

ReplyPage::~ReplyPage() = default;

void ReplyPage::attach(MainLink &main)
{
    m_main = &main;
}

void ReplyPage::showReplyOptions()
{
    DbOperation([this] {
        ui->chkReplies->setChecked(ReplyOptions::replies());
        ui->spnEscalate->setValue(ReplyOptions::escalateMinutes());
        ui->txtEscalation->setText(ReplyOptions::escalation().join(QStringLiteral(", ")));
    });
    ui->lblReplyProblem->clear();
    enableEscalation();
}

void ReplyPage::enableEscalation()
{
    // Without replies nothing can be acknowledged, so nothing escalates.
    const bool on = ui->chkReplies->isChecked();
    ui->spnEscalate->setEnabled(on);
    ui->txtEscalation->setEnabled(on);
}

void ReplyPage::cmdRepliesOK_Click()
{
    const QStringList names = ReplyOptions::parseNames(ui->txtEscalation->text());
    bool stored = false;
    DbOperation([&] {
        const QStringList unknown = ReplyOptions::unknownUsers(names);
        if (!unknown.isEmpty()) {
            ui->lblReplyProblem->setText(tr("No user is named \"%1\".").arg(unknown.join(QStringLiteral("\", \""))));
            return;
        }
        const bool on = ui->chkReplies->isChecked();
        ReplyOptions::storeReplies(on);
        ReplyOptions::storeEscalate(on ? ui->spnEscalate->value() : 0);
        ReplyOptions::storeEscalation(names);
        m_main->replyOptionsChanged();
        stored = true;
    });
    if (stored)
        showReplyOptions();
}
