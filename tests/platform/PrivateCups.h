#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace tallybrook::testing {

// A CUPS scheduler of the test's own: /usr/sbin/cupsd in the foreground, with its configuration, spool, state
// and logs in a temporary folder and a Unix socket there as its only address. The machine's own CUPS and
// /etc/cups are never touched. Queues print with the cups-pdf driver to a file in the folder, and every job's
// document is kept in the spool, so a test can read what was printed.
//
// Construct it before the QGuiApplication: it points this process's CUPS clients (Qt's print support among
// them) at the socket, and libcups reads that only once. Everything it starts is stopped when it goes away,
// and the scheduler also dies with the test process should that crash.
class PrivateCups final {
public:
    PrivateCups();
    ~PrivateCups();
    Q_DISABLE_COPY_MOVE(PrivateCups)

    // Whether there is a scheduler to run at all.
    [[nodiscard]] static bool isInstalled();
    [[nodiscard]] static QString scheduler() { return QStringLiteral("/usr/sbin/cupsd"); }

    // Starts the scheduler and waits until it answers; false with errorText() when it did not come up.
    bool start();
    void stop();

    // A queue with the cups-pdf driver that prints into outputFile(name), enabled and accepting jobs. Without
    // custom sizes it offers only the driver's named papers (A4, Letter and so on).
    enum class PageSizes { AnySize, NamedOnly };
    bool addQueue(const QString &name, PageSizes sizes = PageSizes::AnySize);
    bool setDefaultQueue(const QString &name);
    bool rejectJobs(const QString &name);

    struct Job {
        int id = 0;
        QMap<QString, QString> attributes; // IPP job attributes as ipptool shows them
        [[nodiscard]] QString attribute(const QString &name) const { return attributes.value(name); }
    };
    // Every job of the queue, the finished ones included, oldest first.
    [[nodiscard]] QList<Job> jobs(const QString &queue);
    // Waits until the job has left the queue (completed, aborted or cancelled) and returns its attributes.
    [[nodiscard]] std::optional<Job> waitForFinishedJob(const QString &queue, int id, int timeoutMs = 60'000);
    // The document the job brought, as the scheduler keeps it.
    [[nodiscard]] QString spooledDocument(int id) const;
    [[nodiscard]] QString outputFile(const QString &queue) const;

    [[nodiscard]] QString socketPath() const { return m_socket; }
    [[nodiscard]] QString folder() const { return m_dir.path(); }
    // What went wrong last, with the tail of the scheduler's log.
    [[nodiscard]] QString errorText() const { return m_error; }

    // Runs a command to its end (bounded), killing it on time-out; its output lands in `output`.
    bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
             int timeoutMs = 30'000);

private:
    [[nodiscard]] QString path(const QString &name) const { return m_dir.filePath(name); }
    [[nodiscard]] QString printerUri(const QString &queue) const;
    bool writeConfiguration();
    void fail(const QString &what);
    [[nodiscard]] std::optional<QMap<QString, QString>> jobAttributes(const QString &queue, int id);

    QTemporaryDir m_dir;
    QString m_socket;
    std::unique_ptr<QProcess> m_scheduler;
    QByteArray m_schedulerOutput;
    QString m_error;
};

} // namespace tallybrook::testing
