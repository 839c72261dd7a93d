#include "OfficeFixture.h"
#include "UnoSupport.h"
#include "VirtualDisplay.h"
#include "WriterApplication.h"
#include "WriterRange.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/frame/XStorable.hpp>

#include <QImage>
#include <QtTest>

#include <csignal>

using namespace automation;

// The program a user starts, as a user meets it: the real Revisor binary on a
// virtual X display with a window manager, a visible Writer window of a real
// office and a real quillet-service. The Writer window is activated and
// detected, the tool window's check button marks the errors in the document,
// Next opens the popup just below the first error as the screen draws it (ctest
// runs this once with the office's gtk3 plugin and once with gen). The marks
// change nothing of the document. With gtk3, closing the tool window ends the
// program with the event loop's code, taking its marks with it; with gen,
// Revisor is killed instead, and its marks go all the same.
class TestRevisorProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void checkThroughTheToolWindow();

private:
    QRect redUnderlineOfFirstLine();
    QString xdotool(const QStringList& arguments, int timeoutMs = 10000);
    QString waitForWindow(const QStringList& search, int timeoutMs);
    // The document's text; nothing once the test's document is gone (the
    // office ended or dropped this connection), with a warning that says which.
    std::optional<QString> documentText();
    // Whether the office draws a mark from start to end; nothing once the
    // document is gone.
    std::optional<bool> marked(int start, int end);
    QStringList formatting();

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    VirtualDisplay m_display;
    QProcess m_service;
    OfficeFixture m_office;
    css::uno::Reference<css::frame::XFrame> m_frame;
    std::shared_ptr<Document> m_document;
    bool m_goneReported = false;
};

QString TestRevisorProgram::xdotool(const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(timeoutMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString TestRevisorProgram::waitForWindow(const QStringList& search, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString found = xdotool(QStringList{"search"} + search);
        if (!found.isEmpty())
            return found.split('\n').last();
        QTest::qWait(200);
    }
    return QString();
}

std::optional<QString> TestRevisorProgram::documentText()
{
    if (const std::shared_ptr<Range> content = m_document->content())
        return content->text();
    if (!m_goneReported) {
        m_goneReported = true;
        const QList<qint64> pids = m_office.officePids();
        qWarning("the test's document is gone: the connection to the office is %s, and soffice.bin %s",
                 m_office.connection() && m_office.connection()->isAlive() ? "open" : "closed",
                 pids.isEmpty() ? "has ended" : "still runs");
    }
    return std::nullopt;
}

std::optional<bool> TestRevisorProgram::marked(int start, int end)
{
    // What the office draws in the paragraph (its proofreader, Quillet's
    // extension, answers for Revisor's marks).
    const std::optional<QString> documentText = this->documentText();
    if (!documentText)
        return std::nullopt;
    const QString& text = *documentText;
    const int paragraph = text.lastIndexOf('\n', start - 1) + 1;
    int paragraphEnd = text.indexOf('\n', start);
    if (paragraphEnd < 0)
        paragraphEnd = text.size();
    return m_office.drawnMarks(text.mid(paragraph, paragraphEnd - paragraph))
        .contains(qMakePair(start - paragraph, end - start));
}

QStringList TestRevisorProgram::formatting()
{
    // Every character's underline, its colour, and whether they are its own
    // or inherited.
    QStringList result;
    const std::optional<QString> documentText = this->documentText();
    if (!documentText)
        return {QStringLiteral("the document is gone")};
    const QString& text = *documentText;
    for (int i = 0; i < text.size(); ++i) {
        auto range = std::dynamic_pointer_cast<WriterRange>(m_document->range(i, i + 1));
        if (!range || text.at(i) == '\n')
            continue;
        for (const auto& piece : range->pieces()) {
            css::uno::Reference<css::beans::XPropertyState> state(piece, css::uno::UNO_QUERY_THROW);
            const rtl::OUString names[] = {"CharUnderline", "CharUnderlineColor", "CharUnderlineHasColor"};
            QString line = QString::number(i);
            for (const css::beans::PropertyState s :
                 state->getPropertyStates(css::uno::Sequence<rtl::OUString>(names, 3)))
                line += QLatin1Char(' ') + QString::number(int(s));
            const std::optional<Font> font = range->font();
            line += QStringLiteral(" %1/%2").arg(font ? font->underline : -1).arg(font ? font->underlineColor : -1);
            result.append(line);
        }
    }
    return result;
}

void TestRevisorProgram::initTestCase()
{
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "soffice"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is needed for this test").arg(QLatin1String(tool))));
    }
    QVERIFY(m_dir.isValid());

    // A display of our own, with a window manager.
    QString reason;
    QVERIFY2(m_display.start(QStringLiteral("1400x1000"), &reason), qPrintable(reason));
    m_env.insert("DISPLAY", m_display.display());

    // The checking service with one account.
    const QString data = m_dir.filePath("service");
    QProcess add;
    add.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"user", "add", "tester", "--data", data});
    QVERIFY(add.waitForStarted());
    add.write("secret+password\n");
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitCode(), 0);
    m_service.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"serve", "--listen", "127.0.0.1:0", "--data", data});
    QVERIFY(m_service.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_service.canReadLine(), 60000);
    const QRegularExpressionMatch ready = QRegularExpression(QStringLiteral("listening on (http://[0-9.:]+/)"))
                                              .match(QString::fromUtf8(m_service.readLine()));
    QVERIFY(ready.hasMatch());
    m_env.insert("QUILLET_SERVICE_URL", ready.captured(1));

    // A visible Writer window with errors on its page.
    QVERIFY2(m_office.start(&reason, true), qPrintable(reason));
    m_frame = m_office.newDocument({QStringLiteral("新系统以经完成测试，下月一日上线。"),
                                    QStringLiteral("每位同事因该在本月以前登录，核对自己的信息。"),
                                    QStringLiteral("软件的按装由信息技术部协助完成。")});
    QVERIFY(m_frame.is());
    std::shared_ptr<WriterApplication> application = WriterApplication::create(m_office.connection(), m_frame);
    QVERIFY(application);
    m_document = application->activeDocument();
    QVERIFY(m_document);
}

