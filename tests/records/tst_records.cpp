#include "records/DeskError.h"
#include "records/EmailAddress.h"
#include "records/InviteRecords.h"
#include "records/JsonRead.h"
#include "records/SetupRecords.h"
#include "records/Timestamps.h"
#include "records/VisitorRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace tallybrook;

using Decode = std::function<void()>;
Q_DECLARE_METATYPE(Decode)
Q_DECLARE_METATYPE(tallybrook::InviteStatus)

namespace {

const QString prefix = u"The server's answer could not be read: "_s;

QJsonObject parsed(const QByteArray &json) {
    return QJsonDocument::fromJson(json).object();
}

// `value` replaces `key`; an undefined value removes the key.
QJsonObject changed(QJsonObject object, const QString &key, const QJsonValue &value) {
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

// The identifier in capitals, as the desk writes it; a sign-out time with microseconds and an offset.
const QJsonObject visitorJson = parsed(R"({"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","visitor_name":"Zoë",
    "host_name":"Ann","answers":[{"label":"Company","value":"Acme 🎉"}],"signed_in_at":"2025-03-04T09:05:12Z",
    "signed_out_at":"2025-03-04T11:00:00.000123+01:00","list_name":"Visitors","device_name":"Front desk",
    "search_text":"zoë"})");
const QJsonObject formJson =
    parsed(R"({"fields":[{"slot":0,"label":"Name","type":"Plain Text","required":true,
    "employee_list":false},{"slot":1,"label":"Sign here","type":"Signature","required":false,"employee_list":true}],
    "employees":["Ann","Łukasz"],"place_name":"Brook St"})");
const QJsonObject alertsJson = parsed(R"({"office_webhook":"","notify_sign_in":true,"notify_sign_out":false,
    "employee_webhooks":{"Ann":"https://a.example/1","Zoë":"https://a.example/2"}})");
const QJsonObject inviteJson = parsed(R"({"id":"7c9e6679-7425-40de-944b-e07fc1f90ae7","token":"tk-1",
    "visitor_name":"Zoë","visitor_email":"zoe@example.com","answers":[{"slot":1,"value":"Acme","label":"Co"},
    {"slot":2,"value":""}],"visit_date":"2025-3-4","visit_time":null,"note":"Parking B",
    "created_at":"2025-03-01T08:00:00.123456+00:00","used_at":"not a time","extra":1})");

template<class Record>
Decode decoding(const QJsonObject &base, const QString &key, const QJsonValue &value) {
    return [object = changed(base, key, value)] { static_cast<void>(Record::fromJson(object)); };
}

// In the tables a null QString stands for an absent text.
std::optional<QString> optional(const QString &text) {
    return text.isNull() ? std::nullopt : std::optional(text);
}

Invite inviteFor(const QString &visitDate, const QString &visitTime = {}, const QString &usedAt = {}) {
    Invite invite;
    invite.visitDate = optional(visitDate);
    invite.visitTime = optional(visitTime);
    invite.usedAt = optional(usedAt);
    return invite;
}

} // namespace

