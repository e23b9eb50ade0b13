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

// The wire records: timestamps, email addresses, visitor rows, the setup and invites, as read (or refused
// with the sentence the desk shows) and as written back.
class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void timestamps_data();
    void timestamps();
    void emailAddress_data();
    void emailAddress();
    void decodeErrors_data();
    void decodeErrors();
    void visitorRows();
    void setupRoundTrip();
    void readingInvites();
    void inviteStatus_data();
    void inviteStatus();
    void visitDescription_data();
    void visitDescription();
    void writtenRecords();
};

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

void TestRecords::timestamps_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: unreadable
    const auto row = [](const char *name, const char16_t *text, int ms = -1) {
        QTest::newRow(name) << QString::fromUtf16(text)
                            << (ms < 0 ? QDateTime() : QDateTime({2025, 3, 4}, {9, 5, 12, ms}, Qt::UTC));
    };
    row("microseconds cut to milliseconds", u"2025-03-04T09:05:12.123456+00:00", 123);
    row("whole seconds, Z", u"2025-03-04T09:05:12Z", 0);
    row("one fraction digit is tenths", u"2025-03-04T09:05:12.5Z", 500);
    row("west offset, previous day", u"2025-03-03T23:35:12-09:30", 0);
    row("east offset", u"2025-03-04T11:05:12+02:00", 0);
    row("month 13", u"2025-13-01T00:00:00Z");
    row("no zone", u"2025-03-04T09:05:12");
    row("trailing text", u"2025-03-04T09:05:12Z!");
}

void TestRecords::timestamps() {
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const std::optional<QDateTime> read = readTimestamp(text);
    QCOMPARE(read.value_or(QDateTime()), expected);
    if (read)
        QCOMPARE(read->timeSpec(), Qt::UTC);
    // Written: milliseconds dropped, converted from a zone west of UTC into the next UTC day.
    const QDateTime evening({2025, 3, 3}, {22, 5, 0, 789}, QTimeZone("America/New_York"));
    QCOMPARE(writeTimestamp(evening), u"2025-03-04T03:05:00Z"_s);
}

void TestRecords::emailAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("subdomains") << u"a@mail.example.co.uk"_s << true;
    QTest::newRow("letters beyond ASCII") << u"zo\u00eb@\u0142ukasz.example"_s << true;
    QTest::newRow("dot only before the at sign") << u"ann.lee@example"_s << false;
    QTest::newRow("two at signs") << u"ann@work@example.com"_s << false;
    QTest::newRow("nothing before the at sign") << u"@example.com"_s << false;
    QTest::newRow("dot right after the at sign") << u"ann@.com"_s << false;
    QTest::newRow("ends with the dot") << u"ann@example."_s << false;
    QTest::newRow("tab at the end") << u"ann@example.com\t"_s << false;
    QTest::newRow("no-break space inside") << u"ann\u00a0lee@example.com"_s << false;
    QTest::newRow("zero-width space inside") << u"ann\u200blee@example.com"_s << false;
    QTest::newRow("byte order mark in front") << u"\ufeffann@example.com"_s << false;
}

void TestRecords::emailAddress() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isEmailAddress(text), valid);
}

