#include "mail/SmtpClient.h"

#include "core/PrivateFiles.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <utility>

using namespace Qt::StringLiterals;

namespace tbserver {

namespace {

// What the server sent beyond this is not a mail server talking.
constexpr qsizetype maxReplyBytes = 64 * 1024;
constexpr qsizetype maxReplyLines = 256;

// SMTP knows one line end, CRLF: a bare CR or LF becomes one, and a line starting with a dot gets a second
// dot so it cannot end the message early. The terminating dot line follows.
QByteArray dataPayload(const QByteArray &message) {
    QByteArray out;
    out.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message.at(i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message.at(i + 1) == '\n') {
                ++i;
            }
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') {
            out += '.';
        }
        out += c;
        lineStart = false;
    }
    if (!lineStart) {
        out += "\r\n";
    }
    return out + ".\r\n";
}

// No space, control character or angle bracket can reach the command line from an address.
bool isEnvelopeSafe(const QByteArray &address) {
    return address.contains('@') && std::none_of(address.begin(), address.end(), [](char c) {
               return uchar(c) <= ' ' || uchar(c) == 0x7f || c == '<' || c == '>';
           });
}

bool isAscii(const QByteArray &bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

} // namespace

std::optional<SmtpEndpoint> SmtpEndpoint::fromUrl(const QString &text) {
    const QUrl url(text, QUrl::StrictMode);
    SmtpEndpoint endpoint;
    if (url.scheme() == u"smtps") {
        endpoint.implicitTls = true;
        endpoint.port = 465;
    } else if (url.scheme() != u"smtp") {
        return std::nullopt;
    }
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.port() == 0 ||
        (!url.path().isEmpty() && url.path() != u"/") || url.hasQuery() || url.hasFragment()) {
        return std::nullopt;
    }
    endpoint.host = url.host();
    endpoint.port = quint16(url.port(endpoint.port));
    return endpoint;
}

QString SmtpEndpoint::toUrl() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return (implicitTls ? u"smtps://"_s : u"smtp://"_s) + shownHost + u':' + QString::number(port);
}

bool SmtpEndpoint::isLoopback() const {
    return host.compare(u"localhost", Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

QString readCredentialsFile(const QString &path, SmtpSettings &settings) {
    QByteArray contents;
    if (const QString problem = readOwnerOnlyFile(path, contents); !problem.isEmpty()) {
        return problem;
    }
    const QList<QByteArray> lines = contents.split('\n');
    settings.user = QString::fromUtf8(lines.value(0).trimmed());
    QByteArray password = lines.value(1);
    if (password.endsWith('\r')) {
        password.chop(1);
    }
    settings.password = QString::fromUtf8(password);
    if (settings.user.isEmpty() || settings.password.isEmpty()) {
        return u"%1 must have the user name on its first line and the password on its second"_s.arg(path);
    }
    return {};
}

SmtpClient::SmtpClient(SmtpSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_socket(new QSslSocket(this)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        finish(Outcome::TemporaryFailure,
               u"no answer from %1 within %2 s (%3)"_s.arg(m_settings.endpoint.host)
                   .arg(m_settings.stepTimeoutMs / 1000.0)
                   .arg(QString::fromLatin1(m_stepName)));
    });
    if (!m_settings.caFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(m_settings.caFile));
        m_socket->setSslConfiguration(tls);
    }
    connect(m_socket, &QSslSocket::readyRead, this, &SmtpClient::onReadyRead);
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &error : errors) {
            m_tlsErrors += (m_tlsErrors.isEmpty() ? u""_s : u"; "_s) + error.errorString();
        }
    });
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        if (m_step == Step::Handshake) {
            command("EHLO " + ehloName(), Step::Ehlo, "EHLO");
        }
    });
    connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        const QString reason = m_tlsErrors.isEmpty() ? m_socket->errorString() : m_tlsErrors;
        finish(Outcome::TemporaryFailure,
               u"%1 (%2): %3"_s.arg(m_settings.endpoint.toUrl(), QString::fromLatin1(m_stepName), reason));
    });
}

SmtpClient::~SmtpClient() = default;