// The wire records: timestamps, email addresses, visitor rows, the setup and invites, as read (or refused
// with the sentence the desk shows) and as written back.
class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void timestamps_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("milliseconds"); // of 09:05:12 UTC on March 4, 2025; -1: unreadable
        QTest::newRow("microseconds cut to milliseconds") << u"2025-03-04T09:05:12.123456+00:00"_s << 123;
        QTest::newRow("one fraction digit is tenths") << u"2025-03-04T09:05:12.5Z"_s << 500;
        QTest::newRow("west offset, previous day") << u"2025-03-03T23:35:12-09:30"_s << 0;
        QTest::newRow("month 13") << u"2025-13-01T00:00:00Z"_s << -1;
        QTest::newRow("no zone") << u"2025-03-04T09:05:12"_s << -1;
        QTest::newRow("trailing text") << u"2025-03-04T09:05:12Z!"_s << -1;
    }
    void timestamps() {
        QFETCH(QString, text);
        QFETCH(int, milliseconds);
        QCOMPARE(readTimestamp(text), milliseconds < 0
                                          ? std::optional<QDateTime>()
                                          : QDateTime({2025, 3, 4}, {9, 5, 12, milliseconds}, Qt::UTC));
        // Written: milliseconds dropped, converted from a zone west of UTC into the next UTC day.
        const QDateTime evening({2025, 3, 3}, {22, 5, 0, 789}, QTimeZone("America/New_York"));
        QCOMPARE(writeTimestamp(evening), u"2025-03-04T03:05:00Z"_s);
    }

    void emailAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("letters beyond ASCII") << u"zo\u00eb@\u0142ukasz.example"_s << true;
        QTest::newRow("dot only before the at sign") << u"ann.lee@example"_s << false;
        QTest::newRow("two at signs") << u"ann@work@example.com"_s << false;
        QTest::newRow("nothing before the at sign") << u"@example.com"_s << false;
        QTest::newRow("ends with the dot") << u"ann@example."_s << false;
        QTest::newRow("no-break space inside") << u"ann\u00a0lee@example.com"_s << false;
        QTest::newRow("zero-width space inside") << u"ann\u200blee@example.com"_s << false;
        QTest::newRow("byte order mark in front") << u"\ufeffann@example.com"_s << false;
    }
    void emailAddress() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isEmailAddress(text), valid);
    }

    void decodeErrors_data() {
        QTest::addColumn<Decode>("decode");
        QTest::addColumn<QString>("error");
        const auto body = [](const char *name, const QByteArray &bytes, const QString &detail) {
            QTest::newRow(name) << Decode([bytes] {
                static_cast<void>(json::decodeArray<VisitorAnswer>(bytes));
            }) << prefix + detail;
        };
        const auto visitor = [](const char *name, const QString &key, const QJsonValue &value,
                                const QString &detail) {
            QTest::newRow(name) << decoding<VisitorRow>(visitorJson, key, value) << prefix + detail;
        };
        const auto field = [](const char *name, const char *json, const QString &detail) {
            QTest::newRow(name) << decoding<KioskSettings>(formJson, u"fields"_s, QJsonArray{parsed(json)})
                                << prefix + detail;
        };
        body("truncated body", R"([{"label":"a")", u"it is not valid JSON."_s);
        body("object, not a list", R"({"label":"a"})", u"it is not a list."_s);
        body("list of numbers", "[1,2]", u"a record is not an object."_s);
        QTest::newRow("sign-in date alone")
            << decoding<VisitorRow>(visitorJson, u"signed_in_at"_s, u"2025-03-04"_s) << u"Bad timestamp"_s;
        visitor("null visitor name", u"visitor_name"_s, QJsonValue::Null, uR"("visitor_name" is missing.)"_s);
        visitor("host as list", u"host_name"_s, QJsonArray(), uR"("host_name" is not text.)"_s);
        visitor("answers as text", u"answers"_s, u"Acme"_s, uR"("answers" is not a list.)"_s);
        visitor("id in braces", u"id"_s, u"{7c9e6679-7425-40de-944b-e07fc1f90ae7}"_s,
                uR"("id" is not an identifier.)"_s);
        field("slot 1.5", R"({"slot":1.5,"label":"","type":"","required":true,"employee_list":false})",
              uR"("slot" is not a whole number.)"_s);
        field("required as 1", R"({"slot":1,"label":"","type":"","required":1,"employee_list":false})",
              uR"("required" is not true or false.)"_s);
        QTest::newRow("employee as number")
            << decoding<KioskSettings>(formJson, u"employees"_s, QJsonArray{u"A"_s, 7})
            << prefix + uR"("employees" holds an entry that is not text.)"_s;
        QTest::newRow("webhook as number")
            << decoding<NotificationSettings>(alertsJson, u"employee_webhooks"_s, parsed(R"({"Ann":1})"))
            << prefix + uR"("employee_webhooks" holds an entry that is not text.)"_s;
        QTest::newRow("invite answer slot as text")
            << decoding<Invite>(inviteJson, u"answers"_s, QJsonArray{parsed(R"({"slot":"1","value":""})")})
            << prefix + uR"("slot" is not a number.)"_s;
    }
    void decodeErrors() {
        QFETCH(Decode, decode);
        QFETCH(QString, error);
        try {
            decode();
            QFAIL("read a record that should fail");
        } catch (const DecodeError &e) {
            QCOMPARE(e.message(), error);
        }
    }

    void readingRecords() {
        const VisitorRow full{QUuid(u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s),
                              u"Zoë"_s,
                              u"Ann"_s,
                              {{u"Company"_s, u"Acme 🎉"_s}},
                              QDateTime({2025, 3, 4}, {9, 5, 12}, Qt::UTC),
                              QDateTime({2025, 3, 4}, {10, 0}, Qt::UTC),
                              u"Visitors"_s,
                              u"Front desk"_s};
        QVERIFY(VisitorRow::fromJson(visitorJson) == full);
        // An unreadable or null sign-out time reads as still on site; null answers as none.
        VisitorRow expected = full;
        expected.signedOutAt.reset();
        QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"signed_out_at"_s, u"later"_s)) == expected);
        QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"signed_out_at"_s, QJsonValue::Null)).isOnSite());
        QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"answers"_s, QJsonValue::Null)).answers.isEmpty());

        // An invite's texts are kept as received, readable or not.
        const Invite invite = Invite::fromJson(inviteJson);
        QCOMPARE(invite.answers, (QList<InviteAnswer>{{1, u"Co"_s, u"Acme"_s}, {2, std::nullopt, u""_s}}));
        QCOMPARE(invite.usedAt, std::optional(u"not a time"_s));

        // The setup: unknown keys are dropped; a field type this desk does not know survives as text.
        const KioskSettings form = KioskSettings::fromJson(changed(formJson, u"updated_at"_s, 1));
        QCOMPARE(form.toJson(), formJson);
        QCOMPARE(form.fields.at(0).fieldType(), std::optional(FieldType::PlainText));
        QCOMPARE(form.fields.at(1).fieldType(), std::nullopt);
        // The upsert merges only the keys it is sent: no place name must be written to clear the stored one.
        const QJsonObject nullPlace = changed(formJson, u"place_name"_s, QJsonValue::Null);
        QCOMPARE(KioskSettings::fromJson(changed(formJson, u"place_name"_s, QJsonValue::Undefined)).toJson(),
                 nullPlace);
        QCOMPARE(NotificationSettings::fromJson(alertsJson).toJson(), alertsJson);
    }

    // An invite's visit day as the desk reads it: whether it is past, the invite's status, and how it is
    // described; "now" is 23:30 UTC on March 4, already March 5 in Auckland.
    void invites_data() {
        QTest::addColumn<QString>("visitDate");
        QTest::addColumn<QString>("visitTime");
        QTest::addColumn<QString>("usedAt");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("past");
        QTest::addColumn<InviteStatus>("status");
        QTest::addColumn<QString>("description"); // null: no description
        const auto row = [](const char *name, const QString &visitDate, const QString &visitTime,
                            const QString &usedAt, bool past, const InviteStatus &status,
                            const QString &description, const QByteArray &zone = "UTC",
                            const QString &locale = u"en_US"_s) {
            QTest::newRow(name) << visitDate << visitTime << usedAt << zone << locale << past << status
                                << description;
        };
        const QString none;
        const InviteStatus waiting = InviteStatus::waiting(), expired = InviteStatus::expired();
        row("yesterday, never used", u"2025-03-03"_s, none, none, true, expired, u"Monday, March 3"_s);
        row("today, not yet used; an hour alone adds no time", u"2025-03-04"_s, u"14"_s, none, false, waiting,
            u"Tuesday, March 4"_s);
        row("past by the local calendar, not UTC; hour 25 adds no time", u"2025-03-04"_s, u"25:00"_s, none,
            true, expired, u"Tuesday, March 4"_s, "Pacific/Auckland");
        row("unpadded, non-number piece dropped, seconds ignored", u"2025-x-3-3"_s, u"9:5:59"_s, none, true,
            expired, u"Monday, March 3 at 9:05 AM"_s);
        row("used, for a past day", u"2025-01-01"_s, none, u"2025-03-03T10:05:00.5+01:00"_s, true,
            InviteStatus::signedIn(QDateTime({2025, 3, 3}, {9, 5, 0, 500}, Qt::UTC)),
            u"Wednesday, January 1"_s);
        row("no visit day is never past", none, u"14:30"_s, none, false, waiting, none);
        row("year and month only", u"2020-01"_s, none, none, false, waiting, none);
        row("February 30 is no day", u"2025-02-30"_s, none, none, false, waiting, none);
        // Other locales arrange the day their own way, always without the year.
        const QString day = u"2025-03-04"_s;
        row("Spanish", day, none, none, false, waiting, u"martes, 4 de marzo"_s, "UTC", u"es_ES"_s);
        row("Russian", day, none, none, false, waiting, u"вторник, 4 марта"_s, "UTC", u"ru_RU"_s);
        row("Japanese", day, none, none, false, waiting, u"3月4日火曜日"_s, "UTC", u"ja_JP"_s);
    }
    void invites() {
        QFETCH(QString, visitDate);
        QFETCH(QString, visitTime);
        QFETCH(QString, usedAt);
        QFETCH(QByteArray, zone);
        QFETCH(QString, locale);
        QFETCH(bool, past);
        QFETCH(InviteStatus, status);
        QFETCH(QString, description);
        const QDateTime now({2025, 3, 4}, {23, 30}, Qt::UTC);
        const Invite invite = inviteFor(visitDate, visitTime, usedAt);
        QCOMPARE(invite.status(now, QTimeZone(zone)), status);
        QCOMPARE(invite.isPast(now, QTimeZone(zone)), past);
        QCOMPARE(invite.visitDescription(QLocale(locale)), optional(description));
        // The visit day starts at midnight in the zone, not at UTC's.
        if (const std::optional<QDateTime> day = invite.visitDay(QTimeZone(zone)))
            QCOMPARE(*day, QDateTime(day->date(), QTime(0, 0), QTimeZone(zone)));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
