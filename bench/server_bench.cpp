// The local server under the desk's load: one account with a million visitors over two years, the desk's poll
// (on-site list and three exact counts) and search pages, from concurrent keep-alive clients on loopback.
// Prints latency percentiles per request kind, requests per second and the server's memory. Not a test.
//
// Usage: server_bench [--rows N] [--seconds S] [--clients C] [--data DIR]
// The database is built once and kept under the build folder (a few minutes the first time).
#include "BenchServer.h"
#include "ServerApp.h"
#include "core/Crypto.h"
#include "core/Database.h"
#include "core/Jwt.h"
#include "core/Schema.h"
#include "rest/SearchText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>
#include <thread>
#include <vector>

using namespace tbserver;
using tallybrook::bench::Client;
using tallybrook::bench::memoryOf;
using tallybrook::bench::percentile;
using namespace Qt::StringLiterals;

namespace {

const QByteArray benchKey = QByteArrayLiteral("sb_publishable_server_bench_key");
const QString benchUser = u"5b1d6c1e-0000-4000-8000-00000000be7c"_s;

const char *const firstNames[] = {
    "Ann",     "Anna",      "Annette",   "Hannah",    "Joanne",   "Dianne",   "Shannon",  "Maria",
    "Marie",   "Mark",      "Martin",    "Marta",     "James",    "John",     "Johan",    "Jonas",
    "Robert",  "Roberta",   "Michael",   "Michelle",  "William",  "Willem",   "David",    "Davide",
    "Richard", "Joseph",    "Thomas",    "Tomas",     "Charles",  "Carla",    "Daniel",   "Daniela",
    "Matthew", "Mathilde",  "Anthony",   "Antonia",   "Steven",   "Stefan",   "Paul",     "Paula",
    "Andrew",  "Andrea",    "Joshua",    "Kenneth",   "Kevin",    "Brian",    "George",   "Georgia",
    "Edward",  "Edith",     "Ronald",    "Rosa",      "Timothy",  "Jason",    "Jeffrey",  "Ryan",
    "Jacob",   "Gary",      "Nicholas",  "Nicole",    "Eric",     "Erica",    "Jonathan", "Stephen",
    "Larry",   "Justin",    "Scott",     "Brandon",   "Benjamin", "Samuel",   "Samantha", "Gregory",
    "Frank",   "Franziska", "Alexander", "Alexandra", "Patrick",  "Patricia", "Raymond",  "Jack",
    "Dennis",  "Jerry",     "Tyler",     "Aaron",     "José",     "Adam",     "Nathan",   "Henry",
    "Zoë",     "Douglas",   "Zachary",   "Peter",     "Petra",    "Kyle",     "Walter",   "Ethan",
    "Jeremy",  "Harold",    "Keith",     "Christian", "Roger",    "Noah",     "Gerald",   "Carl",
    "Terry",   "Sean",      "Austin",    "Arthur",    "Lawrence", "Jesse",    "Dylan",    "Bryan",
    "Joe",     "Jordan",    "Billy",     "Bruce",     "Albert",   "Willie",   "Gabriel",  "Logan",
    "Alan",    "Juan",      "Wayne",     "Roy",       "Ralph",    "Randy",    "Eugene",   "Vincent",
    "Russell", "Elijah",    "Louis",     "Bobby",     "Philip",   "Johnny",   "Mei",      "Wei",
    "Yuki",    "Hiroshi",   "Aiko",      "Priya",     "Arjun",    "Fatima",   "Omar",     "Leila",
    "Søren",   "Ingrid",    "Björn",     "Chloé"};
const char *const lastNames[] = {
    "Smith",     "Johnson",   "Williams",  "Brown",    "Jones",    "Garcia",   "Miller",     "Davis",
    "Rodriguez", "Martinez",  "Hernandez", "Lopez",    "Gonzalez", "Wilson",   "Anderson",   "Thomas",
    "Taylor",    "Moore",     "Jackson",   "Martin",   "Lee",      "Perez",    "Thompson",   "White",
    "Harris",    "Sanchez",   "Clark",     "Ramirez",  "Lewis",    "Robinson", "Walker",     "Young",
    "Allen",     "King",      "Wright",    "Scott",    "Torres",   "Nguyen",   "Hill",       "Flores",
    "Green",     "Adams",     "Nelson",    "Baker",    "Hall",     "Rivera",   "Campbell",   "Mitchell",
    "Carter",    "Roberts",   "Gomez",     "Phillips", "Evans",    "Turner",   "Diaz",       "Parker",
    "Cruz",      "Edwards",   "Collins",   "Reyes",    "Stewart",  "Morris",   "Morales",    "Murphy",
    "Cook",      "Rogers",    "Gutierrez", "Ortiz",    "Morgan",   "Cooper",   "Peterson",   "Bailey",
    "Reed",      "Kelly",     "Howard",    "Ramos",    "Kim",      "Cox",      "Ward",       "Richardson",
    "Watson",    "Brooks",    "Chavez",    "Wood",     "James",    "Bennett",  "Gray",       "Mendoza",
    "Ruiz",      "Hughes",    "Price",     "Alvarez",  "Castillo", "Sanders",  "Patel",      "Myers",
    "Long",      "Ross",      "Foster",    "Jiménez",  "Müller",   "Schmidt",  "Schneider",  "Fischer",
    "Weber",     "Meyer",     "Wagner",    "Becker",   "Schulz",   "Hoffmann", "Tanaka",     "Suzuki",
    "Watanabe",  "Yamamoto",  "Nakamura",  "Dubois",   "Lefèvre",  "Moreau",   "Rossi",      "Russo",
    "Ferrari",   "Esposito",  "Bianchi",   "Romano",   "Nowak",    "Kowalski", "Wiśniewski", "Novák",
    "Svoboda",   "Andersson", "Nilsson",   "O'Brien",  "O'Connor", "Murray",   "Quinn",      "Kaur",
    "Singh",     "Sharma",    "Chen",      "Wang",     "Li",       "Zhang",    "Liu"};
const char *const hosts[] = {"Maria Garcia", "Tom Becker",   "Priya Patel",  "Jonas Weber", "Sarah Collins",
                             "Ahmed Hassan", "Lena Fischer", "Chris O'Neil", "Yuki Tanaka", "Olivia Brown",
                             "Reception",    "Facilities",   "IT Support",   "HR",          "Sales Team",
                             "Marketing",    "Finance",      "Dr. Keller",   "Ms. Novak",   "Mr. Rossi"};
const char *const companies[] = {"Acme",
                                 "Globex",
                                 "Initech",
                                 "Umbrella",
                                 "Stark Industries",
                                 "Wayne Enterprises",
                                 "Hooli",
                                 "Vandelay Industries",
                                 "Soylent",
                                 "Cyberdyne",
                                 "Tyrell",
                                 "Wonka",
                                 "Aperture",
                                 "Black Mesa",
                                 "Oscorp",
                                 "Massive Dynamic",
                                 "Pied Piper",
                                 "Dunder Mifflin",
                                 "Gringotts",
                                 "Monsters Inc",
                                 "Nakatomi",
                                 "Oceanic",
                                 "Prestige Worldwide",
                                 "Sterling",
                                 "Bluth Company",
                                 "Krusty Krab",
                                 "Los Pollos",
                                 "Paper Street",
                                 "Virtucon",
                                 "Zorg"};
const char *const purposes[] = {"Meeting", "Interview", "Delivery", "Maintenance",
                                "Audit",   "Training",  "Personal", "Contractor work"};
const char *const devices[] = {"Lobby iPad", "Front desk", "Warehouse iPad"};

template<class T, size_t N>
const char *pick(const T (&list)[N], QRandomGenerator &random) {
    return list[random.bounded(quint32(N))];
}

// Builds the account and its visitors straight into SQLite, in one transaction.
void buildDatabase(const QString &folder, qint64 rows, qint64 nowSecs) {
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::remove(folder + u"/tallybrook.sqlite3"_s);
    Database db(folder + u"/tallybrook.sqlite3"_s);
    migrate(db);
    db.exec("PRAGMA synchronous=OFF");
    db.exec("PRAGMA cache_size=-262144");
    (void)loadOrCreateSecret(folder);
    QElapsedTimer timer;
    timer.start();
    QRandomGenerator random(20250304);
    const qint64 span = 730LL * 86400 * 1'000'000; // microseconds
    const qint64 start = nowSecs * 1'000'000 - span;
    db.transaction([&] {
        Statement user =
            db.prepare("INSERT INTO users (id, email, password_hash, created_at, updated_at) VALUES "
                       "(?, 'bench@example.com', 'x', '2023-01-01T00:00:00.000000+00:00', "
                       "'2023-01-01T00:00:00.000000+00:00')");
        user.bind(1, benchUser);
        user.run();
        for (qint64 i = 0; i < rows; ++i) {
            const qint64 slot = span / rows;
            const qint64 at =
                start + i * slot + qint64(random.bounded(quint32(std::max<qint64>(1, slot / 2))));
            const QString name = QString::fromUtf8(pick(firstNames, random)) + u' ' +
                                 QString::fromUtf8(pick(lastNames, random));
            const std::optional<QString> host =
                random.bounded(10) == 0 ? std::nullopt
                                        : std::optional<QString>(QString::fromUtf8(pick(hosts, random)));
            QJsonArray answers{QJsonObject{{u"label"_s, u"Company"_s},
                                           {u"value"_s, QString::fromUtf8(pick(companies, random))}},
                               QJsonObject{{u"label"_s, u"Purpose"_s},
                                           {u"value"_s, QString::fromUtf8(pick(purposes, random))}}};
            if (random.bounded(4) == 0) {
                answers.append(
                    QJsonObject{{u"label"_s, u"Badge"_s},
                                {u"value"_s, QString(u"B-"_s + QString::number(random.bounded(10000)))}});
            }
            const QByteArray signedIn =
                ServerContext::timestamp(QDateTime::fromMSecsSinceEpoch(at / 1000, QTimeZone::utc()));
            const bool onSite = i >= rows - 20;
            const QByteArray signedOut =
                onSite ? QByteArray()
                       : ServerContext::timestamp(QDateTime::fromMSecsSinceEpoch(
                             at / 1000 + qint64(random.bounded(30, 240)) * 60'000, QTimeZone::utc()));
            Statement insert = db.prepare(
                "INSERT INTO visitors (id, owner_id, device_record_id, visitor_name, host_name, answers, "
                "signed_in_at, signed_out_at, list_name, device_name, search_text, created_at) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, NULL, ?, ?, ?)");
            insert.bind(1, crypto::uuidV4())
                .bind(2, benchUser)
                .bind(3, crypto::uuidV4())
                .bind(4, name)
                .bind(5, host ? QVariant(*host) : QVariant())
                .bindText(6, QJsonDocument(answers).toJson(QJsonDocument::Compact))
                .bindText(7, signedIn)
                .bind(8, onSite ? QVariant() : QVariant(signedOut))
                .bind(9, QString::fromUtf8(pick(devices, random)))
                .bindText(10, searchTextFor(name, host, answers))
                .bindText(11, signedIn);
            insert.run();
            if ((i + 1) % 100000 == 0) {
                std::printf("  %lld rows, %.0f s\n", i + 1, double(timer.elapsed()) / 1000);
                std::fflush(stdout);
            }
        }
    });
    db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    QFile marker(folder + u"/bench-complete"_s);
    marker.open(QIODevice::WriteOnly);
    marker.write(QByteArray::number(rows) + ' ' + QByteArray::number(nowSecs) + '\n');
    std::printf("built %lld visitors in %.1f s\n", rows, double(timer.elapsed()) / 1000);
}

struct Kind {
    const char *name;
    std::function<QByteArray(int client, qint64 iteration)> request;
};

struct Samples {
    std::vector<std::vector<qint64>> perKind; // microseconds
    qint64 requests = 0;
    qint64 failures = 0;
    double seconds = 0;
};

// Runs `clients` threads, each cycling through its kinds for `seconds`.
Samples drive(quint16 port, int clients, double seconds, const std::vector<std::vector<int>> &plan,
              const std::vector<Kind> &kinds) {
    Samples samples;
    samples.perKind.resize(kinds.size());
    std::vector<std::vector<std::vector<qint64>>> local(size_t(clients),
                                                        std::vector<std::vector<qint64>>(kinds.size()));
    std::atomic<qint64> failures{0};
    std::vector<std::thread> threads;
    QElapsedTimer wall;
    wall.start();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            Client client(port);
            const std::vector<int> &cycle = plan[size_t(c) % plan.size()];
            QElapsedTimer clock;
            clock.start();
            for (qint64 iteration = 0; double(clock.elapsed()) / 1000 < seconds; ++iteration) {
                const int kind = cycle[size_t(iteration) % cycle.size()];
                const QByteArray request = kinds[size_t(kind)].request(c, iteration);
                QElapsedTimer one;
                one.start();
                const int status = client.exchange(request);
                local[size_t(c)][size_t(kind)].push_back(one.nsecsElapsed() / 1000);
                if (status != 200 && status != 206) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    samples.seconds = double(wall.nsecsElapsed()) / 1e9;
    for (const auto &perClient : local) {
        for (size_t k = 0; k < kinds.size(); ++k) {
            samples.perKind[k].insert(samples.perKind[k].end(), perClient[k].begin(), perClient[k].end());
            samples.requests += qint64(perClient[k].size());
        }
    }
    samples.failures = failures;
    return samples;
}

void report(const char *title, const Samples &samples, const std::vector<Kind> &kinds) {
    std::printf("\n%s: %lld requests in %.1f s = %.0f requests/s, %lld failed\n", title, samples.requests,
                samples.seconds, double(samples.requests) / samples.seconds, samples.failures);
    std::printf("  %-22s %9s %9s %9s %9s\n", "request", "count", "p50 ms", "p99 ms", "max ms");
    for (size_t k = 0; k < kinds.size(); ++k) {
        if (samples.perKind[k].empty()) {
            continue;
        }
        std::printf("  %-22s %9zu %9.2f %9.2f %9.2f\n", kinds[k].name, samples.perKind[k].size(),
                    percentile(samples.perKind[k], 0.5), percentile(samples.perKind[k], 0.99),
                    percentile(samples.perKind[k], 1.0));
    }
    std::fflush(stdout);
}

QByteArray isoUtc(const QDateTime &at) {
    return at.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'").toLatin1();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(u"rows"_s, u"Visitors in the account."_s, u"n"_s, u"1000000"_s);
    const QCommandLineOption secondsOption(u"seconds"_s, u"Seconds per phase."_s, u"s"_s, u"10"_s);
    const QCommandLineOption clientsOption(u"clients"_s, u"Concurrent connections."_s, u"n"_s, u"8"_s);
    const QCommandLineOption dataOption(u"data"_s, u"Where the database is kept."_s, u"dir"_s,
                                        QString::fromUtf8(TB_BENCH_DATA_DIR));
    const QCommandLineOption termOption(
        u"term"_s, u"Only time this search, one connection, for the seconds."_s, u"text"_s);
    parser.addOptions({rowsOption, secondsOption, clientsOption, dataOption, termOption});
    parser.addHelpOption();
    parser.process(app);
    const qint64 rows = parser.value(rowsOption).toLongLong();
    const double seconds = parser.value(secondsOption).toDouble();
    const int clients = parser.value(clientsOption).toInt();
    const QString folder = parser.value(dataOption) + u"/rows-"_s + QString::number(rows);
    crypto::initialize();

    QFile marker(folder + u"/bench-complete"_s);
    qint64 builtAt = 0;
    if (marker.open(QIODevice::ReadOnly)) {
        builtAt = marker.readAll().split(' ').value(1).trimmed().toLongLong();
    }
    if (builtAt == 0) {
        std::printf("building %lld visitors in %s\n", rows, qPrintable(folder));
        builtAt = QDateTime::currentSecsSinceEpoch();
        buildDatabase(folder, rows, builtAt);
    }
    // The data's "now": the day and week counts are those of the day the database was built.
    const QDateTime now = QDateTime::fromSecsSinceEpoch(builtAt, QTimeZone::utc());

    QProcess server;
    QByteArray output;
    const quint16 port = tallybrook::bench::startServer(server, QString::fromUtf8(TB_SERVER_EXECUTABLE),
                                                        folder, QString::fromLatin1(benchKey), output);
    if (port == 0) {
        std::fprintf(stderr, "the server did not start: %s\n", output.constData());
        return 1;
    }
    const qint64 pid = server.processId();
    std::printf("server pid %lld on port %u, %lld visitors, %d clients, %.0f s per phase\n", pid, port, rows,
                clients, seconds);
    std::printf("memory at start: %s\n", memoryOf(pid).constData());

    QFile secretFile(folder + u"/jwt-secret"_s);
    secretFile.open(QIODevice::ReadOnly);
    const Jwt jwt(QByteArray::fromHex(secretFile.readAll().trimmed()));
    const QByteArray token =
        jwt.sign(QJsonObject{{u"sub"_s, benchUser},
                             {u"session_id"_s, crypto::uuidV4()},
                             {u"role"_s, u"authenticated"_s},
                             {u"aud"_s, u"authenticated"_s},
                             {u"exp"_s, double(QDateTime::currentSecsSinceEpoch() + 86400)}});

    const QDate today = now.date();
    const QByteArray dayStart = isoUtc(today.startOfDay(QTimeZone::utc()));
    const QByteArray weekStart = isoUtc(today.addDays(-(today.dayOfWeek() % 7)).startOfDay(QTimeZone::utc()));
    const QByteArray columns =
        "select=id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,device_name";
    const auto get = [&](const QByteArray &query, bool count) -> QByteArray {
        return "GET /rest/v1/visitors?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\napikey: " + benchKey +
               "\r\nAuthorization: Bearer " + token + "\r\nContent-Type: application/json\r\n" +
               (count ? "Prefer: count=exact\r\n" : "") + "\r\n";
    };
    const QByteArray onSite =
        get(columns + "&order=signed_in_at.desc,id.desc&signed_out_at=is.null&limit=500", false);
    const QByteArray countToday = get("select=id&limit=1&signed_in_at=gte." + dayStart, true);
    const QByteArray countOnSite = get("select=id&limit=1&signed_out_at=is.null", true);
    const QByteArray countWeek = get("select=id&limit=1&signed_in_at=gte." + weekStart, true);
    // What a receptionist types: common and rare name parts, hosts, companies, a badge, nothing at all.
    const QList<QByteArray> terms = {"ann",   "smith",    "garcia",  "globex", "tom becker", "son",
                                     "mar",   "müller",   "o'brien", "b-123",  "interview",  "zzqx",
                                     "chloé", "yamamoto", "ross",    "lee"};
    const auto searchFor = [&](const QByteArray &term, int offset) -> QByteArray {
        return get(columns + "&order=signed_in_at.desc,id.desc&search_text=ilike." +
                       QByteArray("%" + term + "%").toPercentEncoding("*") +
                       "&limit=50&offset=" + QByteArray::number(offset),
                   false);
    };
    const auto searchPage = [&](int client, qint64 iteration) -> QByteArray {
        return searchFor(terms[int((iteration + client * 5) % terms.size())], iteration % 4 == 3 ? 50 : 0);
    };

    // Check the answers once.
    {
        Client client(port);
        QByteArray body;
        for (const QByteArray &request : {onSite, countToday, countOnSite, countWeek}) {
            const int status = client.exchange(request, &body);
            std::printf("  check %d %s\n", status, body.left(80).constData());
        }
        const int status = client.exchange(searchPage(0, 0), &body);
        std::printf("  check search %d, %lld bytes\n", status, qint64(body.size()));
    }

    if (parser.isSet(termOption)) {
        Client client(port);
        std::vector<qint64> times;
        QElapsedTimer clock;
        clock.start();
        while (double(clock.elapsed()) / 1000 < seconds) {
            QElapsedTimer one;
            one.start();
            client.exchange(searchFor(parser.value(termOption).toUtf8(), 50));
            times.push_back(one.nsecsElapsed() / 1000);
        }
        std::printf("%s: %zu searches, p50 %.2f ms, p99 %.2f ms\n", qPrintable(parser.value(termOption)),
                    times.size(), percentile(times, 0.5), percentile(times, 0.99));
        server.terminate();
        server.waitForFinished(10000);
        return 0;
    }

    // Each search alone on one connection: what a single receptionist waits for.
    {
        Client client(port);
        std::printf("\nsearch terms alone (first page, then the page at offset 50), ms:\n");
        for (int t = 0; t < terms.size(); ++t) {
            std::vector<qint64> first;
            std::vector<qint64> second;
            for (int round = 0; round < 5; ++round) {
                for (const int offset : {0, 50}) {
                    QElapsedTimer one;
                    one.start();
                    client.exchange(searchFor(terms[t], offset));
                    (offset == 0 ? first : second).push_back(one.nsecsElapsed() / 1000);
                }
            }
            std::printf("  %-12s %8.2f %8.2f\n", terms[t].constData(), percentile(first, 0.5),
                        percentile(second, 0.5));
        }
    }

    const std::vector<Kind> kinds = {
        {"on-site list", [&](int, qint64) { return onSite; }},
        {"count today", [&](int, qint64) { return countToday; }},
        {"count on site", [&](int, qint64) { return countOnSite; }},
        {"count this week", [&](int, qint64) { return countWeek; }},
        {"search page (50)", searchPage},
    };
    const std::vector<std::vector<int>> poll = {{0, 1, 2, 3}};
    const std::vector<std::vector<int>> search = {{4}};
    std::vector<std::vector<int>> mixed(size_t(clients), std::vector<int>{0, 1, 2, 3});
    mixed.back() = {4};

    drive(port, clients, std::min(2.0, seconds), poll, kinds); // warm-up
    report("poll mix (on-site list + three counts)", drive(port, clients, seconds, poll, kinds), kinds);
    std::printf("memory: %s\n", memoryOf(pid).constData());
    report("search pages", drive(port, clients, seconds, search, kinds), kinds);
    std::printf("memory: %s\n", memoryOf(pid).constData());
    report("mixed: all but one client polling, one searching", drive(port, clients, seconds, mixed, kinds),
           kinds);
    std::printf("memory: %s\n", memoryOf(pid).constData());

    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
