// Composed emails and the invitation, read back by Python's email package and zbarimg.
#include "core/Crypto.h"
#include "mail/Invitation.h"
#include "mail/MailMessage.h"
#include "mail/QrPng.h"
#include "support/MailReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace tbserver;
using tallybrook::testing::readMailBack;
using namespace Qt::StringLiterals;

namespace {

const MailAddress desk{u"Front Desk"_s, u"desk@example.com"_s};

} // namespace

class TestMailMessage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { crypto::initialize(); }

    void readsBack_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("structure");
        const QString zoe = u"Zoë Ångström-Øberg 山田"_s, kit = u"Kit \"The Cat\" O'Hara, Jr. \\"_s;
        const QString latin =
            u"Grüße!\nLonger than a mail line, = =3D "_s + QString(90, u'x') + u" \n.\n\tno end"_s;
        const QString japanese = u"山田様、ようこそ。受付でお名前をお伝えください。"_s.repeated(4);
        const QString html = u"<p>Grüße <img src=\"cid:code@example.com\" alt=\"code\"></p>\n"_s;
        QTest::newRow("non-ascii, base64") << zoe << u"Ihre Einladung – 山田様へのご招待 – "_s.repeated(5)
                                           << japanese << QString() << u"text/plain"_s;
        QTest::newRow("specials, quoted-printable, html")
            << kit << u"A subject that is folded, "_s.repeated(9) << latin << html
            << u"multipart/alternative(text/plain,text/html)"_s;
        QTest::newRow("header injection, image")
            << u"Eve\r\nBcc: victim@example.com"_s << u"Hi\r\nX-Injected: yes\n\n=?utf-8?q?x?="_s << japanese
            << html << u"multipart/alternative(text/plain,multipart/related(text/html,image/png))"_s;
    }

    void readsBack() {
        QFETCH(QString, name);
        QFETCH(QString, subject);
        QFETCH(QString, text);
        QFETCH(QString, html);
        QFETCH(QString, structure);
        MailMessage message{{name, u"guest@bücher.example"_s}, subject, text, html, {}};
        // A picture given without HTML is left out: nothing would show it.
        if (html.isEmpty() || structure.contains(u"image")) {
            message.images.append({"code@example.com", "image/png", u"código.png"_s, qrCodePng("scan me")});
        }
        const QByteArray id = newMessageId("example.com");
        QVERIFY(
            QRegularExpression(u"^<[0-9a-f]{32}@example\\.com>$"_s).match(QLatin1StringView(id)).hasMatch());
        const QDateTime date(QDate(2025, 3, 4), QTime(15, 30, 5), Qt::OffsetFromUTC, 3600);
        const QJsonObject found = readMailBack(composeMessage(message, desk, id, date));
        QVERIFY(!found.isEmpty());
        QCOMPARE(found[u"headers"].toVariant().toStringList().join(u' '),
                 u"From To Subject Date Message-ID MIME-Version Content-Type"_s +
                     (html.isEmpty() ? u" Content-Transfer-Encoding"_s : QString()));
        // Line breaks come back as spaces, never as a header of their own.
        QCOMPARE(found[u"to"][u"name"].toString(), name.replace(u'\r', u' ').replace(u'\n', u' '));
        QCOMPARE(found[u"subject"].toString(), subject.replace(u'\r', u' ').replace(u'\n', u' '));
        QCOMPARE(found[u"to"][u"address"].toString(), u"guest@xn--bcher-kva.example"_s);
        QCOMPARE(found[u"from"][u"name"].toString(), desk.name);
        QCOMPARE(found[u"date"].toString(), u"2025-03-04T14:30:05+00:00"_s);
        QCOMPARE(found[u"messageId"].toString(), QLatin1StringView(id));
        QCOMPARE(found[u"structure"].toString(), structure);
        QCOMPARE(found[u"plain"].toString(), text);
        QCOMPARE(found[u"html"].toString(), html);
        if (structure.contains(u"image")) {
            const QJsonObject image = found[u"images"][0].toObject();
            QCOMPARE(image[u"cid"].toString() + image[u"filename"].toString(),
                     u"<code@example.com>código.png"_s);
            QCOMPARE(image[u"qr"].toString(), u"scan me"_s);
        }
    }

    void invitation_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("text");
        const QString end =
            u"\nYour invitation: http://127.0.0.1:8080/i/AbC-dEf_123?x=1&y=2\n\nWhen you arrive, tell the "
            u"front desk your name: your answers are ready and signing in takes a moment.\n"_s;
        QTest::newRow("host, place and note")
            << u"Grace Hopper"_s << u"Brook & Co <HQ>"_s << u"Bring <b>ID</b>.\nParking at the back."_s
            << u"You're invited to Brook & Co <HQ>"_s
            << u"Hello Zoë O'Brien,\n\nGrace Hopper has invited you to visit at Brook & Co <HQ>.\nWhen: Any "
               u"day\n\n"
               u"Bring <b>ID</b>.\nParking at the back.\n"_s +
                   end;
        QTest::newRow("none of them")
            << QString() << QString() << QString() << u"You're invited"_s
            << u"Hello Zoë O'Brien,\n\nYou are invited to visit.\nWhen: Any day\n"_s + end;
    }

    void invitation() {
        QFETCH(QString, host);
        QFETCH(QString, place);
        QFETCH(QString, note);
        QFETCH(QString, subject);
        QFETCH(QString, text);
        const QString link = u"http://127.0.0.1:8080/i/AbC-dEf_123?x=1&y=2"_s;
        const MailMessage message = invitationMessage(
            {u"Zoë O'Brien"_s, u"zoe@example.com"_s, host, place, u"Any day"_s, note, link});
        const QJsonObject found =
            readMailBack(composeMessage(message, desk, newMessageId("example.com"), {}));
        QVERIFY(!found.isEmpty());
        QCOMPARE(found[u"to"][u"address"].toString(), u"zoe@example.com"_s);
        QCOMPARE(found[u"subject"].toString(), subject);
        QCOMPARE(found[u"plain"].toString(), text);
        const QString html = found[u"html"].toString();
        const QJsonObject image = found[u"images"][0].toObject();
        QCOMPARE(image[u"qr"].toString(), link);
        // 43 bytes take version 4 at level M: 33 modules and 4 of quiet zone on each side, 6 pixels each.
        QCOMPARE(image[u"width"].toInt(), (33 + 8) * 6);
        QVERIFY(html.contains(u"<img src=\"cid:"_s + image[u"cid"].toString().mid(1).chopped(1) +
                              u"\" alt=\""_s));
        QVERIFY(html.contains(u"<a href=\"http://127.0.0.1:8080/i/AbC-dEf_123?x=1&amp;y=2\">"_s));
        QVERIFY(html.contains(u"<p>Hello Zoë O'Brien,</p>"_s) && !html.contains(u"<HQ>") &&
                !html.contains(u"<b>"));
        QCOMPARE(html.contains(u"Brook &amp; Co &lt;HQ&gt;"_s), !place.isEmpty());
        QCOMPARE(html.contains(u"&lt;b&gt;ID&lt;/b&gt;.<br>Parking"_s), !note.isEmpty());
    }

    // Longer than any QR code holds, or no pixels per module: no picture at all.
    void qrCodeRefused() {
        QVERIFY(qrCodePng(QByteArray(3000, 'a')).isEmpty());
        QVERIFY(qrCodePng("HELLO", 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