void TestRecords::decodeErrors_data() {
    QTest::addColumn<Decode>("decode");
    QTest::addColumn<QString>("error");
    const auto body = [](const QByteArray &bytes) -> Decode {
        return [bytes] { static_cast<void>(json::decodeArray<VisitorAnswer>(bytes)); };
    };
    const auto visitor = [](const QString &key, const QJsonValue &value) {
        return decoding<VisitorRow>(visitorJson, key, value);
    };
    const auto field = [](const char *json) {
        return decoding<KioskSettings>(formJson, u"fields"_s, QJsonArray{parsed(json)});
    };
    const auto row = [](const char *name, const Decode &decode, const QString &detail) {
        QTest::newRow(name) << decode << prefix + detail;
    };
    row("truncated body", body(R"([{"label":"a")"), u"it is not valid JSON."_s);
    row("empty body", body({}), u"it is not valid JSON."_s);
    row("object, not a list", body(R"({"label":"a"})"), u"it is not a list."_s);
    row("list of numbers", body("[1,2]"), u"a record is not an object."_s);
    QTest::newRow("sign-in date alone") << visitor(u"signed_in_at"_s, u"2025-03-04"_s) << u"Bad timestamp"_s;
    row("sign-in missing", visitor(u"signed_in_at"_s, QJsonValue::Undefined),
        uR"("signed_in_at" is missing.)"_s);
    row("sign-in as number", visitor(u"signed_in_at"_s, 1741079112), uR"("signed_in_at" is not text.)"_s);
    row("null visitor name", visitor(u"visitor_name"_s, QJsonValue::Null),
        uR"("visitor_name" is missing.)"_s);
    row("host as list", visitor(u"host_name"_s, QJsonArray()), uR"("host_name" is not text.)"_s);
    row("answers as text", visitor(u"answers"_s, u"Acme"_s), uR"("answers" is not a list.)"_s);
    row("answer without value", visitor(u"answers"_s, QJsonArray{parsed(R"({"label":"C"})")}),
        uR"("value" is missing.)"_s);
    row("id in braces", visitor(u"id"_s, u"{7c9e6679-7425-40de-944b-e07fc1f90ae7}"_s),
        uR"("id" is not an identifier.)"_s);
    row("slot 1.5", field(R"({"slot":1.5,"label":"","type":"","required":true,"employee_list":false})"),
        uR"("slot" is not a whole number.)"_s);
    row("required as 1", field(R"({"slot":1,"label":"","type":"","required":1,"employee_list":false})"),
        uR"("required" is not true or false.)"_s);
    row("employee as number", decoding<KioskSettings>(formJson, u"employees"_s, QJsonArray{u"A"_s, 7}),
        uR"("employees" holds an entry that is not text.)"_s);
    row("webhook as number",
        decoding<NotificationSettings>(alertsJson, u"employee_webhooks"_s, parsed(R"({"Ann":1})")),
        uR"("employee_webhooks" holds an entry that is not text.)"_s);
    row("alert flag missing",
        decoding<NotificationSettings>(alertsJson, u"notify_sign_out"_s, QJsonValue::Undefined),
        uR"("notify_sign_out" is missing.)"_s);
    row("invite answer slot as text",
        decoding<Invite>(inviteJson, u"answers"_s, QJsonArray{parsed(R"({"slot":"1","value":""})")}),
        uR"("slot" is not a number.)"_s);
}

void TestRecords::decodeErrors() {
    QFETCH(Decode, decode);
    QFETCH(QString, error);
    try {
        decode();
        QFAIL("read a record that should fail");
    } catch (const DecodeError &e) {
        QCOMPARE(e.message(), error);
    }
}

void TestRecords::visitorRows() {
    const VisitorRow full{QUuid(u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s),
                          u"Zoë"_s,
                          u"Ann"_s,
                          {{u"Company"_s, u"Acme 🎉"_s}},
                          QDateTime({2025, 3, 4}, {9, 5, 12}, Qt::UTC),
                          QDateTime({2025, 3, 4}, {10, 0}, Qt::UTC),
                          u"Visitors"_s,
                          u"Front desk"_s};
    QVERIFY(VisitorRow::fromJson(visitorJson) == full);
    QVERIFY(!full.isOnSite());
    // An unreadable or null sign-out time reads as still on site; a missing host or null answers as none.
    VisitorRow expected = full;
    expected.signedOutAt.reset();
    QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"signed_out_at"_s, u"later"_s)) == expected);
    QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"signed_out_at"_s, QJsonValue::Null)).isOnSite());
    expected = full;
    expected.hostName.reset();
    QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"host_name"_s, QJsonValue::Undefined)) == expected);
    QVERIFY(VisitorRow::fromJson(changed(visitorJson, u"answers"_s, QJsonValue::Null)).answers.isEmpty());
}

