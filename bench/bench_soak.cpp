// Load and soak: many desks against the real server on loopback for minutes, each polling as the desk does
// (on-site list and three exact counts) on a compressed period, signing a visitor in every few seconds and
// signing earlier ones out. Prints latency percentiles per request kind, errors, late polls, the server's
// memory over time and whether every sign-in answered 201 was stored. A benchmark, not a test.
//
// Usage: bench_soak [--desks N] [--seconds S] [--period-ms P] [--warmup S]
#include "BenchServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using tallybrook::bench::Client;
using tallybrook::bench::percentile;

namespace {

const QByteArray benchKey = QByteArrayLiteral("sb_publishable_soak_bench_key");

enum Kind { OnSite, CountToday, CountOnSite, CountWeek, SignIn, SignOut, KindCount };
const char *const kindNames[KindCount] = {"on-site list",    "count today", "count on site",
                                          "count this week", "sign-in",     "sign-out"};

struct DeskResult {
    std::vector<qint64> micros[KindCount];
    qint64 errors = 0;
    qint64 polls = 0;
    qint64 latePolls = 0; // a poll that started more than a period behind its schedule
    qint64 signInsStored = 0;
    QByteArray firstError;
};

qint64 residentKiB(qint64 pid) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return 0;
}

QByteArray isoUtc(const QDateTime &at) {
    return at.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'").toLatin1();
}

struct Desk {
    QByteArray token;
    QByteArray owner;
    int number = 0;
};

