#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QSslSocket;

namespace tbserver {

// Where mail is handed over: "smtp://host[:port]" (STARTTLS, 587 unless given) or "smtps://host[:port]" (TLS
// from the first byte, 465).
struct SmtpEndpoint {
    QString host;
    quint16 port = 587;
    bool implicitTls = false;

    // Empty for anything else: another scheme, no host, a path, or a user name (those go in a file, not in a
    // command line everyone can read).
    [[nodiscard]] static std::optional<SmtpEndpoint> fromUrl(const QString &url);
    [[nodiscard]] QString toUrl() const;
    // Plain text is allowed only to a relay on this machine.
    [[nodiscard]] bool isLoopback() const;
};

struct SmtpSettings {
    SmtpEndpoint endpoint;
    QString user; // no AUTH when empty
    QString password;
    QString caFile; // certificate authorities a private relay's certificate may be signed by, besides the
                    // system's
    int stepTimeoutMs = 60'000;
};

// Reads the user name (first line) and password (second line) into `settings`. The file must be readable by
// its owner only; returns why it cannot be used, or an empty text.
[[nodiscard]] QString readCredentialsFile(const QString &path, SmtpSettings &settings);

// One message over one connection of its own. finished() comes once, always from the event loop (never from
// inside send()); delete the client with deleteLater() after it.
class SmtpClient final : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Sent, TemporaryFailure, PermanentFailure };
    Q_ENUM(Outcome)

    explicit SmtpClient(SmtpSettings settings, QObject *parent = nullptr);
    ~SmtpClient() override;
    Q_DISABLE_COPY_MOVE(SmtpClient)

    // `message` with CRLF line ends as composeMessage writes it; `from` and `to` bare addresses.
    void send(const QString &from, const QString &to, const QByteArray &message);

Q_SIGNALS:
    // `error` names the step and quotes the server's answer.
    void finished(tbserver::SmtpClient::Outcome outcome, const QString &error);

private:
    enum class Step {
        Greeting,
        Ehlo,
        StartTls,
        Handshake,
        AuthPlain,
        AuthLogin,
        AuthUser,
        AuthPassword,
        MailFrom,
        RcptTo,
        Data,
        Message
    };

    void onReadyRead();
    void onReply(int code, const QList<QByteArray> &lines);
    void afterEhlo();
    void mailFrom();
    void command(const QByteArray &line, Step next, const char *name);
    [[nodiscard]] bool offers(QByteArrayView extension) const;
    [[nodiscard]] QByteArray ehloName() const;
    void finish(Outcome outcome, const QString &error);

    SmtpSettings m_settings;
    QSslSocket *m_socket;
    QTimer m_timer;
    Step m_step = Step::Greeting;
    const char *m_stepName = "the greeting";
    QByteArray m_buffer;
    QList<QByteArray> m_replyLines;
    QList<QByteArray> m_extensions;
    QString m_tlsErrors;
    QByteArray m_from;
    QByteArray m_to;
    QByteArray m_message;
    bool m_done = false;
};

} // namespace tbserver
