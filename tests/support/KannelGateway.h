#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A real Kannel on loopback: bearerbox with a fake SMSC, smsbox with its
// sendsms interface, and Kannel's fakesmsc as the phone network, each a child
// process stopped by its own id. The ports are picked once and kept across
// stop() and start(), and so is bearerbox's store: what it had queued is sent
// after a restart.
//
// What Kannel 1.4.5 does here, found by trying it:
// - sendsms answers 202 "0: Accepted for delivery" while fakesmsc is
//   connected, 202 "3: Queued for later delivery" while it is not, 403
//   "Authorization failed for sendsms" to a wrong user or password, 400
//   "Missing receiver number, rejected" without to=, 400 "Sender missing and
//   no global set, rejected" without from=, and 403 "Not routable. Do not
//   try again." to a receiver no SMSC takes (rejectedPrefix()). With
//   bearerbox down nothing answers: smsbox stops with it and will not start
//   without it, so the connection is refused.
// - Delivery reports: the fake SMSC itself reports 8 (SMSC ack, %A "ACK/")
//   and 1 (delivered) the moment it hands a message to fakesmsc, where the
//   dlr-mask asks for them; a text sent in parts gets one of each, in either
//   order. It never reports 2 (failed) or 4 (buffered), and fakesmsc cannot
//   send a report back: its "dlr-mask" line is a message from the phone. A
//   receiver no SMSC takes gets 16 (SMSC reject, %A "NACK/no SMSC"). While
//   fakesmsc is away (stopSmsc()) nothing is reported; 8 and 1 come when it
//   is back and the message goes out.
// - charset=UTF-8 alone turns Cyrillic into '?'; with coding=2 as well it
//   goes as UCS-2. A long text goes in parts, at most ten here
//   (max-messages); Kannel drops what does not fit.
class KannelGateway
{
public:
    struct Sms {
        QString sender;
        QString receiver;
        QString text;    // decoded as the coding says
        QByteArray data; // the bytes the fake SMSC carried, parts joined
        int coding = 0;  // as sendsms numbers it: 0 text, 1 8-bit, 2 UCS-2; told from the bytes for parts
        int parts = 1;
    };

    KannelGateway();
    ~KannelGateway();
    KannelGateway(const KannelGateway &) = delete;
    KannelGateway &operator=(const KannelGateway &) = delete;

    // Why Kannel cannot run here, or empty where it can.
    static QString unavailableReason();
    // Receivers starting with this have no route.
    static QString rejectedPrefix() { return QStringLiteral("999"); }

    // Before the first start(): smsbox hands each SMS from a phone to this
    // get-url, Kannel's escapes and all, as an sms-service that sends
    // nothing back (max-messages 0); one it did not take is asked again a
    // second later, three times at most.
    void setIncomingUrl(const QString &getUrl) { m_incomingUrl = getUrl; }
    // A phone sends `text` from `sender` to the gateway's number: fakesmsc
    // is started anew with it as its one message (the fake SMSC takes one
    // client at a time), 7-bit where it is ASCII, UCS-2 otherwise. False,
    // with errorString(), where fakesmsc did not come back.
    bool sendFromPhone(const QString &sender, const QString &text);

    // Starts bearerbox, smsbox and fakesmsc and waits until sendsms answers
    // and the SMSC is online. False, with errorString(), where it did not.
    bool start();
    // Stops all three: terminate, then kill. start() brings them back.
    void stop();
    bool isRunning() const;

    // fakesmsc alone: the gateway keeps what it accepts meanwhile.
    bool stopSmsc();
    bool startSmsc();
    bool isSmscOnline() const;

    QString errorString() const { return m_error; }
    QString username() const { return QStringLiteral("vantrel"); }
    QString password() const { return QStringLiteral("relay-test-7"); }
    // http://127.0.0.1:PORT/cgi-bin/sendsms?username=U&password=P
    QUrl sendSmsUrl() const;
    quint16 sendSmsPort() const { return m_sendSmsPort; }
    quint16 adminPort() const { return m_adminPort; }
    quint16 smsboxPort() const { return m_smsboxPort; }
    quint16 smscPort() const { return m_smscPort; }
    QString folder() const { return m_work.path(); }

    // Every message fakesmsc received so far, in the order each was complete.
    QList<Sms> messages() const;
    // Spins the event loop until there are at least `count`.
    bool waitForMessages(qsizetype count, int ms = 10000) const;
    // The last lines of each log, for a failing check to show.
    QString logs() const;

private:
    bool prepare();
    bool startBox(QProcess &process, const QString &program, const QString &name);
    bool fail(const QString &why);
    // fakesmsc with `message` to send once, or none.
    bool runSmsc(const QString &message);

    QTemporaryDir m_work;
    QString m_bearerboxPath;
    QString m_smsboxPath;
    QString m_fakesmscPath;
    quint16 m_adminPort = 0;
    quint16 m_smsboxPort = 0;
    quint16 m_sendSmsPort = 0;
    quint16 m_smscPort = 0;
    QProcess m_bearerbox;
    QProcess m_smsbox;
    QProcess m_fakesmsc;
    QString m_error;
    QString m_incomingUrl;
};
