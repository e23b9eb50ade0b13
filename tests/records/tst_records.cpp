#include "records/DeskError.h"
#include "records/SetupRecords.h"
#include "records/VisitorRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tallybrook;

Q_DECLARE_METATYPE(tallybrook::VisitorRow)
Q_DECLARE_METATYPE(tallybrook::NewVisitor)

// Visitor log rows and the two setup records: what reads, what fails, and what is written back.
class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void visitorRow_data();
    void visitorRow();
    void newVisitor_data();
    void newVisitor();
    void setup_data();
    void setup();
};

namespace {

const QString prefix = u"The server's answer could not be read: "_s;

QJsonObject parsed(const QByteArray &json) {
    return QJsonDocument::fromJson(json).object();
}

// `value` replaces `key` in a complete record; an undefined value removes the key.
QJsonObject changed(QJsonObject object, const QString &key, const QJsonValue &value) {
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

void row(const char *name, const char16_t *key, const QJsonValue &value, const VisitorRow &expected,
         const QString &error = {}) {
    QTest::newRow(name) << QString::fromUtf16(key) << value << expected << error;
}

} // namespace

void TestRecords::visitorRow_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<VisitorRow>("expected");
    QTest::addColumn<QString>("error"); // empty: reads as expected

    const QJsonValue removed(QJsonValue::Undefined), null(QJsonValue::Null);
    const VisitorRow full{QUuid(u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s),
                          u"Zoë Łukasz"_s,
                          u"Ann"_s,
                          {{u"Company"_s, u"Acme 🎉"_s}},
                          QDateTime({2025, 3, 4}, {9, 5, 12}, Qt::UTC),
                          QDateTime({2025, 3, 4}, {10, 0}, Qt::UTC),
                          u"Visitors"_s,
                          u"Front desk"_s};
    VisitorRow onSite = full, noAnswers = full, noHost = full;
    onSite.signedOutAt.reset();
    noAnswers.answers.clear();
    noHost.hostName.reset();

    row("unknown key ignored", u"search_text", u"zoë"_s, full);
    row("sign-in date alone", u"signed_in_at", u"2025-03-04"_s, {}, u"Bad timestamp"_s);
    row("sign-in missing", u"signed_in_at", removed, {}, prefix + uR"("signed_in_at" is missing.)"_s);
    row("sign-in as number", u"signed_in_at", 1741079112, {}, prefix + uR"("signed_in_at" is not text.)"_s);
    row("sign-out garbage reads as on site", u"signed_out_at", u"later"_s, onSite);
    row("sign-out null reads as on site", u"signed_out_at", null, onSite);
    row("no answers read as empty", u"answers", removed, noAnswers);
    row("null answers read as empty", u"answers", null, noAnswers);
    row("answers as text", u"answers", u"Acme"_s, {}, prefix + uR"("answers" is not a list.)"_s);
    row("answer without value", u"answers", QJsonArray{parsed(R"({"label":"C"})")}, {},
        prefix + uR"("value" is missing.)"_s);
    row("no host", u"host_name", removed, noHost);
    row("null host", u"host_name", null, noHost);
    row("host as list", u"host_name", QJsonArray(), {}, prefix + uR"("host_name" is not text.)"_s);
    row("null visitor name", u"visitor_name", null, {}, prefix + uR"("visitor_name" is missing.)"_s);
    row("id in braces", u"id", u"{7c9e6679-7425-40de-944b-e07fc1f90ae7}"_s, {},
        prefix + uR"("id" is not an identifier.)"_s);
}

void TestRecords::visitorRow() {
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(VisitorRow, expected);
    QFETCH(QString, error);

    const QJsonObject complete =
        parsed(R"({"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","visitor_name":"Zoë Łukasz",
        "host_name":"Ann","answers":[{"label":"Company","value":"Acme 🎉"}],"signed_in_at":"2025-03-04T09:05:12Z",
        "signed_out_at":"2025-03-04T11:00:00.000123+01:00","list_name":"Visitors","device_name":"Front desk"})");
    try {
        const VisitorRow read = VisitorRow::fromJson(changed(complete, key, value));
        QVERIFY2(error.isEmpty(), "read a row that should fail");
        QVERIFY(read == expected);
        QCOMPARE(read.isOnSite(), !expected.signedOutAt);
    } catch (const DecodeError &e) {
        QCOMPARE(e.message(), error);
    }
}

