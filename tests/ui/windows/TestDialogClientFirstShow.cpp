#include "client/CConfig.h"
#include "windows/DialogClient.h"

#include <QtTest>
#include <QtWidgets>

// What the tool window restores when it is first shown: position and fold state.
class TestDialogClientFirstShow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstShow_data();
    void firstShow();
    void unfoldedStartStaysResizable();
    void laterShowsRestoreNothing();

private:
    void clearStore();
    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }

    DialogClient* m_window = nullptr;
};

namespace {

// Where the window system would have put the window.
const QPoint kPlaced(37, 41);

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage();
}

} // namespace

void TestDialogClientFirstShow::clearStore()
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillet", "Office").clear();
}

void TestDialogClientFirstShow::init()
{
    clearStore();
    DialogClient::resetFirstShowForTests();
    m_window = new DialogClient(nullptr);
}

void TestDialogClientFirstShow::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestDialogClientFirstShow::firstShow_data()
{
    QTest::addColumn<QVariant>("storedExpand");
    QTest::addColumn<QVariant>("storedX");
    QTest::addColumn<QVariant>("storedY");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<bool>("folded");

    const QVariant none;
    QTest::newRow("empty store") << none << none << none << kPlaced << true;
    QTest::newRow("x negative") << none << QVariant(-1) << QVariant(200) << kPlaced << true;
    QTest::newRow("y negative") << none << QVariant(200) << QVariant(-1) << kPlaced << true;
    QTest::newRow("corner") << none << QVariant(0) << QVariant(0) << QPoint(0, 0) << true;
    QTest::newRow("stored position") << QVariant(false) << QVariant(120) << QVariant(80) << QPoint(120, 80) << true;
    QTest::newRow("beyond every screen") << none << QVariant(50000) << QVariant(40000) << kPlaced << true;
    QTest::newRow("unfolded") << QVariant(true) << QVariant(10) << QVariant(20) << QPoint(10, 20) << false;
}

void TestDialogClientFirstShow::firstShow()
{
    QFETCH(QVariant, storedExpand);
    QFETCH(QVariant, storedX);
    QFETCH(QVariant, storedY);
    QFETCH(QPoint, position);
    QFETCH(bool, folded);

    CConfig* config = getConfig();
    if (storedExpand.isValid())
        config->setValueBool("DialogClientExpand", storedExpand.toBool());
    if (storedX.isValid())
        config->setValueInt("DialogClientX", storedX.toInt());
    if (storedY.isValid())
        config->setValueInt("DialogClientY", storedY.toInt());

    m_window->move(kPlaced);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));

    QCOMPARE(m_window->pos(), position);
    QCOMPARE(child<QGroupBox>("groupTools")->isVisible(), !folded);
    QCOMPARE(child<QGroupBox>("groupSetting")->isVisible(), !folded);
    QVERIFY(child<QGroupBox>("groupBox")->isVisible());
    QCOMPARE(config->getValueBool("DialogClientExpand", !folded), !folded);
    const QImage shown = iconImage(child<QToolButton>("btnExpand")->icon());
    const QImage next = iconImage(QIcon(":/icon/Next2.ico"));
    const QImage previous = iconImage(QIcon(":/icon/Previous2.ico"));
    QVERIFY(!next.isNull() && next != previous);
    QCOMPARE(shown, folded ? next : previous);
    if (folded) {
        QCOMPARE(m_window->layout()->sizeConstraint(), QLayout::SetFixedSize);
        QCOMPARE(m_window->size(), m_window->sizeHint());
    }
}

void TestDialogClientFirstShow::unfoldedStartStaysResizable()
{
    getConfig()->setValueBool("DialogClientExpand", true);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));

    QCOMPARE(m_window->size(), QSize(851, 130).expandedTo(m_window->minimumSizeHint()));
    const QSize larger = m_window->size() + QSize(60, 30);
    m_window->resize(larger);
    QCOMPARE(m_window->size(), larger);

    // Folding fixes the size to what the layout needs; unfolding keeps it fixed.
    child<QToolButton>("btnExpand")->click();
    QVERIFY(!child<QGroupBox>("groupTools")->isVisible());
    QTRY_COMPARE(m_window->size(), m_window->sizeHint());
    const QSize foldedSize = m_window->size();
    QVERIFY(foldedSize.width() < 851);
    child<QToolButton>("btnExpand")->click();
    QVERIFY(child<QGroupBox>("groupTools")->isVisible());
    QTRY_VERIFY(m_window->width() > foldedSize.width());
    m_window->resize(m_window->size() + QSize(60, 30));
    QCOMPARE(m_window->size(), m_window->sizeHint());
}

void TestDialogClientFirstShow::laterShowsRestoreNothing()
{
    getConfig()->setValueInt("DialogClientX", 0);
    getConfig()->setValueInt("DialogClientY", 0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->pos(), QPoint(0, 0));
    QVERIFY(!child<QGroupBox>("groupTools")->isVisible());

    // The user unfolds and moves the window, then minimises, restores and re-shows it.
    child<QToolButton>("btnExpand")->click();
    m_window->move(300, 200);
    m_window->showMinimized();
    m_window->showNormal();
    m_window->hide();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->pos(), QPoint(300, 200));
    QVERIFY(child<QGroupBox>("groupTools")->isVisible());

    // So does a second window of the same process.
    DialogClient second(nullptr);
    second.move(kPlaced);
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QCOMPARE(second.pos(), kPlaced);
    QVERIFY(second.findChild<QGroupBox*>("groupTools")->isVisible());
}

QTEST_MAIN(TestDialogClientFirstShow)
#include "TestDialogClientFirstShow.moc"
