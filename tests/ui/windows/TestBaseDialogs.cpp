#include "windows/DialogProgress.h"
#include "windows/DialogReportError.h"

#include <QtTest>
#include <QtWidgets>

// The dialog base (Escape closes) and the progress box.
class TestBaseDialogs : public QObject
{
    Q_OBJECT
private slots:
    void escapeClosesAndRejects();
    void progressCancel();
    void reportFields();
};

void TestBaseDialogs::escapeClosesAndRejects()
{
    DialogReportError dialog;
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    // On X11 the window manager must be able to manage every dialog; Windows keeps the flag.
#ifdef Q_OS_WIN
    QVERIFY(dialog.windowFlags().testFlag(Qt::BypassWindowManagerHint));
#else
    QVERIFY(!dialog.windowFlags().testFlag(Qt::BypassWindowManagerHint));
#endif
}

void TestBaseDialogs::progressCancel()
{
    DialogProgress progress;
    QSignalSpy cancelled(&progress, &DialogProgress::cancel);
    progress.setProgress(42);
    QCOMPARE(progress.progress(), 42);
    progress.setTitle("Checking ...");
    progress.show();
    QVERIFY(progress.isVisible());
    progress.findChild<QPushButton*>("btnCancel")->click();
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(!progress.isVisible());
}

void TestBaseDialogs::reportFields()
{
    DialogReportError dialog;
    dialog.setData(QString::fromUtf8("以经"), QString::fromUtf8("我们以经到了。"));
    QCOMPARE(dialog.errorText(), QString::fromUtf8("以经"));
    QCOMPARE(dialog.sentence(), QString::fromUtf8("我们以经到了。"));
    QCOMPARE(dialog.note(), QString());
    dialog.findChild<QPlainTextEdit*>("editNote")->setPlainText("note");
    QTimer::singleShot(0, &dialog, [&] { dialog.findChild<QPushButton*>("btnSend")->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.note(), QString("note"));
}

QTEST_MAIN(TestBaseDialogs)
#include "TestBaseDialogs.moc"
