#include "modem/ModemTest.h"

#include "modem/LineHolder.h"
#include "store/MSComm.h"
#include "store/UpdateCom.h"

#include <QScopeGuard>

ModemTest::ModemTest(MSComm &port, QObject *parent)
    : QObject(parent)
    , MSComm1(port)
{
    connect(&MSComm1, &MSComm::OnComm, this, &ModemTest::MSComm1_OnComm);
}

bool ModemTest::AskModem(LineHolder &line, short portNumber)
{
    // No alert send may start on the port while the test has it. A send
    // already under way keeps the port, and opening it here reports that.
    line.holdLine();
    const auto release = qScopeGuard([&line] { line.releaseLine(); });
    // The port never stays open after a test, whatever its outcome: the
    // main window's next send would find it taken.
    const auto close = qScopeGuard([this] {
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
    });

    UpdateCom::OpenModemPort(MSComm1, portNumber);
    ModemReplied = false;
    MSComm1.output(QStringLiteral("AT+GSN") + QChar(13));
    UpdateCom::Delay(300);
    return ModemReplied;
}

void ModemTest::MSComm1_OnComm()
{
    if (MSComm1.commEvent() != MSComm::comEvReceive)
        return;
    // Each arrival is searched on its own; an answer later than the test's
    // wait finds the port closed and counts for nothing.
    if (MSComm1.input().contains(QLatin1String("OK"))) {
        ModemReplied = true;
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
    }
}
