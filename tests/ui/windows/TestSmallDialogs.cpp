#include "client/Revisor.h"
#include "windows/DialogAbout.h"
#include "windows/DialogContact.h"
#include "windows/DialogShow.h"

#include <QApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {

// Answers every message box that opens with OK and records its text and icon.
class MessageBoxWatcher : public QObject
{
public:
    explicit MessageBoxWatcher(QObject* parent = nullptr)
        : QObject(parent)
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible())
                    continue;
                texts << box->text();
                icons << box->icon();
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start();
    }

    QStringList texts;
    QList<QMessageBox::Icon> icons;

private:
    QTimer m_timer;
};

} // namespace

class TestSmallDialogs : public QObject
{
    Q_OBJECT
private slots:
    void aboutShowsProductAndLink();
    void aboutOkCloses();
    void contactWithoutMessageAsksForOne();
    void contactWithMessageCloses();
    void displaySettingsMenu();
    void drawnIcons_data();
    void drawnIcons();
    void productIcon();
};

void TestSmallDialogs::aboutShowsProductAndLink()
{
    DialogAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Quillet"));
    QCOMPARE(about.size(), QSize(425, 159));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblQuillet"))->text(),
             QStringLiteral("Quillet ") + getRevisor()->getClientVer());
    auto* link = about.findChild<QLabel*>(QStringLiteral("lblLink"));
    QVERIFY(link);
    QVERIFY(link->openExternalLinks());
    QVERIFY(link->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
    QVERIFY(link->textInteractionFlags() & Qt::LinksAccessibleByMouse);
    const QString url = getRevisor()->baseUrl();
    QVERIFY2(link->text().contains(QStringLiteral("href=\"%1\"").arg(url)), qPrintable(link->text()));
    QVERIFY(!about.windowIcon().isNull());
    QVERIFY(about.findChild<QPushButton*>(QStringLiteral("btnOk"))->isDefault());
}

void TestSmallDialogs::aboutOkCloses()
{
    DialogAbout about;
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
    // The main window keeps the box and shows it again.
    about.show();
    QVERIFY(about.isVisible());
}

void TestSmallDialogs::contactWithoutMessageAsksForOne()
{
    MessageBoxWatcher watcher;
    DialogContact contact;
    QCOMPARE(contact.windowTitle(), QStringLiteral("Contact"));
    QCOMPARE(contact.size(), QSize(400, 300));
    contact.show();
    contact.findChild<QLineEdit*>(QStringLiteral("editEmail"))->setText(QStringLiteral("me@example.org"));
    contact.findChild<QPushButton*>(QStringLiteral("btnSend"))->click();
    QCOMPARE(watcher.texts, QStringList{QStringLiteral("Please input message.")});
    QCOMPARE(watcher.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
    QVERIFY(contact.isVisible());
}

void TestSmallDialogs::contactWithMessageCloses()
{
    MessageBoxWatcher watcher;
    DialogContact contact;
    contact.show();
    contact.findChild<QTextEdit*>(QStringLiteral("editMsg"))->setPlainText(QStringLiteral("很好用，谢谢。"));
    contact.findChild<QPushButton*>(QStringLiteral("btnSend"))->click();
    QVERIFY(!contact.isVisible());
    QVERIFY(watcher.texts.isEmpty());
}

void TestSmallDialogs::displaySettingsMenu()
{
    DialogShow panel;
    QMenu* menu = panel.settingMenu();
    QVERIFY(menu);
    QCOMPARE(menu->title(), QStringLiteral("Setting"));
    QVERIFY(!menu->icon().isNull());
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
        QVERIFY(!action->icon().isNull());
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("Hide Other Windows"), QStringLiteral("Hide Toolbars && Menus"),
                                 QStringLiteral("Full Screen")}));
    QCOMPARE(QAction(texts.at(1)).iconText(), QStringLiteral("Hide Toolbars & Menus"));
    QCOMPARE(panel.findChild<QToolButton*>(QStringLiteral("btnSetting"))->menu(), menu);
}

void TestSmallDialogs::drawnIcons_data()
{
    QTest::addColumn<QString>("path");
    for (const char* name : {"CheckCurrentPage", "CheckAll", "RemoveAll", "Previous", "Next", "Previous2", "Next2",
                             "Setting", "User", "Login", "Contact", "Update", "Web", "Info", "Pin"})
        QTest::newRow(name) << QStringLiteral(":/icon/%1.ico").arg(QLatin1String(name));
}

void TestSmallDialogs::drawnIcons()
{
    QFETCH(QString, path);
    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 6);
    QList<int> sizes;
    do {
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        sizes << image.width();
        // A coloured glyph on a transparent ground.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY(inked > image.width()); // more than a stray line
    } while (reader.jumpToNextImage());
    QCOMPARE(sizes, (QList<int>{16, 20, 24, 32, 40, 48}));
    QVERIFY(QIcon(path).availableSizes().contains(QSize(40, 40)));
}

void TestSmallDialogs::productIcon()
{
    const QImage icon(QStringLiteral(":/images/icon128.png"));
    QCOMPARE(icon.size(), QSize(128, 128));
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);     // rounded corner
    QCOMPARE(qAlpha(icon.pixel(64, 20)), 255); // the coloured square
}

QTEST_MAIN(TestSmallDialogs)
#include "TestSmallDialogs.moc"
