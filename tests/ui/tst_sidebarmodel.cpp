#include "ui/DeskSection.h"
#include "ui/SidebarModel.h"

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>

using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(tallybrook::ui::DeskSection)

class TestSidebarModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void passesTheItemModelTester();
    void sections_data();
    void sections();
    void tooltipsOnlyWhenCollapsed();
    void collapsingNotifiesOnlyOnChange();
    void rawValuesRoundTrip();
};

void TestSidebarModel::passesTheItemModelTester() {
    SidebarModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setCollapsed(true);
    model.setCollapsed(false);
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.rowCount(model.index(0)), 0);
    QVERIFY(!model.data(QModelIndex()).isValid());
    QCOMPARE(model.flags(model.index(0)) & Qt::ItemIsEditable, Qt::ItemFlags());
}

void TestSidebarModel::sections_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<DeskSection>("section");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("symbol");
    QTest::newRow("Today") << 0 << DeskSection::Today << u"Today"_s << u"sun.max"_s;
    QTest::newRow("Visitors") << 1 << DeskSection::Visitors << u"Visitors"_s << u"person.2"_s;
    QTest::newRow("Invites") << 2 << DeskSection::Invites << u"Invites"_s << u"envelope"_s;
    QTest::newRow("Employees") << 3 << DeskSection::Employees << u"Employees"_s
                               << u"person.crop.rectangle.stack"_s;
}

void TestSidebarModel::sections() {
    QFETCH(int, row);
    QFETCH(DeskSection, section);
    QFETCH(QString, title);
    QFETCH(QString, symbol);
    SidebarModel model;
    const QModelIndex index = model.index(row);
    QCOMPARE(SidebarModel::sectionAt(index), section);
    QCOMPARE(model.indexOf(section), index);
    QCOMPARE(index.data(Qt::DisplayRole).toString(), title);
    QCOMPARE(index.data(Qt::AccessibleTextRole).toString(), title);
    QCOMPARE(symbolName(section), symbol);
    const auto icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    QVERIFY(!icon.pixmap(QSize(18, 18)).isNull());
    QVERIFY(model.flags(index).testFlag(Qt::ItemIsSelectable));
}

void TestSidebarModel::tooltipsOnlyWhenCollapsed() {
    SidebarModel model;
    for (int row = 0; row < model.rowCount(); ++row) {
        QVERIFY(!model.index(row).data(Qt::ToolTipRole).isValid());
        QCOMPARE(model.index(row).data(SidebarModel::CollapsedRole).toBool(), false);
    }
    model.setCollapsed(true);
    for (int row = 0; row < model.rowCount(); ++row) {
        QCOMPARE(model.index(row).data(Qt::ToolTipRole).toString(), model.index(row).data().toString());
        QCOMPARE(model.index(row).data(SidebarModel::CollapsedRole).toBool(), true);
    }
}

void TestSidebarModel::collapsingNotifiesOnlyOnChange() {
    SidebarModel model;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setCollapsed(false);
    QCOMPARE(changed.size(), 0);
    model.setCollapsed(true);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.constFirst().at(0).toModelIndex(), model.index(0));
    QCOMPARE(changed.constFirst().at(1).toModelIndex(), model.index(3));
    model.setCollapsed(true);
    QCOMPARE(changed.size(), 1);
}

void TestSidebarModel::rawValuesRoundTrip() {
    QCOMPARE(allDeskSections().size(), 4);
    for (const DeskSection section : allDeskSections()) {
        QCOMPARE(deskSectionFromRawValue(rawValue(section)), section);
        QCOMPARE(title(section), rawValue(section));
    }
    QCOMPARE(deskSectionFromRawValue(u"today"), std::nullopt);
}

QTEST_MAIN(TestSidebarModel)
#include "tst_sidebarmodel.moc"
