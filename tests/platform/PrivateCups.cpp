#include "PrivateCups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

const QString scheduler = u"/usr/sbin/cupsd"_s;
const QString cupsPdfDriver = u"/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"_s;

bool writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The driver with its custom page size taken out: a printer that knows only its named papers. The custom
// size's code runs from its keyword to the closing quote, followed by *End.
QByteArray withoutCustomSizes(const QByteArray &ppd) {
    static const QRegularExpression custom(
        u"^\\*CustomPageSize[^\"]*\"[^\"]*\"\\s*\\*End$|^.*(CustomPageSize|MaxMedia).*$"_s,
        QRegularExpression::MultilineOption);
    return QString::fromLatin1(ppd).remove(custom).toLatin1();
}

// ipptool's request for the jobs of the queue in $uri; $user is ipptool's own, the submitting user.
const QByteArray jobsRequest = R"({
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name $user
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes job-id,job-name,job-state,media
}
)";

} // namespace

// In /tmp whatever TMPDIR says: a Unix socket path must fit in 108 bytes.
PrivateCups::PrivateCups() : m_dir(u"/tmp/tb-cups-XXXXXX"_s), m_socket(m_dir.filePath(u"cups.sock"_s)) {
    // Read once by libcups, at its first call: hence before any printer is looked up. The client's own
    // settings (client.conf, lpoptions) come from the folder too, not from /etc/cups.
    qputenv("CUPS_SERVER", QFile::encodeName(m_socket));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
}

bool PrivateCups::isInstalled() {
    return QFileInfo(scheduler).isExecutable();
}

void PrivateCups::fail(const QString &what) {
    QFile log(path(u"log/error_log"_s));
    const QByteArray text = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    m_error = what + u"\n--- end of error_log ---\n"_s + QString::fromLocal8Bit(text.right(4000));
}