void SmtpClient::send(const QString &from, const QString &to, const QByteArray &message) {
    m_from = from.toUtf8();
    m_to = to.toUtf8();
    m_message = message;
    if (!isEnvelopeSafe(m_from) || !isEnvelopeSafe(m_to)) {
        finish(Outcome::PermanentFailure, u"not an address to send to or from: %1 → %2"_s.arg(from, to));
        return;
    }
    m_timer.start(m_settings.stepTimeoutMs);
    if (m_settings.endpoint.implicitTls) {
        m_socket->connectToHostEncrypted(m_settings.endpoint.host, m_settings.endpoint.port);
    } else {
        m_socket->connectToHost(m_settings.endpoint.host, m_settings.endpoint.port);
    }
}

void SmtpClient::onReadyRead() {
    m_buffer += m_socket->readAll();
    qsizetype end = 0;
    while (!m_done && m_step != Step::Handshake && (end = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const bool digits = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                            [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || (line.size() > 3 && line.at(3) != ' ' && line.at(3) != '-')) {
            finish(Outcome::TemporaryFailure,
                   u"%1 does not answer as a mail server: %2"_s.arg(m_settings.endpoint.toUrl(),
                                                                    QString::fromUtf8(line.left(200))));
            return;
        }
        m_replyLines.append(line.mid(4));
        if (line.size() > 3 && line.at(3) == '-') {
            continue;
        }
        const QList<QByteArray> lines = std::exchange(m_replyLines, {});
        onReply(line.left(3).toInt(), lines);
    }
    if (!m_done && (m_buffer.size() > maxReplyBytes || m_replyLines.size() > maxReplyLines)) {
        finish(Outcome::TemporaryFailure,
               u"%1 sent an answer too long to be SMTP"_s.arg(m_settings.endpoint.host));
    }
}

void SmtpClient::onReply(int code, const QList<QByteArray> &lines) {
    static constexpr auto expected = [](Step step) {
        switch (step) {
        case Step::Greeting:
        case Step::StartTls:
            return 220;
        case Step::AuthPlain:
        case Step::AuthPassword:
            return 235;
        case Step::AuthLogin:
        case Step::AuthUser:
            return 334;
        case Step::Data:
            return 354;
        default:
            return 250;
        }
    };
    const bool accepted = code == expected(m_step) || (m_step == Step::RcptTo && code == 251);
    if (!accepted) {
        // Only a recipient refused as such (enhanced status 5.1.x: no such mailbox, bad domain or syntax) is
        // final; any other refusal may be the relay's policy or its bad day, and is worth trying again.
        const bool permanent = m_step == Step::RcptTo && code / 100 == 5 && lines.value(0).startsWith("5.1.");
        finish(permanent ? Outcome::PermanentFailure : Outcome::TemporaryFailure,
               u"%1 refused %2: %3 %4"_s.arg(m_settings.endpoint.host, QString::fromLatin1(m_stepName),
                                             QString::number(code),
                                             QString::fromUtf8(lines.join(' ').left(500))));
        return;
    }
    switch (m_step) {
    case Step::Greeting:
        command("EHLO " + ehloName(), Step::Ehlo, "EHLO");
        break;
    case Step::Ehlo:
        m_extensions.clear();
        for (const QByteArray &line : lines.mid(1)) {
            m_extensions.append(line.trimmed().toUpper());
        }
        afterEhlo();
        break;
    case Step::StartTls:
        // Anything already sent after the go-ahead was sent in plain text and could be an attacker's: the
        // conversation starts over inside TLS instead.
        if (!m_buffer.isEmpty()) {
            finish(Outcome::TemporaryFailure,
                   u"%1 sent data before TLS began"_s.arg(m_settings.endpoint.host));
            return;
        }
        m_step = Step::Handshake;
        m_stepName = "TLS handshake";
        m_socket->startClientEncryption();
        break;
    case Step::AuthLogin:
        command(m_settings.user.toUtf8().toBase64(), Step::AuthUser, "AUTH LOGIN");
        break;
    case Step::AuthUser:
        command(m_settings.password.toUtf8().toBase64(), Step::AuthPassword, "AUTH LOGIN");
        break;
    case Step::AuthPlain:
    case Step::AuthPassword:
        mailFrom();
        break;
    case Step::MailFrom:
        command("RCPT TO:<" + m_to + '>', Step::RcptTo, "RCPT TO");
        break;
    case Step::RcptTo:
        command("DATA", Step::Data, "DATA");
        break;
    case Step::Data:
        m_socket->write(dataPayload(m_message));
        m_step = Step::Message;
        m_stepName = "the message";
        m_timer.start(m_settings.stepTimeoutMs);
        break;
    case Step::Message:
        m_socket->write("QUIT\r\n");
        m_socket->disconnectFromHost();
        finish(Outcome::Sent, {});
        break;
    case Step::Handshake:
        break;
    }
}

void SmtpClient::afterEhlo() {
    if (!m_socket->isEncrypted()) {
        if (offers("STARTTLS")) {
            if (!QSslSocket::supportsSsl()) {
                finish(Outcome::TemporaryFailure, u"TLS is not available on this machine"_s);
                return;
            }
            command("STARTTLS", Step::StartTls, "STARTTLS");
            return;
        }
        // A password or a message in plain text may only stay on this machine.
        if (!m_settings.endpoint.isLoopback()) {
            finish(Outcome::TemporaryFailure,
                   u"%1 does not offer STARTTLS; mail is not sent to it in plain text"_s.arg(
                       m_settings.endpoint.toUrl()));
            return;
        }
    }
    if (m_settings.user.isEmpty()) {
        mailFrom();
        return;
    }
    const auto mechanisms = [this] {
        QList<QByteArray> names;
        for (const QByteArray &line : std::as_const(m_extensions)) {
            if (line.startsWith("AUTH ") || line.startsWith("AUTH=")) {
                names += line.mid(5).split(' ');
            }
        }
        return names;
    }();
    if (mechanisms.contains("PLAIN")) {
        const QByteArray plain = '\0' + m_settings.user.toUtf8() + '\0' + m_settings.password.toUtf8();
        command("AUTH PLAIN " + plain.toBase64(), Step::AuthPlain, "AUTH PLAIN");
    } else if (mechanisms.contains("LOGIN")) {
        command("AUTH LOGIN", Step::AuthLogin, "AUTH LOGIN");
    } else {
        finish(Outcome::TemporaryFailure,
               u"%1 offers neither AUTH PLAIN nor AUTH LOGIN for the user name given"_s.arg(
                   m_settings.endpoint.host));
    }
}

void SmtpClient::mailFrom() {
    QByteArray line = "MAIL FROM:<" + m_from + '>';
    if (!isAscii(m_message) && offers("8BITMIME")) {
        line += " BODY=8BITMIME";
    }
    if (!isAscii(m_from + m_to) && offers("SMTPUTF8")) {
        line += " SMTPUTF8";
    }
    command(line, Step::MailFrom, "MAIL FROM");
}

void SmtpClient::command(const QByteArray &line, Step next, const char *name) {
    m_step = next;
    m_stepName = name;
    m_socket->write(line + "\r\n");
    m_timer.start(m_settings.stepTimeoutMs);
}

bool SmtpClient::offers(QByteArrayView extension) const {
    return std::any_of(m_extensions.begin(), m_extensions.end(), [extension](const QByteArray &line) {
        return line == extension || line.startsWith(QByteArray(extension.toByteArray() + ' '));
    });
}

QByteArray SmtpClient::ehloName() const {
    // A fully qualified name, else this end's address as a literal (RFC 5321 4.1.4).
    const QByteArray host = QSysInfo::machineHostName().toLatin1();
    if (host.contains('.') && std::all_of(host.begin(), host.end(), [](char c) {
            return std::isalnum(uchar(c)) || c == '.' || c == '-';
        })) {
        return host;
    }
    const QHostAddress local = m_socket->localAddress();
    if (local.protocol() == QAbstractSocket::IPv6Protocol) {
        return "[IPv6:" + local.toString().toLatin1() + ']';
    }
    return '[' + local.toString().toLatin1() + ']';
}

void SmtpClient::finish(Outcome outcome, const QString &error) {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timer.stop();
    if (outcome != Outcome::Sent) {
        m_socket->abort();
    }
    QMetaObject::invokeMethod(
        this, [this, outcome, error] { Q_EMIT finished(outcome, error); }, Qt::QueuedConnection);
}

} // namespace tbserver
