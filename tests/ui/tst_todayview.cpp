#include "DeskTestSupport.h"
#include "ui/EmptyState.h"
#include "ui/MessageBox.h"
#include "ui/OnSiteModel.h"
#include "ui/RollCallSheet.h"
#include "ui/SavePanel.h"
#include "ui/SignInSheet.h"
#include "ui/TodayView.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QComboBox>
#include <QMessageBox>
#include <QScrollBar>
#include <QUrlQuery>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

namespace {

const QUuid user(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

QUuid idOf(const QString &name) {
    return QUuid::createUuidV5(user, name);
}

// "Ann" is on site; "Ann*" is Ann with another host.
VisitorRow rowOf(const QString &tag) {
    VisitorRow row;
    row.visitorName = QString(tag).remove(u'*');
    row.id = idOf(row.visitorName);
    row.signedInAt = QDateTime(QDate(2025, 3, 4), QTime(8, 30), Qt::UTC);
    row.hostName = tag.endsWith(u'*') ? u"Bo"_s : u"Ann Lee"_s;
    return row;
}

// "V0" to "V<count - 1>".
QList<VisitorRow> manyRows(int count) {
    QList<VisitorRow> rows;
    for (int i = 0; i < count; ++i) {
        rows.append(rowOf(u"V"_s + QString::number(i)));
    }
    return rows;
}

QList<VisitorRow> rowsOf(const QString &tags) {
    QList<VisitorRow> rows;
    for (const QString &tag : tags.split(u' ', Qt::SkipEmptyParts)) {
        rows.append(rowOf(tag));
    }
    return rows;
}

// The account's lobby as the REST service keeps it: visitors signed in and out, a form left at its default.
struct Lobby {
    QList<QJsonObject> visitors;
    QJsonArray invites;
    QSet<QString> failingSignOuts; // by visitor name
    bool failInserts = false;
    bool unreachable = false;
    int inserts = 0;

    ScriptedAnswer answer(const RecordedRequest &request) {
        if (unreachable) {
            return ScriptedAnswer::json(503, R"({"message":"The service is unavailable"})");
        }
        const QUrlQuery query(QString::fromUtf8(request.rawQuery));
        const bool onSiteOnly = query.queryItemValue(u"signed_out_at"_s) == u"is.null";
        if (request.path.endsWith("/invites")) {
            return ScriptedAnswer::json(request.method == "GET" ? 200 : 204,
                                        request.method == "GET" ? QJsonDocument(invites).toJson() : "");
        }
        if (!request.path.endsWith("/visitors")) {
            return ScriptedAnswer::json(200, "[]");
        }
        if (request.method == "POST") {
            ++inserts;
            if (failInserts) {
                return ScriptedAnswer::json(500, R"({"message":"The lobby is full"})");
            }
            QJsonObject row = QJsonDocument::fromJson(request.body).object();
            row.insert(u"id"_s, QUuid::createUuid().toString(QUuid::WithoutBraces));
            visitors.append(row);
            return ScriptedAnswer::json(201, QJsonDocument(QJsonArray{row}).toJson());
        }
        if (request.method == "PATCH") {
            const QString id = query.queryItemValue(u"id"_s).mid(3);
            for (QJsonObject &row : visitors) {
                if (row.value(u"id").toString() == id) {
                    if (failingSignOuts.contains(row.value(u"visitor_name").toString())) {
                        return ScriptedAnswer::json(500, R"({"message":"try later"})");
                    }
                    row.insert(u"signed_out_at"_s, u"2025-03-04T17:00:00Z"_s);
                }
            }
            return ScriptedAnswer::json(200, QJsonDocument(QJsonArray{QJsonObject{{u"id"_s, id}}}).toJson());
        }
        QJsonArray shown;
        for (const QJsonObject &row : std::as_const(visitors)) {
            if (!onSiteOnly || row.value(u"signed_out_at").isNull()) {
                shown.append(row);
            }
        }
        if (request.rawQuery.startsWith("select=id&")) {
            return ScriptedAnswer::json(206, "[]",
                                        {{"Content-Range", "0-0/" + QByteArray::number(shown.size())}});
        }
        return ScriptedAnswer::json(200, QJsonDocument(shown).toJson());
    }

    void signIn(const QString &name) {
        visitors.append({{u"id"_s, idOf(name).toString(QUuid::WithoutBraces)},
                         {u"visitor_name"_s, name},
                         {u"host_name"_s, QJsonValue::Null},
                         {u"answers"_s, QJsonArray{}},
                         {u"signed_in_at"_s, u"2025-03-04T08:30:00Z"_s},
                         {u"signed_out_at"_s, QJsonValue::Null}});
    }
};

// What the list's widgets show, row for row.
QList<VisitorRow> listed(const OnSiteList &list) {
    QList<VisitorRow> rows;
    for (int i = 0; i < list.count(); ++i) {
        rows.append(list.rowAt(i)->row());
    }
    return rows;
}

// A list of `count` rows in a small window, shown, the rows' height settled; more than the first batch
// builds.
struct ShownList {
    explicit ShownList(int count) : rows(manyRows(count)) {
        list.resize(400, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        model.setRows(rows);
        QVERIFY(list.count() < rows.size());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    QList<VisitorRow> rows;
    OnSiteModel model;
    OnSiteList list{model};
};

// An invite for this day whose form answers give the email.
QJsonObject invite(const QString &name, const QString &day, const QString &email) {
    return inviteJson(name, {{u"visitor_email"_s, email},
                             {u"visit_date"_s, day},
                             {u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 1}, {u"value"_s, email}}}}});
}

// Picks an entry as a person would, so the sheet hears of it.
void choose(QComboBox *picker, int index) {
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
}

// The accessible element of this role and name under `root`, whose description contains `description`.
QAccessibleInterface *findAccessible(QAccessibleInterface *root, QAccessible::Role role, const QString &name,
                                     const QString &description = {}) {
    if (root->role() == role && root->text(QAccessible::Name) == name &&
        root->text(QAccessible::Description).contains(description)) {
        return root;
    }
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface *found = findAccessible(root->child(i), role, name, description)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

// The Today screen and the sign-in sheet, on real widgets, against a scripted lobby.
class TestTodayView : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    Lobby m_lobby;

    void startDesk() {
        m_f->startAgainst(user, [this](const RecordedRequest &request) { return m_lobby.answer(request); });
    }
    void refresh() { QVERIFY(awaitTask(m_f->model->refresh()).succeeded()); }
    // A started desk that has loaded these visitors on site.
    void startWithOnSite(const QStringList &names) {
        startDesk();
        for (const QString &name : names) {
            m_lobby.signIn(name);
        }
        refresh();
    }

private Q_SLOTS:
    // Its short time style has seconds, which a shortened time drops.
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void init() {
        m_f = std::make_unique<DeskFixture>();
        m_lobby = {};
        MessageBox::clearNextAnswers();
    }
    void cleanup() { m_f.reset(); }

    void pollsChangeOnlyTheRowsThatChanged_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QList<int>>("signals"); // inserted, removed, moved, changed rows
        QTest::addColumn<QString>("shown");      // when not `after`
        const auto row = [](const char *name, const char *before, const char *after, QList<int> signals,
                            const char *shown = "") {
            QTest::newRow(name) << QString::fromUtf8(before) << QString::fromUtf8(after) << signals
                                << QString::fromUtf8(shown);
        };
        row("unchanged", "Ann Bo Cy", "Ann Bo Cy", {0, 0, 0, 0});
        row("one arrives on top", "Ann Bo", "Dee Ann Bo", {1, 0, 0, 0});
        row("two arrive, one leaves", "Ann Bo Cy", "Dee Eve Ann Cy", {2, 1, 0, 0});
        row("a host changes", "Ann Bo Cy", "Ann Bo* Cy", {0, 0, 0, 1});
        row("reordered", "Ann Bo Cy", "Cy Ann Bo", {0, 0, 1, 0});
        row("everyone leaves", "Ann Bo Cy", "", {0, 3, 0, 0});
        row("a repeated row counts once", "Ann", "Bo Ann Bo", {1, 0, 0, 0}, "Bo Ann");
    }

