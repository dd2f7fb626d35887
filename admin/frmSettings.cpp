#include "admin/frmSettings.h"

#include "admin/MainLink.h"
#include "pickup/AlertRelay.h"

#include <QListView>
#include <QTabWidget>
#include <QVBoxLayout>

frmSettings::frmSettings(MainLink &main, QWidget *parent)
    : QDialog(parent)
    , m_main(main)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("SSTab1"));
    auto *list = new QListView;
    list->setObjectName(QStringLiteral("lstResponse"));
    list->setModel(&m_main.relay().trace);
    tabs->addTab(list, QStringLiteral("Test Message"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    resize(663, 422);
}

frmSettings::~frmSettings()
{
    m_main.setNormalState();
}
