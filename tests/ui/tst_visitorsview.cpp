#include "DeskTestSupport.h"
#include "ui/EmptyState.h"
#include "ui/MessageBox.h"
#include "ui/SavePanel.h"
#include "ui/VisitorTableModel.h"
#include "ui/VisitorsView.h"

#include <QAccessible>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QUrlQuery>

#include <ctime>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QUuid user(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

// A visitor log of `size` rows, newest first; a search for "slow" answers late, one for "none" finds nothing.
struct Log {
    int size = 0;
    bool failing = false;
    QList<QByteArray> queries; // of the row reads, as sent

    QJsonObject row(int i) const {
        return {{u"id"_s, QUuid::createUuidV5(user, QString::number(i)).toString(QUuid::WithoutBraces)},
                {u"visitor_name"_s, u"Visitor %1"_s.arg(i)},
                {u"host_name"_s, QJsonValue::Null},
                {u"answers"_s, QJsonArray{}},
                {u"signed_in_at"_s,
                 QDateTime(QDate(2025, 3, 4), QTime(9, 0), Qt::UTC).addSecs(-i).toString(Qt::ISODate)},
                {u"signed_out_at"_s, QJsonValue::Null}};
    }

    ScriptedAnswer answer(const RecordedRequest &request) {
        if (!request.path.endsWith("/visitors") || request.rawQuery.startsWith("select=id&")) {
            return ScriptedAnswer::json(200, "[]", {{"Content-Range", "0-0/0"}});
        }
        if (request.method == "PATCH") {
            return ScriptedAnswer::json(200, R"([{"id":"x"}])");
        }
        queries.append(request.rawQuery);
        if (failing) {
            return ScriptedAnswer::json(503, R"({"message":"The log is resting"})");
        }
        const QUrlQuery query(QString::fromUtf8(request.rawQuery));
        const int offset = query.queryItemValue(u"offset"_s).toInt();
        const int limit = query.queryItemValue(u"limit"_s).toInt();
        QJsonArray rows;
        for (int i = offset; i < qMin(size, offset + limit) && !request.rawQuery.contains("none"); ++i) {
            rows.append(row(i));
        }
        const ScriptedAnswer answer = ScriptedAnswer::json(200, QJsonDocument(rows).toJson());
        return request.rawQuery.contains("slow") ? answer.delayedBy(800ms) : answer;
    }
};

} // namespace

