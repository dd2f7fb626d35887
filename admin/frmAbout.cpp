#include "admin/frmAbout.h"
#include "ui_frmAbout.h"

#include "store/AppInfo.h"

#include <QKeyEvent>

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmAbout>())
{
    ui->setupUi(this);
    // Designer keeps whole points only; the box is laid out for 8.25.
    QFont tahoma = font();
    tahoma.setPointSizeF(8.25);
    setFont(tahoma);
    setFixedSize(size());
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + AppInfo::title());
    // Major and minor only; the revision is not shown.
    ui->lblVersion->setText(QStringLiteral("Version %1.%2").arg(AppInfo::major()).arg(AppInfo::minor()));
    ui->lblTitle->setText(AppInfo::title());
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::keyPressEvent(QKeyEvent *event)
{
    // Esc presses OK too, rather than the dialog's own reject.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
