#include "support/TestSender.h"

#include "support/RunUntil.h"

#include <QtTest>

TestSender::TestSender(int timeUnitMs)
    : relay(timeUnitMs, 60, false)
    , pageLog(relay.pageLog())
    , trace(relay.trace())
{
}

void TestSender::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    bool done = false;
    relay.SendAlarm(AlarmMsg, UserName, Ph_No, [&done] { done = true; });
    QVERIFY(runUntil([&done] { return done; }, 60000));
}

void TestSender::usePort(short port)
{
    PortSettings settings = relay.modem().settings();
    settings.port = port;
    relay.modem().setSettings(settings);
}
