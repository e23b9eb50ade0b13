#include "DemoSeed.h"

#include "auth/UserStore.h"
#include "core/Crypto.h"
#include "core/ServerContext.h"
#include "rest/SearchText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimeZone>

#include <random>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

const QString demoEmail = u"demo@tallybrook.local"_s;
const QString demoPassword = u"tallybrook-demo"_s;

const QStringList employees = {
    u"Zoë Adeyemi"_s,      u"Łukasz Nowak"_s,   u"Amélie Durand"_s,   u"Søren Kjær"_s,
    u"Nguyễn Thị Mai"_s,   u"José Álvarez"_s,   u"Aisha Rahman"_s,    u"Björn Lindqvist"_s,
    u"Siobhán O'Connor"_s, u"Kenji Watanabe"_s, u"Priya Natarajan"_s, u"Chidi Okafor"_s,
};
const QStringList firstNames = {
    u"Ana"_s,     u"Ben"_s,   u"Camille"_s, u"Dmitri"_s,    u"Elif"_s,    u"Farah"_s,
    u"Gustavo"_s, u"Hana"_s,  u"Ioana"_s,   u"Jakub"_s,     u"Kwame"_s,   u"Leilani"_s,
    u"Márton"_s,  u"Noor"_s,  u"Olumide"_s, u"Paulina"_s,   u"Quentin"_s, u"Rosa"_s,
    u"Sven"_s,    u"Tamar"_s, u"Umar"_s,    u"Valentina"_s, u"Wei"_s,     u"Ximena"_s,
    u"Yusuf"_s,   u"Zofia"_s, u"Renée"_s,   u"Jürgen"_s,    u"Chloé"_s,   u"Thandiwe"_s,
};
const QStringList lastNames = {
    u"Almeida"_s, u"Bauer"_s,    u"Castillo"_s, u"Demir"_s,     u"Eriksen"_s, u"Fujita"_s,   u"García"_s,
    u"Horváth"_s, u"Ivanova"_s,  u"Jansen"_s,   u"Kowalczyk"_s, u"Lefèvre"_s, u"Mensah"_s,   u"Novák"_s,
    u"Osei"_s,    u"Petrović"_s, u"Quinn"_s,    u"Rossi"_s,     u"Sato"_s,    u"Tanaka"_s,   u"Varga"_s,
    u"Wójcik"_s,  u"Yılmaz"_s,   u"Zhang"_s,    u"Ó Briain"_s,  u"Müller"_s,  u"Nakamura"_s,
};
const QStringList companies = {
    u"Northwind Logistics"_s, u"Bluefin Analytics"_s,    u"Kestrel & Partners"_s,  u"Maple Street Bakery"_s,
    u"Orbit Facilities"_s,    u"Helix Biotech"_s,        u"Quayside Legal"_s,      u"Atlas Couriers"_s,
    u"Brightwater Energy"_s,  u"Cobalt Design Studio"_s, u"Fernhill Architects"_s, u"Lumen Print Co."_s,
};

// Labels of the demo form, by slot.
const QString nameLabel = u"Name"_s;
const QString companyLabel = u"Company"_s;
const QString hostLabel = u"Who are you visiting?"_s;
const QString emailLabel = u"Email"_s;
const QString phoneLabel = u"Phone"_s;

QJsonObject field(int slot, const QString &label, const QString &type, bool required, bool employeeList) {
    return {{u"slot"_s, slot},
            {u"label"_s, label},
            {u"type"_s, type},
            {u"required"_s, required},
            {u"employee_list"_s, employeeList}};
}

// Letters and digits only, accents dropped: for made-up email addresses.
QString asciiWord(const QString &text) {
    QString word;
    for (const QChar c : text.normalized(QString::NormalizationForm_KD).toLower()) {
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
            word += c;
        } else if (c == u'ł') {
            word += u'l';
        } else if (c == u'ø') {
            word += u'o';
        } else if (c == u'ı') {
            word += u'i';
        }
    }
    return word;
}

