#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

// A mail server for tests on a port of its own: it keeps what it is given, and can refuse, hang or offer
// STARTTLS (with the certificate caCertificatePem() signs) on request.
class SmtpSink final : public QTcpServer {
    Q_OBJECT
public:
    struct Message {
        QByteArray from;
        QByteArray to;
        QByteArray data; // dot-stuffing undone, through the last CRLF before the final dot
        QByteArray user; // from AUTH PLAIN
        bool tls = false;
    };

    using QTcpServer::QTcpServer;

    // The answer to "MAIL", "RCPT" or "DATA" (the message's end), the first `refusals` times (-1: every
    // time).
    QByteArray refuseStep;
    QByteArray refusal;
    int refusals = 0;
    int refused = 0;
    bool offerStartTls = false;
    bool implicitTls = false; // smtps
    // The first n messages taken get no answer at all, as if the sink hung after taking them.
    int hangsAfterData = 0;
    int mailCommands = 0;
    QList<Message> received;

    [[nodiscard]] static QByteArray caCertificatePem();

protected:
    void incomingConnection(qintptr descriptor) override;
};
