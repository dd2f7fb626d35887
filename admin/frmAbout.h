#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmAbout;
}

// The About box: the program's title, its version and what it is for.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();

    std::unique_ptr<Ui::frmAbout> ui;
};
