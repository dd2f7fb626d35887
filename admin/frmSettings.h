#pragma once

#include <QDialog>

class MainLink;

// The Settings window (first cut: hosts the Response list).
class frmSettings : public QDialog
{
    Q_OBJECT

public:
    frmSettings(MainLink &main, QWidget *parent = nullptr);
    ~frmSettings() override;

private:
    MainLink &m_main;
};
