#include "presentation/QFramelessWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QtTest>

namespace {

// A frameless window as subclasses make it, with the classification opened to the test.
class Window : public QFramelessWindow
{
public:
    Window() { setWindowFlags(Qt::FramelessWindowHint); }
    using QFramelessWindow::getResizeRegion;
};

void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPoint global = w->mapToGlobal(local);
    QCursor::setPos(global);
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void moveTo(QWidget* w, QPoint global, Qt::MouseButtons buttons)
{
    QCursor::setPos(global);
    const QPoint local = w->mapFromGlobal(global);
    QMouseEvent event(QEvent::MouseMove, local, local, global, Qt::NoButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

} // namespace

Q_DECLARE_METATYPE(QFramelessWindow::ResizeRegion)

class TestFramelessWindow : public QObject
{
    Q_OBJECT
private slots:
    void regionsAndCursors_data();
    void regionsAndCursors();
    void rightEdgeResizesFromPressTimeSize();
    void leftEdgePastMinimumMovesWindow();
    void dragInsideMovesWindow();
    void rightButtonNeitherMovesNorResizes();
    void moveIsKeptInsideAvailableArea_data();
    void moveIsKeptInsideAvailableArea();
    void mouseTrackingReachesChildren();
};

void TestFramelessWindow::regionsAndCursors_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("region"); // -1: inside, arrow cursor
    QTest::addColumn<Qt::CursorShape>("cursor");
    using W = QFramelessWindow;
    QTest::newRow("(0,0)") << QPoint(0, 0) << int(W::RegionTopLeft) << Qt::SizeFDiagCursor;
    QTest::newRow("(5,2)") << QPoint(5, 2) << int(W::RegionTopLeft) << Qt::SizeFDiagCursor;
    QTest::newRow("(4,5)") << QPoint(4, 5) << int(W::RegionTopLeft) << Qt::SizeFDiagCursor;
    QTest::newRow("(150,0)") << QPoint(150, 0) << int(W::RegionTop) << Qt::SizeVerCursor;
    QTest::newRow("(295,0)") << QPoint(295, 0) << int(W::RegionTopRight) << Qt::SizeBDiagCursor;
    QTest::newRow("(299,3)") << QPoint(299, 3) << int(W::RegionTopRight) << Qt::SizeBDiagCursor;
    QTest::newRow("(0,100)") << QPoint(0, 100) << int(W::RegionLeft) << Qt::SizeHorCursor;
    QTest::newRow("(295,100)") << QPoint(295, 100) << int(W::RegionRight) << Qt::SizeHorCursor;
    QTest::newRow("(150,199)") << QPoint(150, 199) << int(W::RegionBottom) << Qt::SizeVerCursor;
    QTest::newRow("(299,199)") << QPoint(299, 199) << int(W::RegionBottomRight) << Qt::SizeFDiagCursor;
    QTest::newRow("(295,195)") << QPoint(295, 195) << int(W::RegionBottomRight) << Qt::SizeFDiagCursor;
    QTest::newRow("(3,199)") << QPoint(3, 199) << int(W::RegionBottomLeft) << Qt::SizeBDiagCursor;
    QTest::newRow("(5,5)") << QPoint(5, 5) << -1 << Qt::ArrowCursor;
    QTest::newRow("(294,100)") << QPoint(294, 100) << -1 << Qt::ArrowCursor;
    QTest::newRow("(6,6)") << QPoint(6, 6) << -1 << Qt::ArrowCursor;
}

void TestFramelessWindow::regionsAndCursors()
{
    QFETCH(QPoint, pos);
    QFETCH(int, region);
    QFETCH(Qt::CursorShape, cursor);
    Window w;
    w.resize(300, 200);
    w.move(100, 100);
    w.setAllMouseTracking(); // hover moves are only delivered with tracking on
    w.show();
    if (region >= 0)
        QCOMPARE(int(w.getResizeRegion(pos)), region);
    w.setCursor(Qt::WaitCursor);
    sendMouse(&w, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
    QCOMPARE(w.cursor().shape(), cursor);
    QCOMPARE(w.size(), QSize(300, 200)); // hovering never resizes
}

void TestFramelessWindow::rightEdgeResizesFromPressTimeSize()
{
    Window w;
    w.resize(300, 200);
    w.move(100, 100);
    w.show();
    sendMouse(&w, QEvent::MouseButtonPress, QPoint(298, 100), Qt::LeftButton, Qt::LeftButton);
    const QPoint pressGlobal = w.mapToGlobal(QPoint(298, 100));
    // The first move with the button down decides: still in the band, so a resize.
    moveTo(&w, pressGlobal + QPoint(1, 0), Qt::LeftButton);
    QCOMPARE(w.size(), QSize(301, 200));
    moveTo(&w, pressGlobal + QPoint(20, 0), Qt::LeftButton);
    QCOMPARE(w.size(), QSize(320, 200));
    moveTo(&w, pressGlobal + QPoint(40, 0), Qt::LeftButton);
    QCOMPARE(w.size(), QSize(340, 200));
    QCOMPARE(w.pos(), QPoint(100, 100));

    // After the release the same movement only updates the cursor.
    w.setAllMouseTracking();
    sendMouse(&w, QEvent::MouseButtonRelease, w.mapFromGlobal(QCursor::pos()), Qt::LeftButton, Qt::NoButton);
    moveTo(&w, pressGlobal + QPoint(60, 0), Qt::NoButton);
    QCOMPARE(w.size(), QSize(340, 200));

    // Bottom-right corner: both sizes follow the pointer.
    sendMouse(&w, QEvent::MouseButtonPress, QPoint(338, 198), Qt::LeftButton, Qt::LeftButton);
    const QPoint corner = w.mapToGlobal(QPoint(338, 198));
    moveTo(&w, corner + QPoint(-1, 1), Qt::LeftButton);
    moveTo(&w, corner + QPoint(-40, 25), Qt::LeftButton);
    QCOMPARE(w.size(), QSize(300, 225));
}

void TestFramelessWindow::leftEdgePastMinimumMovesWindow()
{
    Window w;
    w.setMinimumWidth(100);
    w.resize(300, 200);
    w.move(100, 100);
    w.show();
    sendMouse(&w, QEvent::MouseButtonPress, QPoint(2, 100), Qt::LeftButton, Qt::LeftButton);
    moveTo(&w, QPoint(103, 200), Qt::LeftButton);
    moveTo(&w, QPoint(150, 200), Qt::LeftButton);
    // Width from the press-time size and the travel (48); the left edge at the pointer itself.
    QCOMPARE(w.geometry(), QRect(150, 100, 252, 200));
    moveTo(&w, QPoint(402, 200), Qt::LeftButton);
    QCOMPARE(w.width(), 100);
    QCOMPARE(w.x(), 402); // the left edge follows the pointer
}

void TestFramelessWindow::dragInsideMovesWindow()
{
    Window w;
    w.resize(300, 200);
    w.move(100, 100);
    w.show();
    sendMouse(&w, QEvent::MouseButtonPress, QPoint(150, 100), Qt::LeftButton, Qt::LeftButton);
    moveTo(&w, QPoint(280, 220), Qt::LeftButton);
    QCOMPARE(w.pos(), QPoint(130, 120));
    QCOMPARE(w.size(), QSize(300, 200));
    // A move into the band during a drag keeps dragging.
    moveTo(&w, QPoint(290, 230), Qt::LeftButton);
    QCOMPARE(w.pos(), QPoint(140, 130));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(150, 100), QPointF(150, 100), QPointF(300, 240),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &release);
    QCOMPARE(w.pos(), QPoint(150, 140));
    w.setAllMouseTracking();
    moveTo(&w, QPoint(350, 300), Qt::NoButton);
    QCOMPARE(w.pos(), QPoint(150, 140));
}

void TestFramelessWindow::rightButtonNeitherMovesNorResizes()
{
    Window w;
    w.resize(300, 200);
    w.move(100, 100);
    w.show();
    for (const QPoint start : {QPoint(150, 100), QPoint(298, 100)}) {
        sendMouse(&w, QEvent::MouseButtonPress, start, Qt::RightButton, Qt::RightButton);
        moveTo(&w, w.mapToGlobal(start) + QPoint(30, 30), Qt::RightButton);
        QCOMPARE(w.geometry(), QRect(100, 100, 300, 200));
        sendMouse(&w, QEvent::MouseButtonRelease, start, Qt::RightButton, Qt::NoButton);
    }
}

void TestFramelessWindow::moveIsKeptInsideAvailableArea_data()
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::addColumn<QPoint>("target");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("inside") << area.topLeft() + QPoint(10, 20) << area.topLeft() + QPoint(10, 20);
    QTest::newRow("off the left") << QPoint(area.left() - 50, area.top() + 10) << QPoint(area.left(), area.top() + 10);
    QTest::newRow("off the top") << QPoint(area.left() + 10, area.top() - 5) << QPoint(area.left() + 10, area.top());
    QTest::newRow("off the bottom right") << QPoint(area.right() - 100, area.bottom() - 50)
                                          << QPoint(area.left() + area.width() - 300, area.top() + area.height() - 200);
}

void TestFramelessWindow::moveIsKeptInsideAvailableArea()
{
    QFETCH(QPoint, target);
    QFETCH(QPoint, expected);
    Window w;
    w.resize(300, 200);
    w.show();
    w.move(target);
    QCOMPARE(w.pos(), expected);
}

void TestFramelessWindow::mouseTrackingReachesChildren()
{
    Window w;
    auto* child = new QWidget(&w);
    auto* grandChild = new QWidget(child);
    w.setAllMouseTracking();
    QVERIFY(w.hasMouseTracking());
    QVERIFY(child->hasMouseTracking());
    QVERIFY(grandChild->hasMouseTracking());
}

QTEST_MAIN(TestFramelessWindow)
#include "TestFramelessWindow.moc"