QByteArray request(const Desk &desk, const QByteArray &method, const QByteArray &target,
                   const QByteArray &prefer = {}, const QByteArray &body = {}) {
    QByteArray text = method + " /rest/v1/visitors" + target +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\napikey: " + benchKey + "\r\nAuthorization: Bearer " +
                      desk.token + "\r\n";
    if (!prefer.isEmpty()) {
        text += "Prefer: " + prefer + "\r\n";
    }
    if (!body.isEmpty()) {
        text +=
            "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

// One desk: its own connection and account, on its own thread until `deadline`.
void runDesk(quint16 port, const Desk &desk, std::chrono::milliseconds period,
             std::chrono::steady_clock::time_point deadline, DeskResult &result) {
    using Clock = std::chrono::steady_clock;
    Client client(port);
    QRandomGenerator random(quint32(desk.number + 1));
    std::deque<QByteArray> onSite; // ids of this desk's visitors still in
    const auto time = [&](Kind kind, const QByteArray &text, std::initializer_list<int> good,
                          QByteArray *body = nullptr) {
        const auto start = Clock::now();
        const int status = client.exchange(text, body);
        result.micros[kind].push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
        if (std::find(good.begin(), good.end(), status) == good.end()) {
            if (++result.errors == 1) {
                result.firstError = QByteArray(kindNames[kind]) + " answered " + QByteArray::number(status);
            }
            return false;
        }
        return true;
    };
    // Desks start spread over one period, as real ones would.
    auto nextPoll = Clock::now() + period * desk.number / 100;
    auto nextSignIn = nextPoll + std::chrono::milliseconds(random.bounded(2000, 5000));
    qint64 visitor = 0;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_until(std::min(nextPoll, nextSignIn));
        const auto now = Clock::now();
        if (now >= nextPoll) {
            const QDateTime wall = QDateTime::currentDateTimeUtc();
            const QDate today = wall.date();
            const QByteArray dayStart = isoUtc(today.startOfDay(QTimeZone::utc()));
            const QByteArray weekStart =
                isoUtc(today.addDays(-(today.dayOfWeek() % 7)).startOfDay(QTimeZone::utc()));
            time(OnSite,
                 request(desk, "GET",
                         "?select=id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,"
                         "device_name&order=signed_in_at.desc,id.desc&signed_out_at=is.null&limit=500"),
                 {200});
            time(CountToday,
                 request(desk, "GET", "?select=id&limit=1&signed_in_at=gte." + dayStart, "count=exact"),
                 {200, 206});
            time(CountOnSite, request(desk, "GET", "?select=id&limit=1&signed_out_at=is.null", "count=exact"),
                 {200, 206});
            time(CountWeek,
                 request(desk, "GET", "?select=id&limit=1&signed_in_at=gte." + weekStart, "count=exact"),
                 {200, 206});
            ++result.polls;
            nextPoll += period;
            if (Clock::now() - nextPoll > period) {
                ++result.latePolls;
                nextPoll = Clock::now() + period;
            }
        }
        if (now >= nextSignIn) {
            ++visitor;
            const QJsonObject row{
                {u"owner_id"_s, QString::fromLatin1(desk.owner)},
                {u"device_record_id"_s, u"soak-%1-%2"_s.arg(desk.number).arg(visitor)},
                {u"visitor_name"_s, u"Visitor %1 of desk %2"_s.arg(visitor).arg(desk.number)},
                {u"host_name"_s, u"Zoë Adeyemi"_s},
                {u"answers"_s, QJsonArray{QJsonObject{{u"label"_s, u"Company"_s}, {u"value"_s, u"Acme"_s}}}},
                {u"signed_in_at"_s, QString::fromLatin1(isoUtc(QDateTime::currentDateTimeUtc()))},
                {u"device_name"_s, u"Soak desk"_s}};
            QByteArray answer;
            if (time(SignIn,
                     request(desk, "POST", "?select=id", "return=representation",
                             QJsonDocument(row).toJson(QJsonDocument::Compact)),
                     {201}, &answer)) {
                ++result.signInsStored;
                onSite.push_back(QJsonDocument::fromJson(answer).array().at(0)[u"id"].toString().toLatin1());
            }
            // About half of them leave again, so the on-site list stays the size of a busy lobby.
            if (onSite.size() > 20 || (onSite.size() > 1 && random.bounded(2) == 0)) {
                const QByteArray body =
                    R"({"signed_out_at":")" + isoUtc(QDateTime::currentDateTimeUtc()) + R"("})";
                time(SignOut, request(desk, "PATCH", "?id=eq." + onSite.front(), {}, body), {204});
                onSite.pop_front();
            }
            nextSignIn = Clock::now() + std::chrono::milliseconds(random.bounded(2000, 5000));
        }
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    const QCommandLineOption desksOption(u"desks"_s, u"Simulated desks, one account each."_s, u"n"_s,
                                         u"100"_s);
    const QCommandLineOption secondsOption(u"seconds"_s, u"How long they run."_s, u"s"_s, u"120"_s);
    const QCommandLineOption periodOption(u"period-ms"_s, u"Each desk's poll period."_s, u"ms"_s, u"150"_s);
    const QCommandLineOption warmupOption(u"warmup"_s, u"Seconds before memory is compared."_s, u"s"_s,
                                          u"30"_s);
    parser.addOptions({desksOption, secondsOption, periodOption, warmupOption});
    parser.addHelpOption();
    parser.process(app);
    const int desks = parser.value(desksOption).toInt();
    const int seconds = parser.value(secondsOption).toInt();
    const std::chrono::milliseconds period(parser.value(periodOption).toInt());
    const int warmup = parser.value(warmupOption).toInt();

    QTemporaryDir folder;
    QProcess server;
    QByteArray output;
    const quint16 port = tallybrook::bench::startServer(server, QString::fromUtf8(TB_SERVER_EXECUTABLE),
                                                        folder.path(), QString::fromLatin1(benchKey), output);
    if (port == 0) {
        std::fprintf(stderr, "the server did not start: %s\n", output.constData());
        return 1;
    }
    const qint64 pid = server.processId();
    // Real accounts, signed up as an office would; each desk uses its own session.
    std::vector<Desk> accounts(static_cast<size_t>(desks));
    {
        Client client(port);
        for (int d = 0; d < desks; ++d) {
            const QByteArray body = "{\"email\":\"desk" + QByteArray::number(d) +
                                    "@soak.example\",\"password\":\"soak-password\"}";
            QByteArray answer;
            const int status =
                client.exchange("POST /auth/v1/signup HTTP/1.1\r\nHost: 127.0.0.1\r\napikey: " + benchKey +
                                    "\r\nContent-Type: application/json\r\n"
                                    "Content-Length: " +
                                    QByteArray::number(body.size()) + "\r\n\r\n" + body,
                                &answer);
            const QJsonObject session = QJsonDocument::fromJson(answer).object();
            if (status != 200 || !session.contains(u"access_token")) {
                std::fprintf(stderr, "sign-up answered %d: %s\n", status, answer.constData());
                return 1;
            }
            accounts[size_t(d)] = {session[u"access_token"].toString().toLatin1(),
                                   session[u"user"][u"id"].toString().toLatin1(), d};
        }
    }
    std::printf("server pid %lld on port %u: %d desks, %lld ms period, %d s, memory compared after %d s\n",
                pid, port, desks, qint64(period.count()), seconds, warmup);

    std::vector<DeskResult> results(static_cast<size_t>(desks));
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int d = 0; d < desks; ++d) {
        threads.emplace_back(runDesk, port, std::cref(accounts[size_t(d)]), period, deadline,
                             std::ref(results[size_t(d)]));
    }
    qint64 warmKiB = 0;
    qint64 peakKiB = 0;
    for (int second = 1; second <= seconds; ++second) {
        std::this_thread::sleep_until(start + std::chrono::seconds(second));
        const qint64 kib = residentKiB(pid);
        if (second == warmup) {
            warmKiB = kib;
        }
        if (second >= warmup) {
            peakKiB = std::max(peakKiB, kib);
        }
        if (second % 10 == 0) {
            std::printf("  %4d s: server resident %6.1f MB\n", second, double(kib) / 1024);
        }
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    const qint64 endKiB = residentKiB(pid);

    DeskResult all;
    for (const DeskResult &one : results) {
        for (int k = 0; k < KindCount; ++k) {
            all.micros[k].insert(all.micros[k].end(), one.micros[k].begin(), one.micros[k].end());
        }
        all.errors += one.errors;
        all.polls += one.polls;
        all.latePolls += one.latePolls;
        all.signInsStored += one.signInsStored;
        if (all.firstError.isEmpty()) {
            all.firstError = one.firstError;
        }
    }
    qint64 requests = 0;
    std::vector<qint64> every;
    std::printf("\n  %-16s %9s %9s %9s %9s\n", "request", "count", "p50 ms", "p99 ms", "max ms");
    for (int k = 0; k < KindCount; ++k) {
        requests += qint64(all.micros[k].size());
        every.insert(every.end(), all.micros[k].begin(), all.micros[k].end());
        std::printf("  %-16s %9zu %9.2f %9.2f %9.2f\n", kindNames[k], all.micros[k].size(),
                    percentile(all.micros[k], 0.5), percentile(all.micros[k], 0.99),
                    percentile(all.micros[k], 1));
    }
    std::printf("  %-16s %9lld %9.2f %9.2f %9.2f\n", "all", requests, percentile(every, 0.5),
                percentile(every, 0.99), percentile(every, 1));
    std::printf("\n%lld requests in %d s (%.0f/s), %lld errors%s%s; %lld polls, %lld of them late\n",
                requests, seconds, double(requests) / seconds, all.errors,
                all.firstError.isEmpty() ? "" : ", first: ", all.firstError.constData(), all.polls,
                all.latePolls);

    // Every sign-in answered 201 is there, once.
    qint64 stored = 0;
    {
        Client client(port);
        for (const Desk &desk : accounts) {
            QByteArray body;
            client.exchange(request(desk, "GET", "?select=device_record_id"), &body);
            stored += QJsonDocument::fromJson(body).array().size();
        }
    }
    std::printf("sign-ins answered 201: %lld, rows stored: %lld (%s)\n", all.signInsStored, stored,
                all.signInsStored == stored ? "equal" : "DIFFERENT");
    std::printf(
        "server memory: %.1f MB after %d s warm-up, %.1f MB at the end, %.1f MB at most; growth after "
        "warm-up %.1f MB\n",
        double(warmKiB) / 1024, warmup, double(endKiB) / 1024, double(peakKiB) / 1024,
        double(peakKiB - warmKiB) / 1024);
    server.terminate();
    server.waitForFinished(10000);
    return all.errors == 0 && all.signInsStored == stored ? 0 : 1;
}
