// tallybrook-server: the hosted Auth, REST and website services the desk talks to, on this machine.
#include "DemoSeed.h"
#include "ServerApp.h"
#include "core/PrivateFiles.h"
#include "rest/RestTables.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &byte, 1);
}

// The fixed development key: the desk's default build carries the same one.
constexpr auto developmentKey = "sb_publishable_tallybrook_local_dev_key_000001";

// The website alone, in front of a hosted project: --website-only --backend URL --service-key-file FILE (with
// --publishable-key).
struct WebsiteFlags {
    QCommandLineOption websiteOnly{
        QStringLiteral("website-only"),
        QStringLiteral("Serve only the website (invites, guest pages, manifest, help) for the hosted project "
                       "given by --backend.")};
    QCommandLineOption backend{
        QStringLiteral("backend"),
        QStringLiteral("The hosted project's base URL, https://<project>.supabase.co."),
        QStringLiteral("url")};
    QCommandLineOption serviceKeyFile{
        QStringLiteral("service-key-file"),
        QStringLiteral("File holding the project's service (secret) key, readable by its owner only. The "
                       "website uses it only to show a guest their invite; the local backend accepts it for "
                       "that."),
        QStringLiteral("file")};
    QCommandLineOption publicUrl{
        QStringLiteral("public-url"),
        QStringLiteral(
            "The address people reach this server by (a TLS proxy in front of it), for the links in "
            "emails; by default the address it listens on."),
        QStringLiteral("url")};
    [[nodiscard]] QList<QCommandLineOption> all() const {
        return {websiteOnly, backend, serviceKeyFile, publicUrl};
    }
};

// Reads the website flags into `config`; why they cannot be used, or an empty text.
QString readWebsiteFlags(const QCommandLineParser &parser, const WebsiteFlags &flags,
                         tbserver::ServerConfig &config) {
    if (parser.isSet(flags.serviceKeyFile)) {
        const QString path = parser.value(flags.serviceKeyFile);
        if (const QString problem = tbserver::readOwnerOnlyFile(path, config.serviceKey);
            !problem.isEmpty()) {
            return QStringLiteral("--service-key-file: ") + problem;
        }
        config.serviceKey = config.serviceKey.trimmed();
        if (config.serviceKey.isEmpty() || config.serviceKey.contains('\n')) {
            return QStringLiteral("--service-key-file: %1 must hold the key alone, on one line").arg(path);
        }
    }
    if (parser.isSet(flags.publicUrl)) {
        const QUrl url(parser.value(flags.publicUrl), QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http") || url.host().isEmpty() ||
            url.hasQuery() || url.hasFragment()) {
            return QStringLiteral("--public-url wants an address such as https://desk.example.com");
        }
        config.publicBaseUrl = url.toEncoded(QUrl::StripTrailingSlash);
    }
    if (!parser.isSet(flags.websiteOnly)) {
        return parser.isSet(flags.backend) ? QStringLiteral("--backend needs --website-only") : QString();
    }
    const QUrl backend(parser.value(flags.backend), QUrl::StrictMode);
    if (!backend.isValid() || (backend.scheme() != u"https" && backend.scheme() != u"http") ||
        backend.host().isEmpty() || backend.hasQuery() || backend.hasFragment()) {
        return QStringLiteral("--website-only needs --backend https://<project>.supabase.co");
    }
    if (backend.scheme() == u"http" && !QHostAddress(backend.host()).isLoopback() &&
        backend.host() != u"localhost") {
        return QStringLiteral("--backend must be https:// unless the project runs on this machine");
    }
    if (config.serviceKey.isEmpty()) {
        return QStringLiteral("--website-only needs --service-key-file, for the guests' invite pages");
    }
    config.hostedProject = backend;
    return {};
}

// Mail: without --smtp every email is only written to <data>/outbox.
struct MailFlags {
    QCommandLineOption smtp{
        QStringLiteral("smtp"),
        QStringLiteral(
            "Send email through this server: smtp://host[:port] (STARTTLS, port 587; plain text only "
            "to this machine) or smtps://host[:port] (TLS, port 465)."),
        QStringLiteral("url")};
    QCommandLineOption from{QStringLiteral("smtp-from"),
                            QStringLiteral("The sender of every email: an address or \"Name <address>\"."),
                            QStringLiteral("address"),
                            QStringLiteral("Tallybrook <no-reply@tallybrook.local>")};
    QCommandLineOption credentials{
        QStringLiteral("smtp-credentials"),
        QStringLiteral(
            "File with the SMTP user name on its first line and the password on its second, readable "
            "by its owner only."),
        QStringLiteral("file")};
    QCommandLineOption ca{QStringLiteral("smtp-ca"),
                          QStringLiteral("Certificate authorities (PEM) the mail server's certificate may be "
                                         "signed by, besides the system's."),
                          QStringLiteral("file")};
    [[nodiscard]] QList<QCommandLineOption> all() const { return {smtp, from, credentials, ca}; }
};

