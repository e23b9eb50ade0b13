#include "cloud/CloudError.h"

#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;
using Kind = CloudError::Kind;

class TestCloudError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void descriptions_data();
    void descriptions();
    void serverAnswers_data();
    void serverAnswers();
    void websiteAnswers_data();
    void websiteAnswers();
};

void TestCloudError::descriptions_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("text");
    QTest::newRow("server with message") << 0 << u"Password should be at least 6 characters."_s;
    QTest::newRow("server without message") << 1 << u"The server answered 503."_s;
    QTest::newRow("network") << 2 << u"Could not connect to the server."_s;
    QTest::newRow("wrong credentials") << 3 << u"That email and password combination did not work."_s;
    QTest::newRow("email not confirmed")
        << 4 << u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s;
    QTest::newRow("account exists")
        << 5 << u"There's already an account for that email. Sign in with it instead."_s;
    QTest::newRow("signed out") << 6 << u"Your session ended. Please sign in again."_s;
}

void TestCloudError::descriptions() {
    QFETCH(int, which);
    QFETCH(QString, text);
    const CloudError errors[] = {
        CloudError::server(422, u"Password should be at least 6 characters."_s),
        CloudError::server(503, {}),
        CloudError::network(u"Could not connect to the server."_s),
        CloudError::wrongCredentials(),
        CloudError::emailNotConfirmed(),
        CloudError::accountExists(),
        CloudError::signedOut(),
    };
    QCOMPARE(errors[which].message(), text);
    QCOMPARE(QString::fromUtf8(errors[which].what()), text);
}

void TestCloudError::serverAnswers_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");

    const QString wrong = CloudError::wrongCredentials().message();
    QTest::newRow("legacy invalid credentials")
        << 400
        << QByteArray(R"({"code":400,"error_code":"invalid_credentials","msg":"Invalid login credentials"})")
        << Kind::WrongCredentials << wrong;
    QTest::newRow("2024 shape has no error_code: the message shows")
        << 400 << QByteArray(R"({"code":"invalid_credentials","message":"Invalid login credentials"})")
        << Kind::Server << u"Invalid login credentials"_s;
    QTest::newRow("oauth shape, credentials in the description")
        << 400 << QByteArray(R"({"error":"invalid_grant","error_description":"Invalid login credentials"})")
        << Kind::WrongCredentials << wrong;
    QTest::newRow("oauth shape, credentials in capitals")
        << 400 << QByteArray(R"({"error":"invalid_grant","error_description":"BAD CREDENTIALS GIVEN"})")
        << Kind::WrongCredentials << wrong;
    QTest::newRow("oauth shape, other description")
        << 400 << QByteArray(R"({"error":"invalid_grant","error_description":"Refresh Token Not Found"})")
        << Kind::Server << u"Refresh Token Not Found"_s;
    QTest::newRow("error_code not text falls back to error")
        << 400 << QByteArray(R"({"error_code":7,"error":"invalid_credentials"})") << Kind::WrongCredentials
        << wrong;
    QTest::newRow("email not confirmed, any message")
        << 400 << QByteArray(R"({"code":400,"error_code":"email_not_confirmed","msg":"whatever"})")
        << Kind::EmailNotConfirmed << CloudError::emailNotConfirmed().message();
    QTest::newRow("user already exists")
        << 422
        << QByteArray(R"({"code":422,"error_code":"user_already_exists","msg":"User already registered"})")
        << Kind::AccountExists << CloudError::accountExists().message();
    QTest::newRow("email exists") << 422 << QByteArray(R"({"error_code":"email_exists"})")
                                  << Kind::AccountExists << CloudError::accountExists().message();
    QTest::newRow("weak password shows the server's text")
        << 422
        << QByteArray(
               R"({"code":422,"error_code":"weak_password","msg":"Password should be at least 6 characters.","weak_password":{"reasons":["length"]}})")
        << Kind::Server << u"Password should be at least 6 characters."_s;
    QTest::newRow("msg wins over message")
        << 400 << QByteArray(R"({"message":"second","msg":"first"})") << Kind::Server << u"first"_s;
    QTest::newRow("non-text msg skipped")
        << 400 << QByteArray(R"({"msg":{"a":1},"error_description":"described"})") << Kind::Server
        << u"described"_s;
    QTest::newRow("rest error body")
        << 400
        << QByteArray(
               R"({"code":"42703","details":null,"hint":null,"message":"column visitors.banana does not exist"})")
        << Kind::Server << u"column visitors.banana does not exist"_s;
    QTest::newRow("gateway without key")
        << 401
        << QByteArray(R"({"message":"No API key found in request","hint":"No `apikey` request header"})")
        << Kind::Server << u"No API key found in request"_s;
    QTest::newRow("html 500") << 500
                              << QByteArray("<html><body><h1>500 Internal Server Error</h1></body></html>")
                              << Kind::Server << u"The server answered 500."_s;
    QTest::newRow("empty body") << 503 << QByteArray() << Kind::Server << u"The server answered 503."_s;
    QTest::newRow("json array") << 502 << QByteArray(R"(["error","msg"])") << Kind::Server
                                << u"The server answered 502."_s;
    QTest::newRow("json string") << 400 << QByteArray(R"("invalid_credentials")") << Kind::Server
                                 << u"The server answered 400."_s;
    QTest::newRow("invalid utf-8") << 400 << QByteArray("{\"msg\":\"\xff\xfe\"") << Kind::Server
                                   << u"The server answered 400."_s;
    QTest::newRow("truncated json") << 429
                                    << QByteArray(R"({"error_code":"over_request_rate_limit","msg":"Req)")
                                    << Kind::Server << u"The server answered 429."_s;
    QTest::newRow("rate limit")
        << 429
        << QByteArray(
               R"({"code":429,"error_code":"over_request_rate_limit","msg":"Request rate limit reached"})")
        << Kind::Server << u"Request rate limit reached"_s;
}

void TestCloudError::serverAnswers() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    const CloudError error = parseServerError(status, body);
    QCOMPARE(error.kind(), kind);
    QCOMPARE(error.message(), text);
    if (kind == Kind::Server) {
        QCOMPARE(error.status(), status);
    }
}

void TestCloudError::websiteAnswers_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::newRow("error text") << 422 << QByteArray(R"({"error":"That visit date has passed."})")
                                << u"That visit date has passed."_s;
    QTest::newRow("html 500") << 500 << QByteArray("<!doctype html><title>oops</title>")
                              << u"The server answered 500."_s;
    QTest::newRow("error not text") << 422 << QByteArray(R"({"error":{"code":1}})")
                                    << u"The server answered 422."_s;
    QTest::newRow("auth-style body is not read")
        << 400 << QByteArray(R"({"error_code":"invalid_credentials","msg":"Invalid login credentials"})")
        << u"The server answered 400."_s;
}

void TestCloudError::websiteAnswers() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    const CloudError error = parseWebsiteError(status, body);
    QCOMPARE(error.kind(), Kind::Server);
    QCOMPARE(error.status(), status);
    QCOMPARE(error.message(), text);
}

QTEST_GUILESS_MAIN(TestCloudError)
#include "tst_clouderror.moc"
