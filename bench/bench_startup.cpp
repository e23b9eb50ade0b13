// The desk's start, timed from outside: the real tallybrook binary with a stored session of the demo account
// against a local server. Figures: process start to the first painted main window (target 300 ms), to the
// Today counts on screen (target 600 ms), and resident memory once the account has loaded and after 100 polls
// (target 80 MB, flat). Offscreen always; under Xvfb too when it is installed.
// Usage: bench_startup [runs=5]
#include "BenchServer.h"
#include "cloud/CloudClient.h"
#include "cloud/KeychainSessionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <qcorotask.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

using namespace tallybrook;
using namespace Qt::StringLiterals;

namespace {

const QString key = u"sb_publishable_startup_bench_key"_s;
constexpr int polls = 100;

struct Run {
    double firstFrameMs = -1;
    double countsMs = -1;
    double loadedMb = -1;
    double tenPollsMb = -1;
    double hundredPollsMb = -1;
};

double residentMb(qint64 pid) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
        }
    }
    return -1;
}

// One start of the desk in `home` (its configuration with the stored session), until it has polled 100 times.
Run startDesk(const QString &home, const QUrl &server, const QProcessEnvironment &display) {
    QProcessEnvironment environment = display;
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
    environment.insert(u"XDG_DATA_HOME"_s, home + u"/data"_s);
    environment.insert(u"XDG_CACHE_HOME"_s, home + u"/cache"_s);
    environment.insert(u"XDG_RUNTIME_DIR"_s, home + u"/run"_s);
    // No session bus: the session is the stored file, as on a desktop without a keyring.
    environment.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    environment.insert(u"TALLYBROOK_BACKEND_URL"_s, server.toString());
    environment.insert(u"TALLYBROOK_WEBSITE_URL"_s, server.toString());
    environment.insert(u"TALLYBROOK_PUBLISHABLE_KEY"_s, key);
    environment.insert(u"TALLYBROOK_TRACE_STARTUP"_s, u"1"_s);
    environment.insert(u"TALLYBROOK_POLL_MS"_s, u"100"_s);

    QProcess desk;
    desk.setProcessEnvironment(environment);
    // The trace comes on stderr: wake up for it, not only for stdout.
    desk.setReadChannel(QProcess::StandardError);
    desk.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QElapsedTimer clock;
    clock.start();
    desk.start(QString::fromUtf8(TB_DESK_EXECUTABLE), {});
    Run run;
    QByteArray output;
    while (desk.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
        desk.waitForReadyRead(50);
        output += desk.readAllStandardError();
        const double now = double(clock.nsecsElapsed()) / 1e6;
        if (run.firstFrameMs < 0 && output.contains("tallybrook: first frame")) {
            run.firstFrameMs = now;
        }
        if (run.countsMs < 0 && output.contains("tallybrook: counts shown")) {
            run.countsMs = now;
            run.loadedMb = residentMb(desk.processId());
        }
        if (run.tenPollsMb < 0 && output.contains("tallybrook: refreshed 10\n")) {
            run.tenPollsMb = residentMb(desk.processId());
        }
        if (output.contains(QByteArray("tallybrook: refreshed " + QByteArray::number(polls + 1) + '\n'))) {
            run.hundredPollsMb = residentMb(desk.processId());
            break;
        }
    }
    if (run.hundredPollsMb < 0) {
        std::printf("  the desk did not get through its polls; its last words:\n%s\n",
                    output.right(600).constData());
    }
    desk.terminate();
    desk.waitForFinished(5000);
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void report(const char *display, const std::vector<Run> &runs) {
    std::vector<double> frames;
    std::vector<double> counts;
    double loaded = 0;
    double ten = 0;
    double hundred = 0;
    for (const Run &run : runs) {
        frames.push_back(run.firstFrameMs);
        counts.push_back(run.countsMs);
        loaded = std::max(loaded, run.loadedMb);
        ten = std::max(ten, run.tenPollsMb);
        hundred = std::max(hundred, run.hundredPollsMb);
    }
    std::printf("%s, %zu starts:\n", display, runs.size());
    std::printf("  start to first frame:   median %6.0f ms, slowest %6.0f ms   (target <= 300 ms)\n",
                median(frames), *std::max_element(frames.begin(), frames.end()));
    std::printf("  start to counts shown:  median %6.0f ms, slowest %6.0f ms   (target <= 600 ms)\n",
                median(counts), *std::max_element(counts.begin(), counts.end()));
    std::printf("  resident memory: %.1f MB loaded, %.1f MB after 10 polls, %.1f MB after %d polls "
                "(largest of the starts; target <= 80 MB and flat)\n",
                loaded, ten, hundred, polls);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;
    QTemporaryDir dir;
    QProcess server;
    QByteArray output;
    const quint16 port = bench::startServer(server, QString::fromUtf8(TB_SERVER_EXECUTABLE),
                                            dir.filePath(u"server"_s), key, output, {u"--seed-demo"_s});
    if (port == 0) {
        std::printf("the server did not start: %s\n", output.constData());
        return 1;
    }
    const QUrl url(u"http://127.0.0.1:%1"_s.arg(port));

    // The demo account's session, stored where the desk looks for it when there is no keyring.
    const QString home = dir.filePath(u"home"_s);
    for (const QString &folder : {u"/config/Tallybrook"_s, u"/data"_s, u"/cache"_s, u"/run"_s}) {
        QDir().mkpath(home + folder);
    }
    QFile::setPermissions(home + u"/run"_s,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    {
        QSettings preferences(home + u"/config/Tallybrook/Tallybrook.conf"_s, QSettings::IniFormat);
        preferences.setValue(u"hasSeenOnboarding"_s, true);
    }
    QNetworkAccessManager http;
    KeychainSessionStore store(u"bench"_s, u"session"_s, home + u"/config/Tallybrook/session.json"_s,
                               KeychainSessionStore::Backend::File);
    CloudConfig config;
    config.backendURL = config.websiteURL = url;
    config.publishableKey = key;
    CloudClient cloud(http, store, config);
    bool signedIn = false;
    QCoro::connect(cloud.signInAccount(u"demo@tallybrook.local"_s, u"tallybrook-demo"_s), &app,
                   [&] { signedIn = true; });
    QElapsedTimer wait;
    wait.start();
    while (!signedIn && wait.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    if (!cloud.isSignedIn() || !QFile::exists(home + u"/config/Tallybrook/session.json"_s)) {
        std::printf("the demo account did not sign in\n");
        return 1;
    }

    std::printf("load average: %s\n",
                [] {
                    QFile load(u"/proc/loadavg"_s);
                    load.open(QIODevice::ReadOnly);
                    return load.readAll().trimmed();
                }()
                    .constData());
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    std::vector<Run> offscreenRuns;
    for (int i = 0; i < runs; ++i) {
        offscreenRuns.push_back(startDesk(home, url, offscreen));
    }
    report("offscreen", offscreenRuns);

    const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
    if (xvfb.isEmpty()) {
        std::printf("Xvfb: not installed, skipped\n");
        server.terminate();
        server.waitForFinished(3000);
        return 0;
    }
    QProcess display;
    display.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    const QString number = u":%1"_s.arg(600 + QCoreApplication::applicationPid() % 300);
    display.start(xvfb, {number, u"-screen"_s, u"0"_s, u"1400x900x24"_s, u"-nolisten"_s, u"tcp"_s});
    QThread::msleep(800);
    QProcessEnvironment x11 = QProcessEnvironment::systemEnvironment();
    x11.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    x11.insert(u"DISPLAY"_s, number);
    std::vector<Run> x11Runs;
    for (int i = 0; i < runs; ++i) {
        x11Runs.push_back(startDesk(home, url, x11));
    }
    report("Xvfb", x11Runs);
    display.terminate();
    display.waitForFinished(3000);
    server.terminate();
    server.waitForFinished(3000);
    return 0;
}