std::optional<tbserver::MailAddress> parseSender(const QString &text) {
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*(?:(.*?)\s*<([^<>\s]+@[^<>\s]+)>|([^<>\s"]+@[^<>\s]+))\s*$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    QString name = match.captured(1);
    if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) {
        name = name.mid(1, name.size() - 2);
    }
    return tbserver::MailAddress{name, match.hasCaptured(2) ? match.captured(2) : match.captured(3)};
}

// Reads the mail flags into `mail`; why they cannot be used, or an empty text.
QString readMailFlags(const QCommandLineParser &parser, const MailFlags &flags, tbserver::MailConfig &mail) {
    const std::optional<tbserver::MailAddress> from = parseSender(parser.value(flags.from));
    if (!from) {
        return QStringLiteral("--smtp-from wants an address or \"Name <address>\"");
    }
    mail.from = *from;
    if (!parser.isSet(flags.smtp)) {
        return parser.isSet(flags.credentials) || parser.isSet(flags.ca)
                   ? QStringLiteral("--smtp-credentials and --smtp-ca need --smtp")
                   : QString();
    }
    const std::optional<tbserver::SmtpEndpoint> endpoint =
        tbserver::SmtpEndpoint::fromUrl(parser.value(flags.smtp));
    if (!endpoint) {
        return QStringLiteral("--smtp wants smtp://host[:port] or smtps://host[:port], for example "
                              "smtp://mail.example.com (user name and password go in --smtp-credentials)");
    }
    tbserver::SmtpSettings smtp;
    smtp.endpoint = *endpoint;
    if (parser.isSet(flags.credentials)) {
        if (const QString problem = tbserver::readCredentialsFile(parser.value(flags.credentials), smtp);
            !problem.isEmpty()) {
            return QStringLiteral("--smtp-credentials: ") + problem;
        }
    }
    if (parser.isSet(flags.ca)) {
        smtp.caFile = parser.value(flags.ca);
        if (QSslCertificate::fromPath(smtp.caFile).isEmpty()) {
            return QStringLiteral("--smtp-ca: no PEM certificate in ") + smtp.caFile;
        }
    }
    mail.smtp = smtp;
    return {};
}

QString mailDestination(const tbserver::MailConfig &mail, const QString &outbox) {
    if (!mail.smtp) {
        return QStringLiteral("written to ") + outbox;
    }
    const QString from = mail.from.name.isEmpty()
                             ? mail.from.address
                             : mail.from.name + QStringLiteral(" <") + mail.from.address + u'>';
    return mail.smtp->endpoint.toUrl() + QStringLiteral(" from ") + from;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallybrook-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local backend for the Tallybrook desk."));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port (port 0: any free port)."),
                                    QStringLiteral("host:port"), QStringLiteral("127.0.0.1:54321"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Data folder."),
                                  QStringLiteral("dir"));
    const QCommandLineOption seed(QStringLiteral("seed-demo"),
                                  QStringLiteral("Create the demo account once."));
    const QCommandLineOption confirm(
        QStringLiteral("confirm-emails"),
        QStringLiteral("New accounts must confirm their email before signing in."));
    const QCommandLineOption manifest(QStringLiteral("manifest"),
                                      QStringLiteral("Version manifest to serve."), QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("publishable-key"),
                                 QStringLiteral("The API key clients must send."), QStringLiteral("key"),
                                 QString::fromLatin1(developmentKey));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No log line per request."));
    const QCommandLineOption columns(
        QStringLiteral("print-columns"),
        QStringLiteral(
            "Print the account tables' columns (table, column, json or text, null or not null) and "
            "exit: the hosted project's schema must have the same."));
    const QCommandLineOption backup(
        QStringLiteral("backup"),
        QStringLiteral(
            "Copy the data folder's database into <file> (also while a server runs on it) and exit."),
        QStringLiteral("file"));
    parser.addOptions({listen, data, seed, confirm, manifest, key, quiet, columns, backup});
    const MailFlags mailFlags;
    parser.addOptions(mailFlags.all());
    const WebsiteFlags websiteFlags;
    parser.addOptions(websiteFlags.all());
    parser.process(app);
    if (parser.isSet(columns)) {
        for (const tbserver::RestTable &table : tbserver::restTables()) {
            for (const tbserver::RestColumn &column : table.columns) {
                std::printf("%s %s %s %s\n", table.name.constData(), column.name.constData(),
                            column.type == tbserver::ColumnType::Json ? "json" : "scalar",
                            column.nullable ? "null" : "not-null");
            }
        }
        return 0;
    }

    tbserver::ServerConfig config;
    const QString listenText = parser.value(listen);
    const qsizetype colon = listenText.lastIndexOf(u':');
    bool portOk = false;
    const uint port = listenText.mid(colon + 1).toUInt(&portOk);
    QString host = listenText.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
    }
    config.listenAddress = QHostAddress(host);
    if (colon <= 0 || !portOk || port > 65535 || config.listenAddress.isNull()) {
        std::fprintf(stderr, "tallybrook-server: --listen wants host:port, for example 127.0.0.1:54321\n");
        return 2;
    }
    config.port = quint16(port);
    config.dataDir = parser.isSet(data)
                         ? parser.value(data)
                         : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                               QStringLiteral("/tallybrook-server");
    if (parser.isSet(backup)) {
        try {
            tbserver::backupDatabase(QDir(config.dataDir).filePath(QStringLiteral("tallybrook.sqlite3")),
                                     parser.value(backup));
        } catch (const std::exception &error) {
            std::fprintf(stderr, "tallybrook-server: backup failed: %s\n", error.what());
            return 1;
        }
        std::printf("backup: %s\n", qPrintable(parser.value(backup)));
        return 0;
    }
    config.publishableKey = parser.value(key).toUtf8();
    config.seedDemo = parser.isSet(seed);
    config.confirmEmails = parser.isSet(confirm);
    config.manifestFile = parser.value(manifest);
    config.logRequests = !parser.isSet(quiet);
    if (const QString problem = readMailFlags(parser, mailFlags, config.mail); !problem.isEmpty()) {
        std::fprintf(stderr, "tallybrook-server: %s\n", qPrintable(problem));
        return 2;
    }

    if (const QString problem = readWebsiteFlags(parser, websiteFlags, config); !problem.isEmpty()) {
        std::fprintf(stderr, "tallybrook-server: %s\n", qPrintable(problem));
        return 2;
    }
    if (parser.isSet(websiteFlags.websiteOnly) && config.seedDemo) {
        std::fprintf(stderr, "tallybrook-server: --website-only keeps no accounts, so no --seed-demo\n");
        return 2;
    }

    std::unique_ptr<tbserver::ServerApp> server;
    try {
        server = std::make_unique<tbserver::ServerApp>(config);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tallybrook-server: %s\n", error.what());
        return 1;
    }
    if (!server->listen()) {
        std::fprintf(stderr, "tallybrook-server: cannot listen on %s: %s\n", qPrintable(listenText),
                     qPrintable(server->errorString()));
        return 1;
    }
    const QString hostText = config.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
                                 ? u'[' + config.listenAddress.toString() + u']'
                                 : config.listenAddress.toString();
    const QByteArray base = QStringLiteral("http://%1:%2").arg(hostText).arg(server->port()).toUtf8();
    server->context().setPublicBaseUrl(config.publicBaseUrl.isEmpty() ? base : config.publicBaseUrl);

    if (config.seedDemo) {
        const tbserver::DemoAccount demo = tbserver::seedDemoAccount(server->context());
        std::printf("demo account: %s  password: %s%s\n", qPrintable(demo.email), qPrintable(demo.password),
                    demo.created ? "  (created)" : "  (already there)");
    }
    std::printf("publishable key: %s\n", config.publishableKey.constData());
    std::printf("data: %s\n", qPrintable(config.dataDir));
    if (server->websiteOnly()) {
        std::printf("website only, for the project at %s\n", qPrintable(config.hostedProject.toString()));
    }
    std::printf("mail: %s\n", qPrintable(mailDestination(config.mail, server->outbox().folder())));
    std::printf("listening on %s\n", base.constData());
    std::fflush(stdout);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const int status = QCoreApplication::exec();
    server.reset();
    std::printf("stopped\n");
    return status;
}