    void pollsChangeOnlyTheRowsThatChanged() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QList<int>, signals);
        QFETCH(QString, shown);
        OnSiteModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        OnSiteList list(model);
        model.setRows(rowsOf(before));
        QList<int> counts{0, 0, 0, 0};
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        connect(&model, &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int first, int last) { counts[0] += last - first + 1; });
        connect(&model, &QAbstractItemModel::rowsRemoved, this,
                [&](const QModelIndex &, int first, int last) { counts[1] += last - first + 1; });
        connect(&model, &QAbstractItemModel::rowsMoved, this, [&] { ++counts[2]; });
        connect(&model, &QAbstractItemModel::dataChanged, this, [&] { ++counts[3]; });

        model.setRows(rowsOf(after));

        QCOMPARE(counts, signals);
        QCOMPARE(resets.size(), 0);
        const QList<VisitorRow> expected = rowsOf(shown.isEmpty() ? after : shown);
        QCOMPARE(model.rows(), expected);
        QCOMPARE(listed(list), expected); // the list's widgets follow row for row
    }

    void aLongListIsBuiltInBatchesThatFollowThePolls() {
        QList<VisitorRow> rows = manyRows(100);
        OnSiteModel model;
        OnSiteList list(model);
        model.setRows(rows);
        QVERIFY(list.count() < rows.size());
        // Polls land while the batches are still coming: a move out of the built rows, a removal, a change.
        std::swap(rows[0], rows[90]);
        rows.removeAt(5);
        rows[70].hostName = u"Bo"_s;
        model.setRows(rows);
        QTRY_COMPARE(list.count(), rows.size());
        QCOMPARE(listed(list), rows);
    }

    void rowsScrolledIntoViewAreBuiltAtOnce() {
        ShownList shown(300);
        auto &[rows, model, list] = shown;
        // The scroll area takes the rows' new height; no batch runs.
        const int height = list.rowAt(0)->height();
        QScrollBar *bar = list.verticalScrollBar();
        QVERIFY(bar->maximum() + list.viewport()->height() >= rows.size() * height);

        bar->setValue(bar->maximum() / 2);

        // Every line of the view shows the row that belongs there, with no pass of the event loop in between.
        for (int y = 0; y < list.viewport()->height(); y += height / 2) {
            QWidget *hit = list.viewport()->childAt(list.viewport()->width() / 2, y);
            auto *row = qobject_cast<OnSiteRow *>(hit);
            row = row ? row : qobject_cast<OnSiteRow *>(hit ? hit->parentWidget() : nullptr);
            QVERIFY2(row, qPrintable(u"nothing at %1"_s.arg(y)));
            QCOMPARE(row->row(), rows.at((bar->value() + y) / height));
        }
    }

    void rowsBuiltOutOfOrderKeepTheTabOrder() {
        ShownList shown(300);
        auto &[rows, model, list] = shown;
        // The rows in the middle come first, then the batches fill in the rest; one more arrives meanwhile.
        list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum() / 2);
        rows.insert(200, rowOf(u"Newcomer"_s));
        model.setRows(rows);
        QTRY_COMPARE(list.count(), rows.size());

        QStringList tabOrder;
        QWidget *widget = &list;
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && list.widget()->isAncestorOf(widget)) {
                tabOrder.append(widget->accessibleDescription());
            }
            widget = widget->nextInFocusChain();
        } while (widget != &list);
        QStringList expected;
        for (const VisitorRow &row : std::as_const(rows)) {
            expected << u"Print a badge for "_s + row.visitorName << u"Sign out "_s + row.visitorName;
        }
        QCOMPARE(tabOrder, expected);
    }

    void aNewWidthReachesEveryRow() {
        OnSiteModel model;
        QWidget window;
        window.resize(700, 300);
        auto *list = new OnSiteList(model, &window);
        list->resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        model.setRows(manyRows(300));
        QTRY_COMPARE(list->count(), 300);
        const int before = list->rowAt(0)->width();

        list->resize(600, 300);

        // The rows in view at once, the rest between events.
        const int after = list->rowAt(0)->width();
        QCOMPARE(after, before + 200);
        QTRY_VERIFY(list->rowAt(299)->width() == after);
        for (int i = 0; i < 300; ++i) {
            QCOMPARE(list->rowAt(i)->width(), after);
        }
    }

    void todayFollowsTheModel() {
        startDesk();
        TodayView view(m_f->environment());
        QVERIFY(view.subtitle().isEmpty());
        auto *everyone = view.toolbarItems()->findChild<QToolButton *>();
        QVERIFY(!everyone->isEnabled());

        m_lobby.signIn(u"Ada Lovelace"_s);
        refresh();
        QCOMPARE(view.subtitle(), u"Updated 09:05"_s);
        QVERIFY(everyone->isEnabled());
        view.show();
        QAccessibleInterface *screen = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(findAccessible(screen, QAccessible::Button, u"Sign Out"_s, u"Ada Lovelace"_s));
        QVERIFY(findAccessible(screen, QAccessible::Button, u"Print Badge"_s, u"Ada Lovelace"_s));
        for (const QString &tile : {u"Visitors today: 1"_s, u"On site now: 1"_s, u"This week: 1"_s}) {
            QVERIFY2(findAccessible(screen, QAccessible::StaticText, tile), qPrintable(tile));
        }
        auto *detail = view.findChild<QLabel *>(u"visitorDetail"_s);
        QCOMPARE(detail->text(), u"In at 08:30"_s);
        VisitorRow waiting = rowOf(u"Bo"_s);
        waiting.isPending = true;
        QCOMPARE(OnSiteModel::detailLine(waiting),
                 u"Not yet saved \u00b7 In at 08:30 \u00b7 Visiting Ann Lee"_s);

        QTest::mouseClick(view.findChild<QPushButton *>(u"signOutButton"_s), Qt::LeftButton);
        QTRY_VERIFY(m_f->model->onSite().isEmpty());
        QVERIFY(!view.actionError());
        QVERIFY(view.findChild<EmptyState *>()->isVisibleTo(&view));
        QVERIFY(!everyone->isEnabled());
    }

    void signOutEveryoneReportsTheOnesThatStayed() {
        m_lobby.failingSignOuts = {u"Bo"_s};
        startWithOnSite({u"Ann"_s, u"Bo"_s, u"Cy"_s});
        TodayView view(m_f->environment());
        view.show();

        view.toolbarItems()->findChild<QToolButton *>()->click();
        QMessageBox *confirm = view.findChild<QMessageBox *>();
        QVERIFY(confirm);
        QCOMPARE(confirm->text(), u"Sign out all 3 visitors on site?"_s);
        for (QAbstractButton *button : confirm->buttons()) {
            if (button->text() == u"Sign Out Everyone") {
                button->click();
            }
        }

        QTRY_VERIFY(view.actionError());
        QCOMPARE(*view.actionError(), u"1 visitors could not be signed out. Please try again."_s);
        QCOMPARE(m_f->onSiteNames(), QStringList{u"Bo"_s});
        QCOMPARE(view.onSiteModel().rowCount(), 1);
    }

    void reprintWithoutAPrinterKeepsTheVisitor() {
        startWithOnSite({u"Ada Lovelace"_s});
        TodayView view(m_f->environment());
        view.show();
        QTest::mouseClick(view.findChild<QToolButton *>(u"printBadgeButton"_s), Qt::LeftButton);
        const QString noPrinter = u"No printer is available. Choose one in Settings > Badges."_s;
        QCOMPARE(view.actionError(), noPrinter);
        QMessageBox *alert = view.findChild<QMessageBox *>();
        QCOMPARE(alert->text() + u'|' + alert->informativeText(), u"Something went wrong|"_s + noPrinter);
        QCOMPARE(m_f->onSiteNames(), QStringList{u"Ada Lovelace"_s});
        alert->buttons().constFirst()->click();
        QTRY_VERIFY(!view.actionError());

        m_f->prints.printers = {u"Brother"_s};
        m_f->prints.defaultPrinter = u"Brother"_s;
        QTest::mouseClick(view.findChild<QToolButton *>(u"printBadgeButton"_s), Qt::LeftButton);
        QCOMPARE(m_f->prints.jobs.size(), 1);
        QVERIFY(!view.actionError());
    }

    void sheetFillsFromTheChosenInvite() {
        startDesk();
        m_lobby.invites = {invite(u"Past Guest"_s, u"2001-01-01"_s, u"p@example.com"_s),
                           invite(u"Zo\u00eb Park"_s, u"2999-01-01"_s, u"zoe@example.com"_s)};
        const Invite handedOver =
            Invite::fromJson(invite(u"Ada Lovelace"_s, u"2999-01-02"_s, u"ada@example.com"_s));
        SignInSheet sheet(m_f->environment(), handedOver);
        auto *picker = sheet.findChild<QComboBox *>(u"expectedPicker"_s);
        // The invite handed over is chosen even though the load does not bring it; a past one is not offered.
        QTRY_COMPARE(picker->count(), 3);
        QCOMPARE(picker->currentText(), u"Ada Lovelace"_s);
        QCOMPARE(picker->itemText(2), u"Zo\u00eb Park"_s);
        QCOMPARE(sheet.answerField(0)->text(), u"Ada Lovelace"_s);
        QCOMPARE(sheet.answerField(1)->text(), u"ada@example.com"_s);

        choose(picker, 2);
        QCOMPARE(sheet.answerField(1)->text(), u"zoe@example.com"_s);
        QCOMPARE(sheet.invite()->visitorName, u"Zo\u00eb Park"_s);
        choose(picker, 0);
        QVERIFY(!sheet.invite());
        QCOMPARE(sheet.answerField(0)->text() + sheet.answerField(1)->text() + sheet.answerField(2)->text(),
                 QString());
        QVERIFY(sheet.draft().answers.isEmpty());
    }

    void aWalkInsNameOffersTodaysInvite() {
        startDesk();
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
        m_lobby.invites = {invite(u"Ingrid Halvorsen"_s, today, u"guest@example.com"_s),
                           invite(u"Zo\u00eb Park"_s, tomorrow, u"guest@example.com"_s)};
        SignInSheet sheet(m_f->environment(), std::nullopt);
        sheet.show();
        auto *picker = sheet.findChild<QComboBox *>(u"expectedPicker"_s);
        QTRY_COMPARE(picker->count(), 3);
        QPushButton *offer = sheet.suggestion();
        // Only a whole name of today's guest, whatever its case, accents and spaces.
        const QList<std::pair<QString, bool>> typed = {
            {u"Ingrid"_s, false}, {u"Zoe Park"_s, false}, {u"  INGRID   halvorsen "_s, true}};
        for (const auto &[text, offered] : typed) {
            sheet.answerField(0)->clear();
            QTest::keyClicks(sheet.answerField(0), text);
            QVERIFY2(offer->isVisible() == offered, qPrintable(text));
        }
        QCOMPARE(offer->accessibleName(), u"Expected: Ingrid Halvorsen \u2014 use the invite"_s);
        QTest::keyClick(offer, Qt::Key_Space);
        QCOMPARE(picker->currentText(), u"Ingrid Halvorsen"_s);
        QCOMPARE(sheet.invite()->visitorName, u"Ingrid Halvorsen"_s);
        QCOMPARE(sheet.answerField(1)->text(), u"guest@example.com"_s);
        QVERIFY(!offer->isVisible());
    }

    void rollCallOfTheLastListWhenTheServerIsGone() {
        startWithOnSite({u"Ann"_s, u"Bo"_s});
        m_lobby.unreachable = true;
        RollCallSheet sheet(m_f->environment());
        QTRY_VERIFY(sheet.rollCall());
        const QString status = sheet.rollCall()->statusLine();
        QVERIFY2(status.startsWith(u"As of "_s) &&
                     status.endsWith(u", the server could not be reached \u00b7 2 people on site"_s),
                 qPrintable(status));
        QCOMPARE(sheet.rollCall()->people().size(), 2);

        sheet.print();
        QCOMPARE(m_f->prints.jobs.size(), 1);
        QVERIFY(m_f->prints.jobs.first().showDialog);
        QCOMPARE(m_f->prints.jobs.first().pageCount, 1);
        const QString path = m_f->dir.filePath(u"roll-call.pdf"_s);
        SavePanel::setNextFileName(path);
        sheet.saveAsPdf();
        QTRY_VERIFY(QFile::exists(path));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll().startsWith("%PDF"));
    }

    void sheetSignsIn_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("autoPrint");
        QTest::addColumn<bool>("failInsert");
        QTest::addColumn<QString>("message"); // empty: the sheet closed
        QTest::addColumn<int>("inserts");
        const auto row = [](const char *name, const QString &typedName, const QString &email, bool autoPrint,
                            bool failInsert, const QString &message, int inserts) {
            QTest::newRow(name) << typedName << email << autoPrint << failInsert << message << inserts;
        };
        const QString noPrinter = u"No printer is available. Choose one in Settings > Badges."_s;
        row("signed in, no badge wanted", u"Ada Lovelace"_s, {}, false, false, {}, 1);
        row("name missing", u"  "_s, {}, false, false, u"Please fill in Name."_s, 0);
        row("email malformed", u"Ada"_s, u"ada@"_s, false, false, u"Please enter a valid email for Email."_s,
            0);
        row("badge failed", u" Ada Lovelace\n"_s, {}, true, false,
            u"Ada Lovelace is signed in, but: "_s + noPrinter, 1);
        row("not stored", u"Ada"_s, {}, false, true, u"The lobby is full"_s, 1);
    }

    void sheetSignsIn() {
        QFETCH(QString, name);
        QFETCH(QString, email);
        QFETCH(bool, autoPrint);
        QFETCH(bool, failInsert);
        QFETCH(QString, message);
        QFETCH(int, inserts);
        startDesk();
        m_lobby.failInserts = failInsert;
        m_f->printer->setAutoPrint(autoPrint);
        SignInSheet sheet(m_f->environment(), std::nullopt);
        sheet.show();
        QCOMPARE(sheet.findChild<QWidget *>(u"autoPrintNote"_s)->isVisible(), autoPrint);
        sheet.answerField(0)->insert(name);
        sheet.answerField(1)->insert(email);
        QSignalSpy closed(&sheet, &QDialog::finished);

        QTest::keyClick(sheet.answerField(0), Qt::Key_Return);

        QTRY_VERIFY(!sheet.isSaving());
        QTRY_COMPARE(m_lobby.inserts, inserts);
        QCOMPARE(closed.size(), message.isEmpty() ? 1 : 0);
        QCOMPARE(sheet.message().value_or(QString()), message);
        QCOMPARE(sheet.findChild<QPushButton *>(u"signInButton"_s)->isEnabled(), true);
        // A badge failure leaves the sheet ready for the next visitor; any other problem keeps what was
        // typed.
        const bool cleared = message.contains(u"is signed in"_s);
        QCOMPARE(sheet.answerField(0)->text(), cleared ? QString() : name);
        QCOMPARE(sheet.findChild<QComboBox *>()->currentIndex(), 0);
    }
};

QTEST_MAIN(TestTodayView)
#include "tst_todayview.moc"