QByteArray compact(const QJsonArray &array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

class Seeder {
public:
    Seeder(ServerContext &context, QString ownerId)
        : m_context(context), m_ownerId(std::move(ownerId)),
          m_now(QDateTime::fromSecsSinceEpoch(context.nowSeconds(), QTimeZone::systemTimeZone())),
          m_today(m_now.date()) {}

    void settings() {
        const QJsonArray fields{
            field(0, nameLabel, u"Plain Text"_s, true, false),
            field(1, companyLabel, u"Plain Text"_s, false, false),
            field(2, hostLabel, u"Plain Text"_s, true, true),
            field(3, emailLabel, u"Email"_s, false, false),
            field(4, phoneLabel, u"Phone"_s, false, false),
        };
        const QByteArray now = m_context.timestampNow();
        Statement kiosk = m_context.db().prepare("INSERT INTO kiosk_settings (owner_id, fields, employees, "
                                                 "place_name, updated_at) VALUES (?1, ?2, ?3, ?4, ?5)");
        kiosk.bind(1, m_ownerId)
            .bindText(2, compact(fields))
            .bindText(3, compact(QJsonArray::fromStringList(employees)));
        kiosk.bind(4, u"Harbour Street Studio, 2nd floor"_s).bindText(5, now);
        kiosk.run();
        Statement alerts = m_context.db().prepare(
            "INSERT INTO notification_settings (owner_id, office_webhook, notify_sign_in, notify_sign_out, "
            "employee_webhooks, updated_at) VALUES (?1, '', 1, 0, '{}', ?2)");
        alerts.bind(1, m_ownerId).bindText(2, now);
        alerts.run();
    }

    // About 150 visitors: the weekdays of the past four weeks, and today with some still on site.
    void visitors() {
        for (int daysAgo = 28; daysAgo >= 1; --daysAgo) {
            const QDate day = m_today.addDays(-daysAgo);
            if (day.dayOfWeek() >= 6) {
                continue;
            }
            const int count = pick(6, 9);
            for (int i = 0; i < count; ++i) {
                const QDateTime in = at(day, pick(8 * 60 + 10, 16 * 60 + 45));
                pastVisitor(in);
            }
        }
        visitorsToday();
    }

    void invites() {
        const QDate usedDay = lastWeekdayBefore(m_today.addDays(-2));
        const QDateTime usedAt = at(usedDay, 9 * 60 + 58);
        const auto day = [this](int offset) { return m_today.addDays(offset).toString(u"yyyy-MM-dd"); };
        invite({u"Ingrid Halvorsen"_s, u"Brightwater Energy"_s, employees.at(0)}, day(2), u"10:00"_s,
               u"Please bring photo ID; parking is behind the building."_s, {}, m_now.addSecs(-3 * 3600));
        invite({u"Mateo Fernández"_s, u"Fernhill Architects"_s, employees.at(5)}, day(7), QString(),
               QString(), {}, m_now.addSecs(-26 * 3600));
        invite({u"Nomvula Dlamini"_s, u"Quayside Legal"_s, employees.at(6)}, day(0), u"15:30"_s, QString(),
               {}, m_now.addDays(-2));
        invite({u"Oliver Brandt"_s, u"Northwind Logistics"_s, employees.at(7)}, day(-5), u"11:00"_s,
               QString(), {}, m_now.addDays(-9));
        const Guest sakura{u"Sakura Itō"_s, u"Helix Biotech"_s, employees.at(4)};
        invite(sakura, usedDay.toString(u"yyyy-MM-dd"), u"10:00"_s, QString(),
               ServerContext::timestamp(usedAt), m_now.addDays(-8));
        // The invited guest who came, in the visitor log as the desk signed her in.
        visitor(sakura.name, sakura.company, sakura.host, usedAt, usedAt.addSecs(74 * 60));
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    QDateTime at(const QDate &day, int minuteOfDay) {
        return QDateTime(day, QTime(minuteOfDay / 60, minuteOfDay % 60, pick(0, 59)),
                         QTimeZone::systemTimeZone());
    }

    static QDate lastWeekdayBefore(QDate day) {
        while (day.dayOfWeek() >= 6) {
            day = day.addDays(-1);
        }
        return day;
    }

    QString someone() {
        return firstNames.at(pick(0, int(firstNames.size()) - 1)) + u' ' +
               lastNames.at(pick(0, int(lastNames.size()) - 1));
    }
    QString someCompany() {
        return chance(85) ? companies.at(pick(0, int(companies.size()) - 1)) : QString();
    }
    QString someHost() { return employees.at(pick(0, int(employees.size()) - 1)); }

    void pastVisitor(const QDateTime &in) {
        const QDateTime out = std::min(in.addSecs(pick(15, 240) * 60),
                                       QDateTime(in.date(), QTime(18, 40), QTimeZone::systemTimeZone()));
        visitor(someone(), someCompany(), someHost(), in, out);
    }

    void visitorsToday() {
        const QDateTime dayStart = m_today.startOfDay(QTimeZone::systemTimeZone());
        const QDateTime lastMinute = m_now.addSecs(-60);
        QDateTime from = QDateTime(m_today, QTime(8, 0), QTimeZone::systemTimeZone());
        QDateTime until =
            std::min(lastMinute, QDateTime(m_today, QTime(17, 30), QTimeZone::systemTimeZone()));
        if (until < from.addSecs(30 * 60)) {
            // Early in the day: the last few hours before now, never before midnight.
            from = std::max(dayStart.addSecs(60), m_now.addSecs(-4 * 3600));
            until = lastMinute;
        }
        if (until <= from) {
            return;
        }
        const int count = 8;
        QList<QDateTime> times;
        for (int i = 0; i < count; ++i) {
            times.append(
                from.addSecs(std::uniform_int_distribution<qint64>(0, from.secsTo(until))(m_random)));
        }
        std::sort(times.begin(), times.end());
        for (int i = 0; i < times.size(); ++i) {
            const QDateTime out = times[i].addSecs(pick(20, 150) * 60);
            // The latest arrivals are still here; earlier ones left unless their visit runs on.
            const bool onSite = i >= times.size() - 3 || out >= lastMinute;
            visitor(someone(), someCompany(), someHost(), times[i], onSite ? QDateTime() : out);
        }
    }

    void visitor(const QString &name, const QString &company, const QString &host, const QDateTime &in,
                 const QDateTime &out) {
        QJsonArray answers;
        const auto answer = [&answers](const QString &label, const QString &value) {
            if (!value.isEmpty()) {
                answers.append(QJsonObject{{u"label"_s, label}, {u"value"_s, value}});
            }
        };
        answer(companyLabel, company);
        answer(hostLabel, host);
        if (chance(55)) {
            answer(emailLabel, emailFor(name, company));
        }
        if (chance(35)) {
            answer(phoneLabel, u"+1 555 01%1"_s.arg(pick(0, 99), 2, 10, QLatin1Char('0')));
        }
        Statement insert =
            m_context.db().prepare("INSERT INTO visitors (id, owner_id, device_record_id, visitor_name, "
                                   "host_name, answers, signed_in_at, "
                                   "signed_out_at, list_name, device_name, search_text, created_at) "
                                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, NULL, ?9, ?10, ?7)");
        insert.bind(1, crypto::uuidV4()).bind(2, m_ownerId).bind(3, crypto::uuidV4().toUpper());
        insert.bind(4, name).bind(5, host).bindText(6, compact(answers));
        insert.bindText(7, ServerContext::timestamp(in));
        insert.bind(8, out.isValid() ? QVariant(ServerContext::timestamp(out)) : QVariant());
        insert.bind(9, chance(80) ? u"Front Desk"_s : u"Lobby iPad"_s);
        insert.bindText(10, searchTextFor(name, host, answers));
        insert.run();
    }

    static QString emailFor(const QString &name, const QString &company) {
        const QStringList parts = name.split(u' ');
        const QString domain = company.isEmpty() ? u"mail"_s : asciiWord(company);
        return asciiWord(parts.constFirst()) + u'.' + asciiWord(parts.constLast()) + u'@' + domain +
               u".example"_s;
    }

    struct Guest {
        QString name;
        QString company;
        QString host;
    };

    void invite(const Guest &guest, const QString &visitDate, const QString &visitTime, const QString &note,
                const QByteArray &usedAt, const QDateTime &createdAt) {
        const QString email = emailFor(guest.name, guest.company);
        const QJsonArray answers{
            QJsonObject{{u"slot"_s, 0}, {u"label"_s, nameLabel}, {u"value"_s, guest.name}},
            QJsonObject{{u"slot"_s, 1}, {u"label"_s, companyLabel}, {u"value"_s, guest.company}},
            QJsonObject{{u"slot"_s, 2}, {u"label"_s, hostLabel}, {u"value"_s, guest.host}},
            QJsonObject{{u"slot"_s, 3}, {u"label"_s, emailLabel}, {u"value"_s, email}},
        };
        Statement insert = m_context.db().prepare(
            "INSERT INTO invites (id, owner_id, token, visitor_name, visitor_email, answers, visit_date, "
            "visit_time, "
            "note, created_at, used_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        insert.bind(1, crypto::uuidV4()).bind(2, m_ownerId).bindText(3, crypto::randomToken());
        insert.bind(4, guest.name).bind(5, email).bindText(6, compact(answers)).bind(7, visitDate);
        insert.bind(8, visitTime.isEmpty() ? QVariant() : QVariant(visitTime));
        insert.bind(9, note.isEmpty() ? QVariant() : QVariant(note));
        insert.bindText(10, ServerContext::timestamp(std::min(createdAt, m_now)));
        insert.bind(11, usedAt.isEmpty() ? QVariant() : QVariant(usedAt));
        insert.run();
    }

    ServerContext &m_context;
    QString m_ownerId;
    QDateTime m_now;
    QDate m_today;
    // A fixed seed: every fresh demo looks alike, which helps when describing it.
    std::mt19937 m_random{20250304};
};

} // namespace

DemoAccount seedDemoAccount(ServerContext &context) {
    DemoAccount demo{demoEmail, demoPassword, false};
    UserStore users(context);
    if (users.findByEmail(demoEmail)) {
        return demo;
    }
    context.db().transaction([&] {
        const UserRecord user = users.create(demoEmail, demoPassword.toUtf8(),
                                             QJsonObject{{u"name"_s, u"Front Desk Demo"_s}}, true);
        Seeder seeder(context, user.id);
        seeder.settings();
        seeder.visitors();
        seeder.invites();
    });
    demo.created = true;
    return demo;
}

} // namespace tbserver
