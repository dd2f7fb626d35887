#include "admin/frmAbout.h"

#include "store/AppInfo.h"

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About ") + AppInfo::title());
}
