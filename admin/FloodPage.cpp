#include "admin/FloodPage.h"
#include "ui_FloodPage.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "store/FloodOptions.h"

FloodPage::FloodPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::FloodPage>())
{
    ui->setupUi(this);
    connect(ui->cmdFloodOK, &QPushButton::clicked, this, &FloodPage::cmdFloodOK_Click);
    connect(ui->cmdFloodCancel, &QPushButton::clicked, this, [this] { window()->hide(); });
}

FloodPage::~FloodPage() = default;

void FloodPage::attach(MainLink &main)
{
    m_main = &main;
}

void FloodPage::showFloodOptions()
{
    ui->spnCollapse->setValue(FloodOptions::collapseMinutes());
    const FloodOptions::Pace pace = FloodOptions::pace();
    ui->spnPaceCount->setValue(pace.count);
    ui->spnPaceMinutes->setValue(pace.minutes);
}

void FloodPage::cmdFloodOK_Click()
{
    DbOperation([this] {
        FloodOptions::storeCollapse(ui->spnCollapse->value());
        // Either box at 0 turns the pace off.
        const FloodOptions::Pace pace{ui->spnPaceCount->value(), ui->spnPaceMinutes->value()};
        FloodOptions::storePace(pace.on() ? pace : FloodOptions::Pace{});
        m_main->floodOptionsChanged();
    });
    showFloodOptions();
}
