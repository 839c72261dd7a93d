#include "presentation/ContextShow.h"
#include "presentation/ErrorsList.h"
#include "presentation/ErrorsListGroup.h"
#include "presentation/ErrorsListItem.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QSignalSpy>
#include <QStyle>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

namespace {

std::shared_ptr<CCheckData> finding(const char* text, std::vector<CDataItemValue> suggestions)
{
    auto data = std::make_shared<CCheckData>();
    data->text = text;
    data->type = 0x01;
    data->suggestions = std::move(suggestions);
    return data;
}

} // namespace

class TestContextShow : public QObject
{
    Q_OBJECT
private slots:
    void windowSetUp();
    void resizesToListReport_data();
    void resizesToListReport();
    void noMatchReturnsFalse_data();
    void noMatchReturnsFalse();
    void groupIndexIsPositionInWholeVector();
    void sameWrongTextTwiceGivesTwoGroups();
    void shownPopupFitsItsContent();
    void actionsHideBeforeSignalling_data();
    void actionsHideBeforeSignalling();
    void hideSignalsWhileVisible();
    void nextMovesPointerToButtonCentre();
    void clearLeavesMinimumWidth();
    void showContextShowDeletesOnClose();
    void initUiIsIdempotent(); // last: installs the Chinese catalogue
};

void TestContextShow::windowSetUp()
{
    ContextShow popup;
    // Qt adds Qt::Window to a widget without parent; everything else is as set.
    QCOMPARE(int(popup.windowFlags() & ~Qt::WindowFlags(Qt::Window)), 0x40812);
    QVERIFY(popup.testAttribute(Qt::WA_ShowWithoutActivating));

    auto* ignore = popup.findChild<QToolButton*>(QStringLiteral("btnIgnoreOnce"));
    QVERIFY(ignore && ignore->menu());
    const QList<QAction*> actions = ignore->menu()->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions.at(0)->objectName(), QStringLiteral("actionIgnoreOnce"));
    QCOMPARE(actions.at(1)->objectName(), QStringLiteral("actionIgnoreAll"));
    QVERIFY(actions.at(2)->isSeparator());
    QCOMPARE(actions.at(3)->objectName(), QStringLiteral("actionReportError"));
    for (const char* name : {"btnHide", "btnPrev", "btnNext", "btnIgnoreOnce"})
        QVERIFY2(!popup.findChild<QToolButton*>(QLatin1String(name))->icon().isNull(), name);
}

void TestContextShow::resizesToListReport_data()
{
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<int>("maxWidth");
    QTest::addColumn<QSize>("size");
    QTest::newRow("emptied list") << 0 << 0 << QSize(100, 100);
    QTest::newRow("too large") << 400 << 500 << QSize(350, 350);
    QTest::newRow("in range") << 200 << 150 << QSize(166, 246);
}

void TestContextShow::resizesToListReport()
{
    QFETCH(int, maxHeight);
    QFETCH(int, maxWidth);
    QFETCH(QSize, size);
    ContextShow popup;
    popup.findChild<QWidget*>(QStringLiteral("widgetButtons"))->setFixedHeight(30);
    emit popup.findChild<ErrorsList*>(QStringLiteral("widgetErrorList"))->maxHeightChanged(maxHeight, maxWidth);
    QCOMPARE(popup.size(), size);
}

void TestContextShow::noMatchReturnsFalse_data()
{
    QTest::addColumn<bool>("withFindings");
    QTest::newRow("empty vector") << false;
    QTest::newRow("no wrong text occurs") << true;
}

void TestContextShow::noMatchReturnsFalse()
{
    QFETCH(bool, withFindings);
    ContextShow popup;
    CHECK_DATAS datas;
    if (withFindings) // absent wrong texts, an empty one, a null pointer
        datas = {finding("反映", {{"反应", 3}}), finding("再在", {}), finding("", {{"x", 1}}), nullptr};
    QString text = QStringLiteral("这句话里没有错误。");
    QVERIFY(!popup.showCheckData(datas, text));
    QCOMPARE(popup.size(), QSize(100, 350));
    QVERIFY(popup.findChildren<ErrorsListGroup*>().isEmpty());
    QVERIFY(!popup.isVisible());
}

void TestContextShow::groupIndexIsPositionInWholeVector()
{
    ContextShow popup;
    CHECK_DATAS datas{finding("甲乙", {{"甲已", 1}}), finding("丙丁", {}), finding("反映", {{"反应", 3}})};
    QString text = QStringLiteral("他的反映很快。");
    QVERIFY(popup.showCheckData(datas, text));
    const QList<ErrorsListGroup*> groups = popup.findChildren<ErrorsListGroup*>();
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.first()->groupIndex(), 2);
    QVERIFY(popup.testAttribute(Qt::WA_MouseTracking));

    popup.show();
    QSignalSpy spy(&popup, &ContextShow::apply);
    popup.findChild<ErrorsListItem*>()->findChild<QToolButton*>(QStringLiteral("btnApply"))->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), (QVariantList{QStringLiteral("反应"), 0, QStringLiteral("反映"), 2}));
    QVERIFY(!popup.isVisible());
}

void TestContextShow::sameWrongTextTwiceGivesTwoGroups()
{
    ContextShow popup;
    CHECK_DATAS datas{finding("反映", {{"反应", 3}}), finding("反映", {{"返映", 1}})};
    QString text = QStringLiteral("反映");
    QVERIFY(popup.showCheckData(datas, text));
    QCOMPARE(popup.findChildren<ErrorsListGroup*>().size(), 2);

    // Refilling drops the old groups.
    CHECK_DATAS other{finding("在再", {{"再在", 1}})};
    QString otherText = QStringLiteral("在再");
    QVERIFY(popup.showCheckData(other, otherText));
    QTRY_COMPARE(popup.findChildren<ErrorsListGroup*>().size(), 1);
}

