#include "records/DeskError.h"
#include "records/InviteRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tallybrook;

Q_DECLARE_METATYPE(tallybrook::InviteStatus)

// Invites as read, their visit day, status and description, and the body that creates one.
class TestInvites : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reading_data();
    void reading();
    void visitDay_data();
    void visitDay();
    void status_data();
    void status();
    void visitDescription_data();
    void visitDescription();
    void writing();
};

namespace {

QJsonObject parsed(const char *json) {
    return QJsonDocument::fromJson(json).object();
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

void TestInvites::reading_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value"); // replaces `key` in a complete invite
    QTest::addColumn<QString>("error");    // empty: reads, texts kept as received

    const QString prefix = u"The server's answer could not be read: "_s;
    QTest::newRow("unknown key ignored") << u"extra"_s << QJsonValue(1) << QString();
    QTest::newRow("answers null") << u"answers"_s << QJsonValue() << prefix + uR"("answers" is missing.)"_s;
    QTest::newRow("answer slot as text")
        << u"answers"_s << QJsonValue(QJsonArray{parsed(R"({"slot":"1","value":""})")})
        << prefix + uR"("slot" is not a number.)"_s;
}

void TestInvites::reading() {
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(QString, error);

    QJsonObject object = parsed(R"({"id":"7c9e6679-7425-40de-944b-e07fc1f90ae7","token":"tk-1",
        "visitor_name":"Zoë","visitor_email":"zoe@example.com","answers":[{"slot":1,"value":"Acme","label":"Co"},
        {"slot":2,"value":""}],"visit_date":"2025-3-4","visit_time":null,"note":"Parking B",
        "created_at":"2025-03-01T08:00:00.123456+00:00","used_at":"not a time"})");
    object.insert(key, value);
    try {
        const Invite invite = Invite::fromJson(object);
        QVERIFY2(error.isEmpty(), "read an invite that should fail");
        QCOMPARE(invite.answers, (QList<InviteAnswer>{{1, u"Co"_s, u"Acme"_s}, {2, std::nullopt, u""_s}}));
        QCOMPARE(invite.visitDate, std::optional(u"2025-3-4"_s));
        QCOMPARE(invite.visitTime, std::nullopt);
        QCOMPARE(invite.createdAt, u"2025-03-01T08:00:00.123456+00:00"_s);
        QCOMPARE(invite.usedAt, std::optional(u"not a time"_s));
    } catch (const DecodeError &e) {
        QCOMPARE(e.message(), error);
    }
}

void TestInvites::visitDay_data() {
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<QDate>("expected"); // invalid: no visit day

    QTest::newRow("unpadded") << u"2025-3-4"_s << QDate(2025, 3, 4);
    QTest::newRow("non-number piece dropped") << u"2025-x-03-04"_s << QDate(2025, 3, 4);
    QTest::newRow("year and month only") << u"2025-03"_s << QDate();
    QTest::newRow("four numbers") << u"2025-03-04-01"_s << QDate();
    QTest::newRow("February 30 is no day") << u"2025-02-30"_s << QDate();
    QTest::newRow("absent") << QString() << QDate();
}

void TestInvites::visitDay() {
    QFETCH(QString, visitDate);
    QFETCH(QDate, expected);

    // Far from UTC, so a day started at UTC midnight would not compare equal.
    const QTimeZone auckland("Pacific/Auckland");
    const std::optional<QDateTime> day = inviteFor(visitDate).visitDay(auckland);
    QCOMPARE(day.has_value(), expected.isValid());
    if (day)
        QCOMPARE(*day, QDateTime(expected, QTime(0, 0), auckland));
}

void TestInvites::status_data() {
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<QString>("usedAt");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<bool>("past");
    QTest::addColumn<InviteStatus>("expected");

    // "Now" is 23:30 UTC on March 4, already March 5 in Auckland.
    const QDateTime usedYesterday({2025, 3, 3}, {9, 5, 0, 500}, Qt::UTC);
    const QString none;
    QTest::newRow("yesterday, never used")
        << u"2025-03-03"_s << none << "UTC"_ba << true << InviteStatus::expired();
    QTest::newRow("today, not yet used")
        << u"2025-03-04"_s << none << "UTC"_ba << false << InviteStatus::waiting();
    QTest::newRow("past by the local calendar, not UTC")
        << u"2025-03-04"_s << none << "Pacific/Auckland"_ba << true << InviteStatus::expired();
    QTest::newRow("used yesterday, for a past day")
        << u"2025-01-01"_s << u"2025-03-03T10:05:00.5+01:00"_s << "UTC"_ba << true
        << InviteStatus::signedIn(usedYesterday);
    QTest::newRow("used, unreadable time")
        << u"2025-12-24"_s << u"yesterday"_s << "UTC"_ba << false << InviteStatus::signedIn({});
    QTest::newRow("no visit day is never past")
        << none << none << "UTC"_ba << false << InviteStatus::waiting();
    QTest::newRow("year and month only")
        << u"2020-01"_s << none << "UTC"_ba << false << InviteStatus::waiting();
}

void TestInvites::status() {
    QFETCH(QString, visitDate);
    QFETCH(QString, usedAt);
    QFETCH(QByteArray, zone);
    QFETCH(bool, past);
    QFETCH(InviteStatus, expected);

    const QDateTime now({2025, 3, 4}, {23, 30}, Qt::UTC);
    const Invite invite = inviteFor(visitDate, {}, usedAt);
    const InviteStatus status = invite.status(now, QTimeZone(zone));
    QCOMPARE(status.kind, expected.kind);
    QCOMPARE(status.signedInAt, expected.signedInAt);
    QCOMPARE(invite.isPast(now, QTimeZone(zone)), past);
}

void TestInvites::visitDescription_data() {
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<QString>("visitTime");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected"); // null: no description

    QTest::newRow("day only") << u"2025-03-04"_s << QString() << u"en_US"_s << u"Tuesday, March 4"_s;
    QTest::newRow("day and time") << u"2025-03-04"_s << u"14:30"_s << u"en_US"_s
                                  << u"Tuesday, March 4 at 2:30 PM"_s;
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

void TestInvites::visitDescription() {
    QFETCH(QString, visitDate);
    QFETCH(QString, visitTime);
    QFETCH(QString, locale);
    QFETCH(QString, expected);

    QCOMPARE(inviteFor(visitDate, visitTime).visitDescription(QLocale(locale)), optional(expected));
}

void TestInvites::writing() {
    // Absent texts are left out, not written as null.
    NewInvite invite{{{1, u"Acme"_s}, {3, u""_s}}, u"zoe@example.com"_s, u"2025-03-04"_s, {}, u"Gate B"_s};
    QCOMPARE(invite.toJson(), parsed(R"({"answers":[{"slot":1,"value":"Acme"},{"slot":3,"value":""}],
        "email":"zoe@example.com","visit_date":"2025-03-04","note":"Gate B"})"));
}

QTEST_GUILESS_MAIN(TestInvites)
#include "tst_invites.moc"