// The bounding box, on the screen, of the mark's colour on the topmost marked
// line of the page: the drawn underline of the first error.
QRect TestRevisorProgram::redUnderlineOfFirstLine()
{
    const QString file = m_dir.filePath("screen.png");
    QProcess import;
    import.setProcessEnvironment(m_env);
    import.start(QStringLiteral("import"), {"-window", "root", file});
    import.waitForFinished(20000);
    const QImage image(file);
    QRect box;
    int firstRow = -1;
    // Below the office's menus and toolbars, left of the tool window (moved to
    // x 900), whose red icons and message would count too.
    for (int y = 150; y < image.height(); ++y) {
        for (int x = 0; x < std::min(image.width(), 880); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < 200 || c.green() > 60 || c.blue() > 60)
                continue;
            if (firstRow < 0)
                firstRow = y;
            if (y > firstRow + 8)
                return box;
            box = box.united(QRect(x, y, 1, 1));
        }
    }
    return box;
}

void TestRevisorProgram::cleanupTestCase()
{
    m_document.reset();
    if (m_frame.is())
        OfficeFixture::closeDocument(m_frame);
    m_office.stop();
    m_service.terminate();
    m_service.waitForFinished(10000);
}

void TestRevisorProgram::checkThroughTheToolWindow()
{
    const std::optional<QString> opened = documentText();
    QVERIFY(opened);
    const QString text = *opened;
    const QList<QPair<int, int>> errors = {
        {int(text.indexOf("以经")), 2}, {int(text.indexOf("因该")), 2}, {int(text.indexOf("按装")), 2}};
    const QStringList before = formatting();
    m_document->setModified(false);

    QProcess revisor;
    QProcessEnvironment env = m_env;
    env.insert("HOME", m_dir.filePath("home"));
    // A documents folder, so that a crash leaves its report (printed below).
    QDir().mkpath(m_dir.filePath("home/Documents"));
    env.insert("XDG_CONFIG_HOME", m_dir.filePath("home/config"));
    // A pipe of its own: another Revisor of this user (a developer's, a
    // second test) may be talking to another office meanwhile.
    env.insert("QUILLET_OFFICE_PIPE", QStringLiteral("quillet-test-%1").arg(QCoreApplication::applicationPid()));
    env.insert("QT_LOGGING_RULES", "quillet.startup.debug=true;quillet.popup.debug=true;quillet.office.debug=true");
    env.remove("QT_QPA_PLATFORM");
    revisor.setProcessEnvironment(env);
    revisor.setProcessChannelMode(QProcess::MergedChannels);
    revisor.start(QStringLiteral(QUILLET_REVISOR), QStringList());
    QVERIFY(revisor.waitForStarted());

    // Where the check button is, once the window is up.
    QRegularExpressionMatch button;
    QRegularExpressionMatch next;
    QDeadlineTimer deadline(20000);
    QString output;
    while (!button.hasMatch() && !deadline.hasExpired() && revisor.state() == QProcess::Running) {
        revisor.waitForReadyRead(200);
        output += QString::fromUtf8(revisor.readAll());
        button = QRegularExpression(QStringLiteral("btnCheckCurrentPage (\\d+),(\\d+)")).match(output);
        next = QRegularExpression(QStringLiteral("btnNext (\\d+),(\\d+)")).match(output);
    }
    QVERIFY2(button.hasMatch(), qPrintable(output));
    const QString tool = waitForWindow({"--name", "Quillet-"}, 10000);
    const QString writer = waitForWindow({"--class", "libreoffice-writer"}, 30000);
    QVERIFY(!tool.isEmpty());
    QVERIFY(!writer.isEmpty());

    // The user moves into the document: Revisor detects it and attaches. On a
    // loaded machine the office may answer too late for the first attempt:
    // the user activates the window again, as Revisor then tries again.
    for (int attempt = 0; attempt < 4 && !output.contains("connected to the office"); ++attempt) {
        xdotool({"windowactivate", "--sync", tool});
        xdotool({"windowactivate", "--sync", writer});
        QDeadlineTimer attached(8000);
        while (!output.contains("connected to the office") && !attached.hasExpired() &&
               revisor.state() == QProcess::Running) {
            revisor.waitForReadyRead(200);
            output += QString::fromUtf8(revisor.readAll());
        }
    }

    // The check button; the first check asks for the account. The button
    // works once the tool window has the document, which on a loaded machine
    // comes a while after the connection: the user clicks again until the
    // dialog appears.
    QString login;
    for (QDeadlineTimer asked(40000); login.isEmpty() && !asked.hasExpired() && revisor.state() == QProcess::Running;) {
        xdotool({"mousemove", "--window", tool, button.captured(1), button.captured(2), "click", "1"});
        login = waitForWindow({"--name", "^(登录|Login)$"}, 8000);
    }
    output += QString::fromUtf8(revisor.readAll());
    QVERIFY2(
        !login.isEmpty(),
        qPrintable(QStringLiteral("the login dialog did not appear: the Writer window was not detected\n") + output));
    xdotool({"windowactivate", "--sync", login, "type", "--delay", "10", "tester"});
    xdotool({"key", "Tab", "type", "--delay", "10", "secret+password"});
    xdotool({"key", "Return"});

    for (const auto& error : errors)
        QTRY_VERIFY_WITH_TIMEOUT(marked(error.first, error.first + error.second) == true, 30000);
    QVERIFY(marked(0, 1) == false);

    // From the start of the document, Next opens the popup just below the
    // first error, where the screen shows its underline.
    xdotool({"windowmove", tool, "900", "600"});
    m_document->range(0, 0)->select();
    // The office draws new marks in the paragraph that holds the caret after
    // a pause of its own (about 2 s).
    QTest::qWait(3500);
    const QRect underline = redUnderlineOfFirstLine();
    QVERIFY2(!underline.isEmpty(), "no mark is drawn");
    xdotool({"mousemove", "--window", tool, next.captured(1), next.captured(2), "click", "1"});
    QRegularExpressionMatch at;
    QDeadlineTimer shown(10000);
    while (!at.hasMatch() && !shown.hasExpired() && revisor.state() == QProcess::Running) {
        revisor.waitForReadyRead(200);
        output += QString::fromUtf8(revisor.readAll());
        at = QRegularExpression(QStringLiteral("popup shown at (-?\\d+),(-?\\d+)")).match(output);
    }
    QVERIFY2(at.hasMatch(), qPrintable(output));
    const QPoint corner(at.captured(1).toInt(), at.captured(2).toInt());
    qInfo("popup at %d,%d; underline from %d,%d to %d,%d", corner.x(), corner.y(), underline.left(), underline.top(),
          underline.right(), underline.bottom());
    QVERIFY2(qAbs(corner.x() - underline.left()) <= 16 && corner.y() >= underline.top() - 12 &&
                 corner.y() <= underline.bottom() + 16,
             qPrintable(QStringLiteral("popup at %1,%2; underline from %3,%4 to %5,%6")
                            .arg(corner.x())
                            .arg(corner.y())
                            .arg(underline.left())
                            .arg(underline.top())
                            .arg(underline.right())
                            .arg(underline.bottom())));

    // Checking changed nothing of the document.
    QCOMPARE(formatting(), before);
    QVERIFY(!m_document->isModified());

    if (qgetenv("SAL_USE_VCLPLUGIN") != "gen") {
        // Checking as the user types: a sentence typed at the end of the last
        // paragraph carries its mark once the user pauses; typing the
        // correction takes the mark away, and the paragraph's other error
        // keeps its mark.
        const QString sentence = QStringLiteral("我们以经准备好了。");
        const int end = m_document->content()->text().size();
        m_document->range(end, end)->select();
        QElapsedTimer last;
        for (int i = 0; i < sentence.size(); ++i) {
            m_document->range(end + i, end + i)->setText(sentence.mid(i, 1));
            last.start();
            QTest::qWait(60);
        }
        const int typed = end + int(sentence.indexOf("以经"));
        QTRY_VERIFY_WITH_TIMEOUT(marked(typed, typed + 2) == true, 10000);
        qInfo("typed error marked %lld ms after the last key", last.elapsed());
        QVERIFY(marked(errors[2].first, errors[2].first + 2) == true);
        m_document->range(typed, typed + 1)->setText(QStringLiteral("已"));
        QTRY_VERIFY_WITH_TIMEOUT(marked(typed, typed + 2) == false, 10000);
        QVERIFY(marked(errors[2].first, errors[2].first + 2) == true);
    }

    if (qgetenv("SAL_USE_VCLPLUGIN") == "gen") {
        // Revisor is killed while its marks are shown: the office's extension
        // drops them, every character keeps its own formatting, and a save
        // holds no mark.
        ::kill(pid_t(revisor.processId()), SIGKILL);
        QVERIFY(revisor.waitForFinished(20000));
        for (const auto& error : errors)
            QTRY_VERIFY_WITH_TIMEOUT(marked(error.first, error.first + error.second) == false, 10000);
        QCOMPARE(formatting(), before);
        const QString saved = m_dir.filePath("after-kill.fodt");
        css::beans::PropertyValue filter;
        filter.Name = "FilterName";
        filter.Value <<= rtl::OUString("OpenDocument Text Flat XML");
        css::uno::Reference<css::frame::XStorable>(OfficeFixture::model(m_frame), css::uno::UNO_QUERY_THROW)
            ->storeToURL(office::toOUString(QUrl::fromLocalFile(saved).toString()),
                         css::uno::Sequence<css::beans::PropertyValue>(&filter, 1));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY(xml.contains("以经"));
        QVERIFY(!xml.contains("text-underline-style=\"wave\""));
        return;
    }

    // Closing the tool window ends the program with the event loop's code, and
    // its marks go with it.
    xdotool({"windowactivate", "--sync", tool});
    xdotool({"key", "--window", tool, "alt+F4"});
    QVERIFY(revisor.waitForFinished(20000));
    if (revisor.exitStatus() != QProcess::NormalExit) {
        const QDir reports(m_dir.filePath("home/Documents/Quillet/crash"));
        for (const QString& name : reports.entryList(QDir::Files)) {
            QFile report(reports.filePath(name));
            report.open(QIODevice::ReadOnly);
            qWarning("crash report %s:\n%s", qPrintable(name), report.readAll().constData());
        }
    }
    QCOMPARE(revisor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(revisor.exitCode(), 0);
    for (const auto& error : errors)
        QTRY_VERIFY_WITH_TIMEOUT(marked(error.first, error.first + error.second) == false, 10000);
}

QTEST_GUILESS_MAIN(TestRevisorProgram)
#include "TestRevisorProgram.moc"
