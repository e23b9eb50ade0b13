#include "PrivateCups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

const QString cupsPdfDriver = u"/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"_s;

// A Unix socket path must fit in 108 bytes; a long TMPDIR falls back to /tmp.
QString folderTemplate() {
    const QString preferred = QDir::tempPath() + u"/tb-cups-XXXXXX"_s;
    return preferred.size() < 80 ? preferred : u"/tmp/tb-cups-XXXXXX"_s;
}

bool writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QString userName() {
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : u"root"_s;
}

QString groupName(gid_t gid) {
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : u"root"_s;
}

// The driver with its custom page size taken out: a printer that knows only its named papers.
QByteArray withoutCustomSizes(const QByteArray &ppd) {
    QByteArray out;
    bool inCustomCode = false;
    for (const QByteArray &line : ppd.split('\n')) {
        if (inCustomCode) {
            inCustomCode = !line.startsWith("*End");
            continue;
        }
        if (line.startsWith("*CustomPageSize")) {
            inCustomCode = !line.trimmed().endsWith("setpagedevice\"");
            continue;
        }
        if (line.contains("CustomPageSize") || line.startsWith("*MaxMedia"))
            continue;
        out += line + '\n';
    }
    return out;
}

const QByteArray jobAttributesTest = R"({
  NAME "job attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $jobid
  ATTR name requesting-user-name $user
  ATTR keyword requested-attributes all
  STATUS successful-ok
}
)";

const QByteArray jobListTest = R"({
  NAME "jobs"
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name $user
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes job-id
  STATUS successful-ok
  DISPLAY job-id
}
)";

} // namespace

PrivateCups::PrivateCups() : m_dir(folderTemplate()) {
    m_socket = m_dir.filePath(u"cups.sock"_s);
    // Read once by libcups, at its first call: hence before any printer is looked up.
    qputenv("CUPS_SERVER", QFile::encodeName(m_socket));
    // The client's own settings (client.conf, lpoptions) come from here too, not from /etc/cups.
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
}

PrivateCups::~PrivateCups() {
    stop();
}

bool PrivateCups::isInstalled() {
    return QFileInfo(scheduler()).isExecutable();
}

void PrivateCups::fail(const QString &what) {
    QFile log(path(u"log/error_log"_s));
    QByteArray tail;
    if (log.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = log.readAll().split('\n');
        for (qsizetype i = std::max<qsizetype>(0, lines.size() - 40); i < lines.size(); ++i)
            tail += lines.at(i) + '\n';
    }
    m_error = what + u"\n--- cupsd output ---\n"_s + QString::fromLocal8Bit(m_schedulerOutput) +
              u"\n--- end of error_log ---\n"_s + QString::fromLocal8Bit(tail);
}

bool PrivateCups::writeConfiguration() {
    if (!m_dir.isValid()) {
        m_error = u"could not make a temporary folder: "_s + m_dir.errorString();
        return false;
    }
    // Filters run as the unprivileged lp user when the scheduler runs as root: they must reach the spool and
    // write temporary files.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther);
    const QDir dir(m_dir.path());
    for (const QString &sub :
         {u"spool"_s, u"cache"_s, u"state"_s, u"log"_s, u"ssl"_s, u"tmp"_s, u"out"_s, u"ppd"_s}) {
        if (!dir.mkpath(sub)) {
            m_error = u"could not make "_s + path(sub);
            return false;
        }
    }
    for (const QString &open : {u"tmp"_s, u"out"_s}) {
        if (::chmod(QFile::encodeName(path(open)).constData(), 01777) != 0) {
            m_error = u"could not open up "_s + path(open);
            return false;
        }
    }

    const bool root = ::geteuid() == 0;
    const QString files =
        u"ServerRoot %1\n"
        u"RequestRoot %1/spool\n"
        u"TempDir %1/tmp\n"
        u"CacheDir %1/cache\n"
        u"StateDir %1/state\n"
        u"ServerKeychain %1/ssl\n"
        u"Printcap %1/printcap\n"
        u"ErrorLog %1/log/error_log\n"
        u"AccessLog %1/log/access_log\n"
        u"PageLog %1/log/page_log\n"
        u"FileDevice Yes\n"
        u"SystemGroup %2\n"_s.arg(m_dir.path(), groupName(::getegid())) +
        // As root, cupsd runs filters as this group's lp user; it refuses to run them as root.
        (root ? u"Group lp\n"_s : QString());
    const QString server =
        u"Listen %1\n"
        u"LogLevel debug\n"
        u"MaxLogSize 0\n"
        u"ErrorPolicy abort-job\n"
        u"Browsing No\n"
        u"BrowseLocalProtocols none\n"
        u"DefaultAuthType None\n"
        u"DefaultEncryption Never\n"
        u"WebInterface No\n"
        u"PreserveJobFiles Yes\n"
        u"PreserveJobHistory Yes\n"
        u"<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        u"<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(m_socket);
    if (!writeFile(path(u"cups-files.conf"_s), files.toLocal8Bit()) ||
        !writeFile(path(u"cupsd.conf"_s), server.toLocal8Bit()) ||
        !writeFile(path(u"jobattributes.test"_s), jobAttributesTest) ||
        !writeFile(path(u"jobs.test"_s), jobListTest)) {
        m_error = u"could not write the configuration into "_s + m_dir.path();
        return false;
    }
    return true;
}

