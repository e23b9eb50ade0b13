#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <unistd.h>

namespace tallybrook {

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcInstance, "tallybrook.instance")

namespace {

// A live desk accepts at once (the kernel queues the connection even while its event loop is busy); this
// only bounds a wait that should never happen.
constexpr int connectTimeoutMs = 1000;

} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent) : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName(const QString &applicationId) {
    // The runtime directory is the user's own; the user id in the name keeps users apart even where it is
    // not (Qt falls back to a shared temporary directory without XDG_RUNTIME_DIR).
    const QString file = applicationId + u'-' + QString::number(::getuid()) + u".socket"_s;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? file : QDir(runtime).filePath(file);
}

bool SingleInstance::claim() {
    if (tellRunningDesk()) {
        return false;
    }
    if (listen()) {
        return true;
    }
    // The name is taken: by a desk that started a moment ago, or by the socket of one that crashed.
    if (tellRunningDesk()) {
        return false;
    }
    QLocalServer::removeServer(m_name);
    if (!listen()) {
        qCWarning(lcInstance) << "cannot listen on" << m_name << ":" << m_server->errorString();
    }
    return true;
}

bool SingleInstance::tellRunningDesk() const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        return false;
    }
    // The connection itself is the request.
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen() {
    delete m_server;
    m_server = new QLocalServer(this);
    // No access options: with them Qt binds elsewhere and renames over the path, which would silently take
    // the name from a desk that is running. The runtime directory is the user's alone anyway.
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            socket->deleteLater();
            Q_EMIT activationRequested();
        }
    });
    return m_server->listen(m_name);
}

} // namespace tallybrook
