#pragma once

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
// /etc/cups are never touched. Queues print with the cups-pdf driver into a file in the folder.
//
// Construct it before the QGuiApplication: it points this process's CUPS clients (Qt's print support among
// them) at the socket, and libcups reads that only once. The scheduler is stopped when it goes away, and also
// dies with the test process should that crash.
class PrivateCups final {
public:
    PrivateCups();
    ~PrivateCups() { stop(); }
    Q_DISABLE_COPY_MOVE(PrivateCups)

    [[nodiscard]] static bool isInstalled();

    // Starts the scheduler and waits until it answers; false with errorText() when it did not come up.
    bool start();
    void stop();

    // A queue with the cups-pdf driver, enabled and accepting jobs. Without custom sizes it offers only the
    // driver's named papers (A4, Letter and so on).
    enum class PageSizes { AnySize, NamedOnly };
    bool addQueue(const QString &name, PageSizes sizes = PageSizes::AnySize);
    // Runs a CUPS command (lpadmin, cupsreject...) against this scheduler; false with errorText() when it
    // failed.
    bool run(const QString &program, const QStringList &arguments);

    // A job's IPP attributes: job-id, job-name, job-state and media.
    using Job = QMap<QString, QString>;
    // Every job the queue has had, oldest first, once all have finished (completed, aborted or cancelled);
    // nothing on time-out.
    [[nodiscard]] std::optional<QList<Job>> finishedJobs(const QString &queue, int timeoutMs = 60'000);

    // What went wrong last, with the tail of the scheduler's log.
    [[nodiscard]] QString errorText() const { return m_error; }

private:
    [[nodiscard]] QString path(const QString &name) const { return m_dir.filePath(name); }
    void fail(const QString &what);

    QTemporaryDir m_dir;
    QString m_socket;
    std::unique_ptr<QProcess> m_scheduler;
    QString m_error;
};

} // namespace tallybrook::testing