bool PrivateCups::start() {
    stop();
    m_error.clear();
    m_schedulerOutput.clear();
    if (!isInstalled()) {
        m_error = scheduler() + u" is not installed"_s;
        return false;
    }
    if (!writeConfiguration())
        return false;

    m_scheduler = std::make_unique<QProcess>();
    m_scheduler->setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"CUPS_SERVER"_s);
    environment.remove(u"CUPS_SERVERROOT"_s);
    m_scheduler->setProcessEnvironment(environment);
    // Should the test process die without cleaning up, the scheduler goes with it.
    m_scheduler->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_scheduler->start(scheduler(),
                       {u"-f"_s, u"-c"_s, path(u"cupsd.conf"_s), u"-s"_s, path(u"cups-files.conf"_s)});
    if (!m_scheduler->waitForStarted(10'000)) {
        fail(u"could not start "_s + scheduler() + u": "_s + m_scheduler->errorString());
        return false;
    }
    QObject::connect(m_scheduler.get(), &QProcess::readyRead, m_scheduler.get(),
                     [this] { m_schedulerOutput += m_scheduler->readAll(); });

    const QDeadlineTimer deadline(30'000);
    while (!deadline.hasExpired()) {
        m_scheduler->waitForReadyRead(100);
        if (m_scheduler->state() != QProcess::Running) {
            m_schedulerOutput += m_scheduler->readAll();
            fail(u"cupsd stopped at start-up"_s);
            return false;
        }
        QByteArray answer;
        if (QFileInfo::exists(m_socket) && run(u"lpstat"_s, {u"-h"_s, m_socket, u"-r"_s}, &answer, 5000) &&
            answer.contains("scheduler is running"))
            return true;
    }
    fail(u"cupsd did not answer on "_s + m_socket);
    stop();
    return false;
}

void PrivateCups::stop() {
    if (!m_scheduler)
        return;
    if (m_scheduler->state() != QProcess::NotRunning) {
        // SIGTERM lets cupsd stop the filters of a job in progress.
        m_scheduler->terminate();
        if (!m_scheduler->waitForFinished(15'000)) {
            m_scheduler->kill();
            m_scheduler->waitForFinished(5000);
        }
    }
    m_schedulerOutput += m_scheduler->readAll();
    m_scheduler.reset();
}

bool PrivateCups::run(const QString &program, const QStringList &arguments, QByteArray *output,
                      int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForStarted(10'000) && process.waitForFinished(timeoutMs);
    if (!finished && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    const QByteArray text = process.readAll();
    if (output)
        *output = text;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + u" "_s + arguments.join(u' ') + u" failed: "_s + QString::fromLocal8Bit(text) +
                  (finished ? QString() : u" (did not finish: "_s + process.errorString() + u")"_s);
        return false;
    }
    return true;
}

bool PrivateCups::addQueue(const QString &name, PageSizes sizes) {
    QFile driver(cupsPdfDriver);
    if (!driver.open(QIODevice::ReadOnly)) {
        m_error = u"the cups-pdf driver is missing ("_s + cupsPdfDriver +
                  u"): install printer-driver-cups-pdf (scripts/setup.sh does)"_s;
        return false;
    }
    const QString ppd = path(u"ppd/"_s + name + u".ppd"_s);
    const QByteArray text = driver.readAll();
    if (!writeFile(ppd, sizes == PageSizes::AnySize ? text : withoutCustomSizes(text))) {
        m_error = u"could not write "_s + ppd;
        return false;
    }
    // cups-pdf's own back end writes to the submitting user's home with its settings from /etc/cups; the
    // queue keeps its driver but writes into this folder instead.
    const QString device = QUrl::fromLocalFile(outputFile(name)).toString();
    return run(u"lpadmin"_s, {u"-h"_s, m_socket, u"-p"_s, name, u"-E"_s, u"-v"_s, device, u"-P"_s, ppd,
                              u"-o"_s, u"printer-error-policy=abort-job"_s});
}

bool PrivateCups::setDefaultQueue(const QString &name) {
    return run(u"lpadmin"_s, {u"-h"_s, m_socket, u"-d"_s, name});
}

bool PrivateCups::rejectJobs(const QString &name) {
    return run(u"cupsreject"_s, {u"-h"_s, m_socket, name});
}

QString PrivateCups::printerUri(const QString &queue) const {
    // ipptool reaches a Unix socket through a host name that is the percent-encoded path.
    return u"ipp://"_s + QString::fromLatin1(QUrl::toPercentEncoding(m_socket)) + u"/printers/"_s + queue;
}

QString PrivateCups::spooledDocument(int id) const {
    return path(u"spool/d%1-001"_s.arg(id, 5, 10, QChar(u'0')));
}

QString PrivateCups::outputFile(const QString &queue) const {
    return path(u"out/"_s + queue + u".prn"_s);
}

std::optional<QMap<QString, QString>> PrivateCups::jobAttributes(const QString &queue, int id) {
    QByteArray output;
    const QString user = userName();
    if (!run(u"ipptool"_s,
             {u"-t"_s, u"-v"_s, u"-d"_s, u"jobid=%1"_s.arg(id), u"-d"_s, u"user="_s + user, printerUri(queue),
              path(u"jobattributes.test"_s)},
             &output))
        return std::nullopt;
    // Only what the scheduler answered, after the request ipptool echoes.
    const qsizetype received = output.indexOf("RECEIVED:");
    if (received < 0) {
        m_error = u"no answer about job %1: "_s.arg(id) + QString::fromUtf8(output);
        return std::nullopt;
    }
    static const QRegularExpression attribute(u"^\\s+([a-z0-9-]+) \\([^)]*\\) = (.*)$"_s);
    QMap<QString, QString> attributes;
    for (const QByteArray &line : output.mid(received).split('\n')) {
        const auto match = attribute.match(QString::fromUtf8(line));
        if (match.hasMatch() && !attributes.contains(match.captured(1)))
            attributes.insert(match.captured(1), match.captured(2));
    }
    return attributes;
}

QList<PrivateCups::Job> PrivateCups::jobs(const QString &queue) {
    QByteArray output;
    const QString user = userName();
    if (!run(u"ipptool"_s, {u"-c"_s, u"-d"_s, u"user="_s + user, printerUri(queue), path(u"jobs.test"_s)},
             &output))
        return {};
    QList<Job> result;
    for (const QByteArray &line : output.split('\n')) {
        bool isNumber = false;
        const int id = line.trimmed().toInt(&isNumber);
        if (!isNumber)
            continue;
        if (const auto attributes = jobAttributes(queue, id))
            result.append(Job{id, *attributes});
    }
    return result;
}

std::optional<PrivateCups::Job> PrivateCups::waitForFinishedJob(const QString &queue, int id, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (const auto attributes = jobAttributes(queue, id)) {
            const QString state = attributes->value(u"job-state"_s);
            if (state == u"completed" || state == u"aborted" || state == u"canceled")
                return Job{id, *attributes};
        }
        if (deadline.hasExpired()) {
            fail(u"job %1 on %2 did not finish within %3 ms"_s.arg(id).arg(queue).arg(timeoutMs));
            return std::nullopt;
        }
        QThread::msleep(100);
    }
}

} // namespace tallybrook::testing