// The visitor log screen against a scripted log: the debounced search, the date range, paging, the reloads,
// the inspector and the export; and against the real server, the demo account's log found and exported.
class TestVisitorsView : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<VisitorsView> m_view;
    Log m_log;
    QTemporaryDir m_dir;

    void show(int size) {
        m_log = {};
        m_log.size = size;
        m_f = std::make_unique<DeskFixture>();
        m_f->startAgainst(user, [this](const RecordedRequest &request) { return m_log.answer(request); });
        m_view = std::make_unique<VisitorsView>(m_f->environment());
        showScreen(*m_view, {900, 600});
        QTRY_COMPARE(m_log.queries.size(), 1);
        QTRY_VERIFY(!m_view->isLoading());
    }
    QLineEdit *search() const { return m_view->findChild<QLineEdit *>(u"visitorSearch"_s); }
    QPushButton *loadMore() const { return m_view->findChild<QPushButton *>(u"loadMoreButton"_s); }
    int shown() const { return m_view->tableModel().rowCount(); }

    // As assistive technology does: the button's own action opens the menu, and its first item is chosen.
    void exportCsvThroughTheMenu() {
        auto *button = m_view->findChild<QToolButton *>(u"exportButton"_s);
        QAccessibleActionInterface *actions =
            QAccessible::queryAccessibleInterface(button)->actionInterface();
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
        QTimer::singleShot(0, [] {
            QWidget *menu = QApplication::activePopupWidget();
            QVERIFY(menu);
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        actions->doAction(QAccessibleActionInterface::showMenuAction());
    }

private Q_SLOTS:
    void initTestCase() {
        // A zone with a clock change, so a day may have 23 hours.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void cleanup() {
        m_view.reset();
        m_f.reset();
        SavePanel::clearNextFileNames();
        MessageBox::clearNextAnswers();
    }

    void typingSendsOneSearchAfterThePause() {
        show(3);
        QTest::keyClicks(search(), u"Ann"_s);
        QCOMPARE(m_log.queries.size(), 1);
        QTRY_COMPARE(m_log.queries.size(), 2);
        QTest::qWait(VisitorsView::debounceMs + 100);
        QCOMPARE(m_log.queries.size(), 2);
        QVERIFY(m_log.queries.last().endsWith("&search_text=ilike.%25ann%25&limit=50&offset=0"));
        QTest::keyClick(search(), Qt::Key_Escape);
        QCOMPARE(search()->text(), QString());
    }

    void aDateRangeCoversWholeDays_data() {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("range");
        QTest::newRow("one day") << QDate(2025, 3, 4) << QDate(2025, 3, 4)
                                 << "2025-03-03T23:00:00Z 2025-03-04T23:00:00Z";
        QTest::newRow("the day the clocks go forward")
            << QDate(2025, 3, 30) << QDate(2025, 3, 30) << "2025-03-29T23:00:00Z 2025-03-30T22:00:00Z";
        QTest::newRow("across the change back")
            << QDate(2025, 10, 25) << QDate(2025, 10, 26) << "2025-10-24T22:00:00Z 2025-10-26T23:00:00Z";
    }
    void aDateRangeCoversWholeDays() {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QString, range);
        const VisitorQuery query = VisitorsView::queryFor(u" x "_s, std::pair{from, to});
        QCOMPARE(query.from->toString(Qt::ISODate) + u' ' + query.to->toString(Qt::ISODate), range);
        QCOMPARE(query.search, u" x "_s);
        QVERIFY(!VisitorsView::queryFor({}, std::nullopt).from);
    }

    void pagesAndOvertakenLoads() {
        show(50);
        QCOMPARE(shown(), 50);
        QVERIFY(loadMore()->isVisible());
        loadMore()->click();
        QTRY_VERIFY(!loadMore()->isVisible());
        QCOMPARE(shown(), 50);
        QVERIFY(m_log.queries.last().endsWith("limit=50&offset=50"));

        // A slow search overtaken by the next one never lands, nor does a failure of an aborted load.
        search()->setText(u"slow"_s);
        QTRY_COMPARE(m_log.queries.size(), 3);
        search()->setText(u"none"_s);
        QTRY_COMPARE(shown(), 0);
        QTest::qWait(1000);
        QCOMPARE(shown(), 0);
        QVERIFY(m_view->findChild<EmptyState *>()->isVisibleTo(m_view.get()));
        QVERIFY(!m_view->problem());

        // A failed page keeps the rows and says why.
        search()->clear();
        QTRY_COMPARE(shown(), 50);
        m_log.failing = true;
        loadMore()->click();
        QTRY_VERIFY(!m_view->isLoading());
        QCOMPARE(m_view->problem(), u"The log is resting"_s);
        QCOMPARE(shown(), 50);
    }

    void theInspectorsSignOutAndTheRevisionReload() {
        show(3);
        auto *table = m_view->findChild<QTableView *>();
        table->selectRow(1);
        auto *signOut = m_view->findChild<QPushButton *>(u"detailSignOutButton"_s);
        QVERIFY(signOut->isVisibleTo(m_view.get()));
        QCOMPARE(signOut->accessibleDescription(), u"Sign out for Visitor 1"_s);
        signOut->click();
        // The sign-out raised the revision: the table reloads and keeps the visitor selected.
        QTRY_COMPARE(m_log.queries.size(), 2);
        QTRY_VERIFY(!m_view->isLoading());
        QCOMPARE(m_view->selection(), QUuid::createUuidV5(user, u"1"_s));
    }

    void exportsEveryMatchOrNothing_data() {
        QTest::addColumn<QString>("file"); // empty: the panel is cancelled
        QTest::addColumn<bool>("failing");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("after"); // the file's first line afterwards
        const auto row = [](const char *name, const char *file, bool failing, const char *problem,
                            const char *after) {
            QTest::newRow(name) << QString::fromUtf8(file) << failing << QString::fromUtf8(problem)
                                << QString::fromUtf8(after);
        };
        row("every match, not only the first page", "log.csv", false, "", "\"Name\",");
        row("cancelled", "", false, "", "old");
        row("a folder that is not there", "missing/log.csv", false, "The file could not be saved: ", "old");
        row("the fetch fails", "log.csv", true, "The log is resting", "old");
    }
    void exportsEveryMatchOrNothing() {
        QFETCH(QString, file);
        QFETCH(bool, failing);
        QFETCH(QString, problem);
        QFETCH(QString, after);
        QFile old(m_dir.filePath(u"log.csv"_s));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\n") == 4);
        old.close();
        show(120);
        m_log.failing = failing;
        SavePanel::setNextFileName(file.isEmpty() ? std::nullopt : std::optional(m_dir.filePath(file)));
        exportCsvThroughTheMenu();
        QTRY_VERIFY(!m_view->isExporting());
        QTest::qWait(50);
        QCOMPARE(m_log.queries.size(), file.isEmpty() ? 1 : 2);
        QCOMPARE(m_view->problem().value_or(QString()).left(problem.size()), problem);
        QVERIFY(old.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = old.readAll().split('\n');
        QVERIFY(QString::fromUtf8(lines.first()).startsWith(after));
        QCOMPARE(lines.size(), after == u"old" ? 2 : 121);
    }

    // The demo account on the real server: a search by an answer finds its visitor; both exports hold every
    // record the server counts.
    void theDemoLogFoundAndExported() {
        DemoDesk demo;
        QVERIFY(demo.start());
        const int total = *runTask(demo.cloud->countVisitors({}));
        m_view = std::make_unique<VisitorsView>(demo.environment());
        showScreen(*m_view, {900, 600});
        QTRY_VERIFY(m_view->tableModel().rowCount() > 0);

        const VisitorRow first = m_view->tableModel().rows().constFirst();
        const QString answer = first.answers.isEmpty() ? first.visitorName : first.answers.constFirst().value;
        search()->setText(answer);
        QTRY_VERIFY(!m_view->isLoading() && m_view->tableModel().rowOf(first.id) >= 0);

        search()->clear();
        QTRY_VERIFY(!m_view->isLoading());
        for (const auto format : {VisitorsView::ExportFormat::Csv, VisitorsView::ExportFormat::Pdf}) {
            const bool pdf = format == VisitorsView::ExportFormat::Pdf;
            const QString path = m_dir.filePath(pdf ? u"log.pdf"_s : u"log.csv"_s);
            QFile::remove(path); // an earlier test's
            SavePanel::setNextFileName(path);
            m_view->exportLog(format);
            QTRY_VERIFY_WITH_TIMEOUT(!m_view->isExporting() && QFile::exists(path), 20000);
            QVERIFY(!m_view->problem());
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            // CSV: one line a record under the header; PDF: the "Generated" line names the count.
            if (!pdf) {
                QCOMPARE(file.readAll().count("\r\n"), total);
                continue;
            }
            QProcess text;
            text.start(u"pdftotext"_s, {u"-"_s, u"-"_s});
            text.write(file.readAll());
            text.closeWriteChannel();
            QVERIFY(text.waitForFinished(30000));
            const QByteArray out = text.readAllStandardOutput();
            QVERIFY2(out.contains(QByteArray(QByteArray::number(total) + " records")),
                     out.left(400).constData());
        }
        m_view.reset(); // before the server goes
    }
};

QTEST_MAIN(TestVisitorsView)
#include "tst_visitorsview.moc"