void TestRecords::newVisitor_data() {
    QTest::addColumn<NewVisitor>("visitor");
    QTest::addColumn<QJsonObject>("expected");

    NewVisitor visitor{QUuid(u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s),
                       u"rec-1"_s,
                       u"Zoë"_s,
                       u"Ann"_s,
                       {{u"Company"_s, u"Acme"_s}},
                       QDateTime({2025, 3, 4}, {10, 5, 0, 450}, Qt::OffsetFromUTC, 3600),
                       u"Front desk"_s};
    const QByteArray common = R"("owner_id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","device_record_id":"rec-1",
        "visitor_name":"Zoë","signed_in_at":"2025-03-04T09:05:00Z","device_name":"Front desk")";
    QTest::newRow("with host and answers")
        << visitor
        << parsed('{' + common + R"(,"host_name":"Ann","answers":[{"label":"Company","value":"Acme"}]})");
    visitor.hostName.reset();
    visitor.answers.clear();
    QTest::newRow("no host written as null")
        << visitor << parsed('{' + common + R"(,"host_name":null,"answers":[]})");
}

void TestRecords::newVisitor() {
    QFETCH(NewVisitor, visitor);
    QFETCH(QJsonObject, expected);

    QCOMPARE(visitor.toJson(), expected);
}

void TestRecords::setup_data() {
    QTest::addColumn<bool>("kiosk"); // otherwise the alert settings
    QTest::addColumn<QJsonObject>("read");
    QTest::addColumn<QJsonObject>("written");
    QTest::addColumn<QString>("error"); // empty: reads, and writes `written`

    const QJsonObject form =
        parsed(R"({"fields":[{"slot":0,"label":"Name","type":"Plain Text","required":true,
        "employee_list":false},{"slot":1,"label":"Sign here","type":"Signature","required":false,
        "employee_list":true}],"employees":["Ann","Łukasz"],"place_name":"Brook St"})");
    const QJsonObject alerts = parsed(R"({"office_webhook":"","notify_sign_in":true,"notify_sign_out":false,
        "employee_webhooks":{"Ann":"https://a.example/1","Zoë":"https://a.example/2"}})");
    const QJsonObject noPlace = changed(form, u"place_name"_s, QJsonValue::Undefined);
    auto withField = [&form](const char *slotAndRequired) {
        const QByteArray field =
            R"({"label":"","type":"","employee_list":false,)" + QByteArray(slotAndRequired) + '}';
        return changed(form, u"fields"_s, QJsonArray{parsed(field)});
    };

    QTest::newRow("unknown field type survives")
        << true << changed(form, u"updated_at"_s, 1) << form << QString();
    // The upsert merges only the keys it is sent: no place name must be written to clear the stored one.
    const QJsonObject nullPlace = changed(form, u"place_name"_s, QJsonValue::Null);
    QTest::newRow("no place name writes null") << true << noPlace << nullPlace << QString();
    QTest::newRow("null place name writes null") << true << nullPlace << nullPlace << QString();
    QTest::newRow("slot 1.5") << true << withField(R"("slot":1.5,"required":true)") << QJsonObject()
                              << prefix + uR"("slot" is not a whole number.)"_s;
    QTest::newRow("required as 1") << true << withField(R"("slot":1,"required":1)") << QJsonObject()
                                   << prefix + uR"("required" is not true or false.)"_s;
    QTest::newRow("employee as number")
        << true << changed(form, u"employees"_s, QJsonArray{u"Ann"_s, 7}) << QJsonObject()
        << prefix + uR"("employees" holds an entry that is not text.)"_s;
    QTest::newRow("alert settings") << false << alerts << alerts << QString();
    QTest::newRow("webhook as number")
        << false << changed(alerts, u"employee_webhooks"_s, parsed(R"({"Ann":1})")) << QJsonObject()
        << prefix + uR"("employee_webhooks" holds an entry that is not text.)"_s;
    QTest::newRow("flag missing") << false << changed(alerts, u"notify_sign_out"_s, QJsonValue::Undefined)
                                  << QJsonObject() << prefix + uR"("notify_sign_out" is missing.)"_s;
}

void TestRecords::setup() {
    QFETCH(bool, kiosk);
    QFETCH(QJsonObject, read);
    QFETCH(QJsonObject, written);
    QFETCH(QString, error);

    try {
        const QJsonObject again =
            kiosk ? KioskSettings::fromJson(read).toJson() : NotificationSettings::fromJson(read).toJson();
        QVERIFY2(error.isEmpty(), "read a record that should fail");
        QCOMPARE(again, written);
        if (kiosk) { // the known kind reads as its type; the newer one is kept only as text
            const QList<KioskField> fields = KioskSettings::fromJson(read).fields;
            QCOMPARE(fields.at(0).fieldType(), std::optional(FieldType::PlainText));
            QCOMPARE(fields.at(1).fieldType(), std::nullopt);
        }
    } catch (const DecodeError &e) {
        QCOMPARE(e.message(), error);
    }
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
