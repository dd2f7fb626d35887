#pragma once

#include "modem/IncomingSms.h"
#include "route/HttpListener.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

// Takes the SMS phones send to the gateway's number: Kannel's smsbox calls
// its sms-service get-url, GatewayIncoming::Path on the delivery report
// listener's address, one GET an SMS (see queryTemplate()). A request counts
// only with the secret set for it (DeskOptions "GatewayIncoming"), so that
// nobody else on the network can put words into a trader's mouth; without a
// secret set every request is refused.
//
// An SMS taken is handed to the keeper, and the gateway hears 200 only once
// the keeper has committed it: any other answer (503) has smsbox try again
// (its http-request-retry) rather than lose it.
class GatewayIncoming : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *Path = "/incoming";
    // How often a refusal is said at most.
    static constexpr qint64 RefusalNoteMs = 60000;

    explicit GatewayIncoming(QObject *parent = nullptr);

    // What a request must carry; empty: every request is refused.
    void setSecret(const QString &secret) { m_secret = secret.toUtf8(); }

    // Commits an SMS and says whether it did; none set: nothing listens and
    // every SMS is answered 503.
    using Keeper = std::function<bool(const IncomingSms &sms)>;
    void setKeeper(Keeper keeper) { m_keeper = std::move(keeper); }

    // The answer to GET Path?QUERY.
    HttpListener::Answer answer(const QByteArray &query);

    // The get-url for kannel.conf's sms-service, from the listener's
    // reportUrl() (its path is replaced): Kannel's escapes for the sender
    // (%p), the text as it came (%b), its coding (%c) and charset (%C) and
    // the SMSC's time (%T). Every '%' of the secret doubled, as Kannel wants.
    static QString queryTemplate(const QUrl &listener, const QString &secret);

signals:
    // A request without the right secret was refused: the page log's line,
    // at most once in RefusalNoteMs.
    void refused(const QString &text);

private:
    bool rightSecret(const QByteArray &given) const;

    QByteArray m_secret;
    Keeper m_keeper;
    QElapsedTimer m_lastNote;
};