void TestContextShow::shownPopupFitsItsContent()
{
    ContextShow popup;
    CHECK_DATAS datas{finding("反映", {{"反应", 3}, {"返映", 1}}), finding("在再", {{"再在", 2}})};
    QString text = QStringLiteral("他的反映在再次出现。");
    QVERIFY(popup.showCheckData(datas, text));
    popup.show();
    int groups = 0;
    for (ErrorsListGroup* group : popup.findChildren<ErrorsListGroup*>())
        groups += group->height();
    const int buttons = popup.findChild<QWidget*>(QStringLiteral("widgetButtons"))->height();
    QCOMPARE(popup.height(), qBound(100, groups + buttons + 16, 350));
    QVERIFY(popup.width() >= 100 && popup.width() <= 350);
}

void TestContextShow::actionsHideBeforeSignalling_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("ignore all") << QStringLiteral("actionIgnoreAll") << QByteArray(SIGNAL(ignoreAll()));
    QTest::newRow("ignore once") << QStringLiteral("actionIgnoreOnce") << QByteArray(SIGNAL(ignoreOnce()));
    QTest::newRow("report error") << QStringLiteral("actionReportError") << QByteArray(SIGNAL(reportError()));
    QTest::newRow("add to dict") << QStringLiteral("actionAddToDict") << QByteArray(SIGNAL(addToDict()));
}

void TestContextShow::actionsHideBeforeSignalling()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, signal);
    ContextShow popup;
    popup.show();
    QSignalSpy spy(&popup, signal.constData());
    QList<bool> visibleAtSignal;
    for (void (ContextShow::*s)() :
         {&ContextShow::ignoreAll, &ContextShow::ignoreOnce, &ContextShow::reportError, &ContextShow::addToDict})
        connect(&popup, s, this, [&] { visibleAtSignal << popup.isVisible(); });

    popup.findChild<QAction*>(action)->trigger();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(visibleAtSignal, QList<bool>{false});
    QVERIFY(!popup.isVisible());
}

void TestContextShow::hideSignalsWhileVisible()
{
    ContextShow popup;
    popup.show();
    bool visibleAtSignal = false;
    connect(&popup, &ContextShow::hideDialog, this, [&] { visibleAtSignal = popup.isVisible(); });
    popup.findChild<QToolButton*>(QStringLiteral("btnHide"))->click();
    QVERIFY(visibleAtSignal);
    QVERIFY(!popup.isVisible());
}

void TestContextShow::nextMovesPointerToButtonCentre()
{
    ContextShow popup;
    popup.move(100, 100);
    popup.show();
    // The host's slot moves the popup meanwhile; the pointer follows the button.
    connect(&popup, &ContextShow::next, this, [&] {
        popup.move(220, 160);
        return true;
    });
    QSignalSpy prevSpy(&popup, &ContextShow::prev);
    auto* next = popup.findChild<QToolButton*>(QStringLiteral("btnNext"));
    next->click();
    QCOMPARE(QCursor::pos(), next->mapToGlobal(QPoint(next->width() / 2, next->height() / 2)));
    QVERIFY(popup.isVisible());
    QCOMPARE(popup.pos(), QPoint(220, 160));

    auto* prev = popup.findChild<QToolButton*>(QStringLiteral("btnPrev"));
    prev->click();
    QCOMPARE(prevSpy.count(), 1);
    QCOMPARE(QCursor::pos(), prev->mapToGlobal(QPoint(prev->width() / 2, prev->height() / 2)));
    QVERIFY(popup.isVisible());
}

void TestContextShow::clearLeavesMinimumWidth()
{
    ContextShow popup;
    popup.resize(300, 200);
    popup.clear();
    QCOMPARE(popup.size(), QSize(100, 350));
}

void TestContextShow::showContextShowDeletesOnClose()
{
    QWidget parent;
    parent.show();
    showContextShow(&parent);
    QPointer<ContextShow> popup = parent.findChild<ContextShow*>();
    QVERIFY(popup);
    QVERIFY(popup->isVisible());
    QVERIFY(popup->testAttribute(Qt::WA_DeleteOnClose));
    popup->close();
    QTRY_VERIFY(!popup);
}

void TestContextShow::initUiIsIdempotent()
{
    initUI(); // may already have run through showContextShow
    const int translators = qApp->findChildren<QTranslator*>().size();
    bool libraryFolderAdded = false;
    for (const QString& path : QCoreApplication::libraryPaths())
        libraryFolderAdded |=
            QFileInfo(path).canonicalFilePath() == QFileInfo(QStringLiteral(SCHOLIA_DIR)).canonicalFilePath();
    QVERIFY(libraryFolderAdded);
    QCOMPARE(QApplication::style()->objectName(), QStringLiteral("fusion"));
    QCOMPARE(QCoreApplication::translate("ContextShow", "Spell Error"), QStringLiteral("错误"));
    QCOMPARE(QCoreApplication::translate("ErrorsList", "ERROR_TYPE_TONG_YIN"), QStringLiteral("同音字"));

    QApplication::setStyle(QStringLiteral("windows"));
    initUI();
    QCOMPARE(qApp->findChildren<QTranslator*>().size(), translators);
    QCOMPARE(QApplication::style()->objectName(), QStringLiteral("windows"));
    QCOMPARE(ErrorsList::typeText(0x09), QStringLiteral("同音字·形近字错误"));
}

QTEST_MAIN(TestContextShow)
#include "TestContextShow.moc"
