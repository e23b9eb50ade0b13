#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tallybrook {

// One desk per user session. The first launch listens on a local socket; a later one finds it there, asks
// the running desk to come forward and exits. A socket left behind by a desk that crashed answers no one
// and is taken over.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // `name` is the socket's path; tests give each run its own.
    explicit SingleInstance(QString name, QObject *parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // True when this process is the desk; false when a running desk was told to come forward instead.
    // When the socket cannot be made at all the desk runs anyway, unguarded.
    [[nodiscard]] bool claim();

    // The socket in the user's runtime directory, under the application id and the user id.
    [[nodiscard]] static QString defaultName(const QString &applicationId);

Q_SIGNALS:
    // A later launch asked for the desk's window.
    void activationRequested();

private:
    [[nodiscard]] bool tellRunningDesk() const;
    [[nodiscard]] bool listen();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace tallybrook
