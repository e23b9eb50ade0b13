#include "cloud/CloudError.h"

#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;
using Kind = CloudError::Kind;

class TestCloudError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
};

void TestCloudError::answers_data() {
    QTest::addColumn<bool>("website");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, bool website, int status, const QByteArray &body, Kind kind,
                        const QString &text) {
        QTest::newRow(name) << website << status << body << kind << text;
    };

    const QString wrong = u"That email and password combination did not work."_s;
    const QString exists = u"There's already an account for that email. Sign in with it instead."_s;
    row("invalid credentials", false, 400,
        R"({"code":400,"error_code":"invalid_credentials","msg":"Invalid login"})", Kind::WrongCredentials,
        wrong);
    row("2024 shape has no error_code: the message shows", false, 400,
        R"({"code":"invalid_credentials","message":"Invalid login credentials"})", Kind::Server,
        u"Invalid login credentials"_s);
    row("oauth shape, credentials in the description, any case", false, 400,
        R"({"error":"invalid_grant","error_description":"BAD CREDENTIALS GIVEN"})", Kind::WrongCredentials,
        wrong);
    row("oauth shape, other description", false, 400,
        R"({"error":"invalid_grant","error_description":"Refresh Token Not Found"})", Kind::Server,
        u"Refresh Token Not Found"_s);
    row("error_code not text falls back to error", false, 400,
        R"({"error_code":7,"error":"invalid_credentials"})", Kind::WrongCredentials, wrong);
    row("email not confirmed, any message", false, 400,
        R"({"error_code":"email_not_confirmed","msg":"whatever"})", Kind::EmailNotConfirmed,
        u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s);
    row("user already exists", false, 422,
        R"({"error_code":"user_already_exists","msg":"User already registered"})", Kind::AccountExists,
        exists);
    row("email exists", false, 422, R"({"error_code":"email_exists"})", Kind::AccountExists, exists);
    row("weak password shows the server's text", false, 422,
        R"({"error_code":"weak_password","msg":"Password should be at least 6 characters."})", Kind::Server,
        u"Password should be at least 6 characters."_s);
    row("msg wins over message", false, 400, R"({"message":"second","msg":"first"})", Kind::Server,
        u"first"_s);
    row("non-text msg skipped", false, 400, R"({"msg":{"a":1},"error_description":"described"})",
        Kind::Server, u"described"_s);
    row("rest error body", false, 400,
        R"({"code":"42703","details":null,"hint":null,"message":"no column x"})", Kind::Server,
        u"no column x"_s);
    row("html 503", false, 503, "<html><body><h1>503 Service Unavailable</h1></body></html>", Kind::Server,
        u"The server answered 503."_s);
    row("website error text", true, 422, R"({"error":"That visit date has passed."})", Kind::Server,
        u"That visit date has passed."_s);
    row("website html 500", true, 500, "<!doctype html><title>oops</title>", Kind::Server,
        u"The server answered 500."_s);
    row("website ignores an auth-style body", true, 400,
        R"({"error_code":"invalid_credentials","msg":"Invalid login credentials"})", Kind::Server,
        u"The server answered 400."_s);
}

void TestCloudError::answers() {
    QFETCH(bool, website);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    const CloudError error = website ? parseWebsiteError(status, body) : parseServerError(status, body);
    QCOMPARE(error.kind(), kind);
    QCOMPARE(error.message(), text);
    QCOMPARE(error.status(), kind == Kind::Server ? status : 0);
}

QTEST_GUILESS_MAIN(TestCloudError)
#include "tst_clouderror.moc"