void TestRecords::setupRoundTrip() {
    // Unknown keys are dropped; a field type this desk does not know survives as text.
    const KioskSettings form = KioskSettings::fromJson(changed(formJson, u"updated_at"_s, 1));
    QCOMPARE(form.toJson(), formJson);
    QCOMPARE(form.fields.at(0).fieldType(), std::optional(FieldType::PlainText));
    QCOMPARE(form.fields.at(1).fieldType(), std::nullopt);
    // The upsert merges only the keys it is sent: no place name must be written to clear the stored one.
    const QJsonObject nullPlace = changed(formJson, u"place_name"_s, QJsonValue::Null);
    QCOMPARE(KioskSettings::fromJson(changed(formJson, u"place_name"_s, QJsonValue::Undefined)).toJson(),
             nullPlace);
    QCOMPARE(KioskSettings::fromJson(nullPlace).toJson(), nullPlace);
    QCOMPARE(NotificationSettings::fromJson(alertsJson).toJson(), alertsJson);
}

void TestRecords::readingInvites() {
    // Texts are kept as received, readable or not; a null answers list is refused.
    const Invite invite = Invite::fromJson(inviteJson);
    QCOMPARE(invite.answers, (QList<InviteAnswer>{{1, u"Co"_s, u"Acme"_s}, {2, std::nullopt, u""_s}}));
    QCOMPARE(invite.visitDate, std::optional(u"2025-3-4"_s));
    QCOMPARE(invite.visitTime, std::nullopt);
    QCOMPARE(invite.createdAt, u"2025-03-01T08:00:00.123456+00:00"_s);
    QCOMPARE(invite.usedAt, std::optional(u"not a time"_s));
    QVERIFY_THROWS_EXCEPTION(DecodeError, static_cast<void>(Invite::fromJson(
                                              changed(inviteJson, u"answers"_s, QJsonValue::Null))));
}

void TestRecords::inviteStatus_data() {
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<QString>("usedAt");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<bool>("past");
    QTest::addColumn<InviteStatus>("expected");
    // "Now" is 23:30 UTC on March 4, already March 5 in Auckland.
    const QString none;
    const QByteArray utc = "UTC";
    QTest::newRow("yesterday, never used")
        << u"2025-03-03"_s << none << utc << true << InviteStatus::expired();
    QTest::newRow("today, not yet used")
        << u"2025-03-04"_s << none << utc << false << InviteStatus::waiting();
    QTest::newRow("past by the local calendar, not UTC")
        << u"2025-03-04"_s << none << "Pacific/Auckland"_ba << true << InviteStatus::expired();
    QTest::newRow("unpadded, non-number piece dropped")
        << u"2025-x-3-3"_s << none << utc << true << InviteStatus::expired();
    QTest::newRow("used, for a past day")
        << u"2025-01-01"_s << u"2025-03-03T10:05:00.5+01:00"_s << utc << true
        << InviteStatus::signedIn(QDateTime({2025, 3, 3}, {9, 5, 0, 500}, Qt::UTC));
    QTest::newRow("used, unreadable time")
        << u"2025-12-24"_s << u"yesterday"_s << utc << false << InviteStatus::signedIn({});
    QTest::newRow("no visit day is never past") << none << none << utc << false << InviteStatus::waiting();
    QTest::newRow("year and month only") << u"2020-01"_s << none << utc << false << InviteStatus::waiting();
    QTest::newRow("four numbers") << u"2020-01-01-01"_s << none << utc << false << InviteStatus::waiting();
    QTest::newRow("February 30 is no day")
        << u"2025-02-30"_s << none << utc << false << InviteStatus::waiting();
}