bool PrivateCups::start() {
    stop();
    // Filters run as the unprivileged lp user when the scheduler runs as root: they must reach the folder
    // and write into tmp and out.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    for (const QString &sub : {u"spool"_s, u"cache"_s, u"state"_s, u"log"_s, u"tmp"_s, u"out"_s, u"ppd"_s})
        QDir(m_dir.path()).mkpath(sub);
    ::chmod(QFile::encodeName(path(u"tmp"_s)).constData(), 01777);
    ::chmod(QFile::encodeName(path(u"out"_s)).constData(), 01777);
    const group *systemGroup = ::getgrgid(::getegid());
    const QString files =
        u"ServerRoot %1\nRequestRoot %1/spool\nTempDir %1/tmp\nCacheDir %1/cache\n"
        u"StateDir %1/state\nPrintcap %1/printcap\nErrorLog %1/log/error_log\n"
        u"AccessLog %1/log/access_log\nPageLog %1/log/page_log\nFileDevice Yes\n"
        u"SystemGroup %2\n"_s.arg(m_dir.path(),
                                  systemGroup ? QString::fromLocal8Bit(systemGroup->gr_name) : u"root"_s) +
        // As root, cupsd runs filters as this group's lp user; it refuses to run them as root.
        (::geteuid() == 0 ? u"Group lp\n"_s : QString());
    const QString server =
        u"Listen %1\nLogLevel debug\nErrorPolicy abort-job\nBrowsing No\n"
        u"BrowseLocalProtocols none\nDefaultAuthType None\nWebInterface No\n"
        u"<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        u"<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(m_socket);
    // Should a file not be written, cupsd does not come up and says why in its log.
    writeFile(path(u"cups-files.conf"_s), files.toLocal8Bit());
    writeFile(path(u"cupsd.conf"_s), server.toLocal8Bit());
    writeFile(path(u"jobs.test"_s), jobsRequest);

    m_scheduler = std::make_unique<QProcess>();
    m_scheduler->setProcessChannelMode(QProcess::ForwardedChannels);
    // Should the test process die without cleaning up, the scheduler goes with it.
    m_scheduler->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_scheduler->start(scheduler,
                       {u"-f"_s, u"-c"_s, path(u"cupsd.conf"_s), u"-s"_s, path(u"cups-files.conf"_s)});
    const QDeadlineTimer deadline(30'000);
    // cupsctl fails until the scheduler answers.
    while (m_scheduler->waitForStarted() && !deadline.hasExpired() && !m_scheduler->waitForFinished(100)) {
        if (QFileInfo::exists(m_socket) && run(u"cupsctl"_s, {}))
            return true;
    }
    fail(u"cupsd did not come up on "_s + m_socket);
    stop();
    return false;
}

void PrivateCups::stop() {
    if (!m_scheduler)
        return;
    // SIGTERM lets cupsd stop the filters of a job in progress.
    m_scheduler->terminate();
    if (!m_scheduler->waitForFinished(15'000)) {
        m_scheduler->kill();
        m_scheduler->waitForFinished(5000);
    }
    m_scheduler.reset();
}

bool PrivateCups::run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList{u"-h"_s, m_socket} + arguments);
    const bool finished = process.waitForFinished(30'000);
    if (!finished)
        process.kill();
    const QByteArray text = process.readAll();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    fail(program + u' ' + arguments.join(u' ') + u" failed: "_s + QString::fromLocal8Bit(text));
    return false;
}

bool PrivateCups::addQueue(const QString &name, PageSizes sizes) {
    QFile driver(cupsPdfDriver);
    const QString ppd = path(u"ppd/"_s + name + u".ppd"_s);
    if (!driver.open(QIODevice::ReadOnly)) {
        m_error =
            u"the cups-pdf driver is missing: install printer-driver-cups-pdf (scripts/setup.sh does)"_s;
        return false;
    }
    const QByteArray text = driver.readAll();
    if (!writeFile(ppd, sizes == PageSizes::AnySize ? text : withoutCustomSizes(text)))
        return false;
    // The queue keeps the driver, but its device is a file in the folder rather than cups-pdf's own back end,
    // which writes into the user's home with its settings from /etc/cups.
    const QString device = QUrl::fromLocalFile(path(u"out/"_s + name + u".prn"_s)).toString();
    return run(u"lpadmin"_s, {u"-p"_s, name, u"-E"_s, u"-v"_s, device, u"-P"_s, ppd});
}

std::optional<QList<PrivateCups::Job>> PrivateCups::finishedJobs(const QString &queue, int timeoutMs) {
    // ipptool reaches a Unix socket through a host name that is the percent-encoded path; it takes no -h.
    const QString uri =
        u"ipp://"_s + QString::fromLatin1(QUrl::toPercentEncoding(m_socket)) + u"/printers/"_s + queue;
    // The answer's attributes, one "name (type) = value" a line, jobs parted by "-- separator --".
    static const QRegularExpression attribute(u"^\\s+([a-z-]+) \\([^)]*\\) = (.*)$"_s,
                                              QRegularExpression::MultilineOption);
    static const QStringList finished{u"completed"_s, u"aborted"_s, u"canceled"_s};
    const QDeadlineTimer deadline(timeoutMs);
    for (;; QThread::msleep(100)) {
        QProcess ipptool;
        ipptool.start(u"ipptool"_s, {u"-t"_s, u"-v"_s, uri, path(u"jobs.test"_s)});
        if (!ipptool.waitForFinished(30'000) || ipptool.exitCode() != 0) {
            fail(u"ipptool could not list the jobs of "_s + queue + u": "_s +
                 QString::fromUtf8(ipptool.readAll()));
            return std::nullopt;
        }
        const QByteArray output = ipptool.readAll();
        QList<Job> jobs;
        for (const QString &group :
             QString::fromUtf8(output.mid(output.indexOf("RECEIVED:"))).split(u"-- separator --"_s)) {
            Job job;
            for (const auto &match : attribute.globalMatch(group))
                job.insert(match.captured(1), match.captured(2));
            if (job.contains(u"job-id"_s))
                jobs.append(job);
        }
        if (std::all_of(jobs.cbegin(), jobs.cend(),
                        [](const Job &job) { return finished.contains(job.value(u"job-state"_s)); }))
            return jobs;
        if (deadline.hasExpired()) {
            fail(u"the jobs on %1 did not finish within %2 ms"_s.arg(queue).arg(timeoutMs));
            return std::nullopt;
        }
    }
}

} // namespace tallybrook::testing