void TestRecords::inviteStatus() {
    QFETCH(QString, visitDate);
    QFETCH(QString, usedAt);
    QFETCH(QByteArray, zone);
    QFETCH(bool, past);
    QFETCH(InviteStatus, expected);
    const QDateTime now({2025, 3, 4}, {23, 30}, Qt::UTC);
    const Invite invite = inviteFor(visitDate, {}, usedAt);
    QCOMPARE(invite.status(now, QTimeZone(zone)), expected);
    QCOMPARE(invite.isPast(now, QTimeZone(zone)), past);
    // The visit day starts at midnight in the zone, not at UTC's.
    if (const std::optional<QDateTime> day = invite.visitDay(QTimeZone(zone)))
        QCOMPARE(*day, QDateTime(day->date(), QTime(0, 0), QTimeZone(zone)));
}

void TestRecords::visitDescription_data() {
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<QString>("visitTime");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected"); // null: no description
    QTest::newRow("day only") << u"2025-03-04"_s << QString() << u"en_US"_s << u"Tuesday, March 4"_s;
    QTest::newRow("unpadded, seconds ignored")
        << u"2025-3-4"_s << u"9:5:59"_s << u"en_US"_s << u"Tuesday, March 4 at 9:05 AM"_s;
    QTest::newRow("hour alone: day only")
        << u"2025-03-04"_s << u"14"_s << u"en_US"_s << u"Tuesday, March 4"_s;
    QTest::newRow("hour 25: day only")
        << u"2025-03-04"_s << u"25:00"_s << u"en_US"_s << u"Tuesday, March 4"_s;
    // Other locales arrange the day their own way, always without the year.
    QTest::newRow("German") << u"2025-03-04"_s << u"14:30"_s << u"de_DE"_s << u"Dienstag, 4. März at 14:30"_s;
    QTest::newRow("Spanish") << u"2025-03-04"_s << QString() << u"es_ES"_s << u"martes, 4 de marzo"_s;
    QTest::newRow("Russian") << u"2025-03-04"_s << QString() << u"ru_RU"_s << u"вторник, 4 марта"_s;
    QTest::newRow("Japanese") << u"2025-03-04"_s << QString() << u"ja_JP"_s << u"3月4日火曜日"_s;
    QTest::newRow("no visit day") << u"2025-03"_s << u"14:30"_s << u"en_US"_s << QString();
}

void TestRecords::visitDescription() {
    QFETCH(QString, visitDate);
    QFETCH(QString, visitTime);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(inviteFor(visitDate, visitTime).visitDescription(QLocale(locale)), optional(expected));
}

void TestRecords::writtenRecords() {
    // A new visitor: the owner in capitals, the time at UTC in whole seconds, no host written as null.
    NewVisitor visitor{QUuid(u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s),
                       u"rec-1"_s,
                       u"Zoë"_s,
                       u"Ann"_s,
                       {{u"Company"_s, u"Acme"_s}},
                       QDateTime({2025, 3, 4}, {10, 5, 0, 450}, QTimeZone(3600)),
                       u"Front desk"_s};
    const QByteArray common = R"("owner_id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","device_record_id":"rec-1",
        "visitor_name":"Zoë","signed_in_at":"2025-03-04T09:05:00Z","device_name":"Front desk")";
    QCOMPARE(visitor.toJson(),
             parsed('{' + common + R"(,"host_name":"Ann","answers":[{"label":"Company","value":"Acme"}]})"));
    visitor.hostName.reset();
    visitor.answers.clear();
    QCOMPARE(visitor.toJson(), parsed('{' + common + R"(,"host_name":null,"answers":[]})"));
    // A new invite: absent texts are left out, not written as null.
    const NewInvite invite{
        {{1, u"Acme"_s}, {3, u""_s}}, u"zoe@example.com"_s, u"2025-03-04"_s, {}, u"Gate B"_s};
    QCOMPARE(invite.toJson(), parsed(R"({"answers":[{"slot":1,"value":"Acme"},{"slot":3,"value":""}],
        "email":"zoe@example.com","visit_date":"2025-03-04","note":"Gate B"})"));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
