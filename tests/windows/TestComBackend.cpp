#include "ComAutomation.h"
#include "StandInProcess.h"
#include "WordClientHelper.h"
#include "WordFixture.h"
#include "bridge/FocusWatcher.h"
#include "bridge/WordHelper.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace automation;

// The COM backend against the stand-in word processor in its own process:
// attaching through AccessibleObjectFromWindow, the focus hook, the document
// logic marking and clearing over cross-process IDispatch calls, the
// application's events arriving on the GUI thread, and an editor killed
// under our feet.
class TestComBackend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void attachesThroughTheNativeObjectModel();
    void focusHookReportsTheDocumentWindow();
    void marksAndClearsWithFormattingBack();
    void eventsArriveOnTheGuiThread();
    void saveTakesTheMarksOutFirst();
    void killedEditorAnswersEmptyAtOnce();
    void bridgeAttachesByFocusAndSurvivesTheEditor();

private:
    QString m_textFile;
    QTemporaryDir m_dir;
    std::unique_ptr<StandInProcess> m_standIn;
    std::shared_ptr<comword::ComApplication> m_app;
};

namespace {

const QString kText = QStringLiteral("黄河之水天上来，奔流到海不复回。以经说过的话要算数。\n"
                                     "君不见高堂明镜悲白发，朝如青丝暮成雪。黄昏时分。\n");

// The findings of templates at every place their text stands in pageText, with
// their spans moved there (one finding per occurrence, as the service sends them).
CHECK_DATAS foundIn(const QString& pageText, const CHECK_DATAS& templates)
{
    CHECK_DATAS result;
    for (const std::shared_ptr<CCheckData>& tmpl : templates) {
        const QString wrong = QString::fromStdString(tmpl->text);
        for (int at = pageText.indexOf(wrong); at >= 0; at = pageText.indexOf(wrong, at + 1)) {
            auto one = std::make_shared<CCheckData>(*tmpl);
            for (auto& [start, end] : one->spans) {
                start += at;
                end += at;
            }
            result.push_back(one);
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const auto& a, const auto& b) { return a->spans.front().first < b->spans.front().first; });
    return result;
}

class RecordingSink : public EventSink
{
public:
    long onEvent(int eventId, const std::vector<Variant>& parameters) override
    {
        ids.push_back(eventId);
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        // A selection event's parameter answers calls while the editor waits for us.
        if (eventId == EventWindowSelectionChange && parameters.size() == 1) {
            if (auto* object = std::get_if<std::shared_ptr<Object>>(&parameters[0])) {
                if (auto selection = std::dynamic_pointer_cast<Selection>(*object)) {
                    if (auto range = selection->range())
                        caretStart = range->start();
                }
            }
        }
        return ResultOk;
    }
    std::vector<int> ids;
    bool onGuiThread = true;
    int caretStart = -1;
};

} // namespace

void TestComBackend::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_textFile = m_dir.filePath(QStringLiteral("text.txt"));
    QFile file(m_textFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kText.toUtf8());
}

void TestComBackend::init()
{
    m_standIn = std::make_unique<StandInProcess>();
    QVERIFY(m_standIn->start({QStringLiteral("--text"), m_textFile}));
    HWND window = m_standIn->documentWindow();
    QVERIFY(window);
    m_app = comword::ComApplication::fromWindow(window);
    QVERIFY(m_app);
}

void TestComBackend::cleanup()
{
    m_app.reset();
    m_standIn.reset();
}

void TestComBackend::attachesThroughTheNativeObjectModel()
{
    QVERIFY(!m_app->version().isEmpty());
    std::shared_ptr<Document> document = m_app->activeDocument();
    QVERIFY(document);
    QCOMPARE(document->fullName(), QStringLiteral("C:\\Documents\\report.docx"));
    QString expected = kText;
    expected.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    QCOMPARE(document->content()->text(), expected);
    // Ranges by position, their neighbours, and containment across the process boundary.
    std::shared_ptr<Range> word = document->range(0, 2);
    QVERIFY(word);
    QCOMPARE(word->text(), QStringLiteral("黄河"));
    std::shared_ptr<Range> next = word->next(UnitCharacter, 1);
    QVERIFY(next);
    QCOMPARE(next->text(), QStringLiteral("之"));
    QVERIFY(word->inRange(document->content()));
    QVERIFY(!document->content()->inRange(word));
    QCOMPARE(document->range(5, 3), nullptr);
    QCOMPARE(m_app->selection()->information(ActiveEndPageNumber), std::optional<int>(1));
}

void TestComBackend::focusHookReportsTheDocumentWindow()
{
    std::vector<HWND> focused;
    std::unique_ptr<FocusWatcher> watcher = FocusWatcher::create();
    QVERIFY(watcher->start([&focused](HWND window) { focused.push_back(window); }));
    QCOMPARE(m_standIn->command(QStringLiteral("focus")), QStringLiteral("ok"));
    const HWND document = m_standIn->documentWindow();
    QTRY_VERIFY(std::find(focused.begin(), focused.end(), document) != focused.end());
    wchar_t name[16] = {};
    GetClassNameW(document, name, 16);
    QCOMPARE(QString::fromWCharArray(name), QStringLiteral("_WwG"));
}

void TestComBackend::marksAndClearsWithFormattingBack()
{
    WordHelper helper;
    QVERIFY(helper.attach(m_standIn->documentWindow(), m_app));
    helper.showErrors(
        foundIn(helper.getCurrentPageText(),
                {makeFinding(QStringLiteral("以经"), {QStringLiteral("已经")}), makeFinding(QStringLiteral("黄"))}));
    // "黄" twice, "以经" once.
    QCOMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks 0-1 16-18 46-47"));
    QCOMPARE(m_standIn->command(QStringLiteral("undo")), QStringLiteral("undo 1"));
    helper.clearErrors();
    QCOMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks"));
    QCOMPARE(m_standIn->command(QStringLiteral("changed")), QStringLiteral("changed 0"));
    QCOMPARE(m_standIn->command(QStringLiteral("undo")), QStringLiteral("undo 2"));
}

void TestComBackend::eventsArriveOnTheGuiThread()
{
    auto sink = std::make_shared<RecordingSink>();
    const int cookie = m_app->advise(sink);
    QVERIFY(cookie > 0);
    QCOMPARE(m_standIn->command(QStringLiteral("sinks")), QStringLiteral("sinks 1"));
    QCOMPARE(m_standIn->command(QStringLiteral("caret 7 9")), QStringLiteral("ok"));
    QCOMPARE(sink->ids, std::vector<int>{EventWindowSelectionChange});
    QCOMPARE(sink->caretStart, 7);
    QVERIFY(sink->onGuiThread);
    QCOMPARE(m_standIn->command(QStringLiteral("save")), QStringLiteral("ok"));
    QCOMPARE(sink->ids.back(), int(EventDocumentBeforeSave));

    m_app->unadvise(cookie);
    QCOMPARE(m_standIn->command(QStringLiteral("sinks")), QStringLiteral("sinks 0"));
    QCOMPARE(m_standIn->command(QStringLiteral("caret 1 1")), QStringLiteral("ok"));
    QCOMPARE(sink->ids.size(), size_t(2));
}

void TestComBackend::saveTakesTheMarksOutFirst()
{
    WordHelper helper;
    QVERIFY(helper.attach(m_standIn->documentWindow(), m_app));
    helper.showErrors(foundIn(helper.getCurrentPageText(), {makeFinding(QStringLiteral("黄"))}));
    QCOMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks 0-1 46-47"));
    QCOMPARE(m_standIn->command(QStringLiteral("save")), QStringLiteral("ok"));
    QCOMPARE(m_standIn->command(QStringLiteral("savedmarks")), QStringLiteral("savedmarks 0"));
    QVERIFY(helper.hasData());
    // The next selection marks the page again.
    QCOMPARE(m_standIn->command(QStringLiteral("caret 3 3")), QStringLiteral("ok"));
    QTRY_COMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks 0-1 46-47"));
}

void TestComBackend::killedEditorAnswersEmptyAtOnce()
{
    WordHelper helper;
    QVERIFY(helper.attach(m_standIn->documentWindow(), m_app));
    helper.showErrors({makeFinding(QStringLiteral("黄"))});
    std::shared_ptr<Document> document = m_app->activeDocument();
    std::shared_ptr<Range> range = document->range(0, 3);
    m_standIn->kill();

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!m_app->activeDocument());
    QVERIFY(range->text().isEmpty());
    QVERIFY(!range->font());
    QVERIFY(document->fullName().isEmpty());
    QCOMPARE(helper.currentPageNumber(), -1);
    QVERIFY(helper.getCurrentPageText().isEmpty());
    QVERIFY(!helper.onNext());
    helper.clearErrors();
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
}

void TestComBackend::bridgeAttachesByFocusAndSurvivesTheEditor()
{
    WordClientHelper bridge;
    QSignalSpy detected(&bridge, &ClientHelper::editorDetected);
    QVERIFY(bridge.beginDetectEditor());
    const HWND first = m_standIn->documentWindow();
    QCOMPARE(m_standIn->command(QStringLiteral("focus")), QStringLiteral("ok"));
    QTRY_VERIFY(!detected.isEmpty());
    QCOMPARE(detected.last().at(0).toString(), QStringLiteral("report.docx - Microsoft Word"));
    QCOMPARE(detected.last().at(1).value<HWND>(), first);
    QVERIFY(bridge.wrapper(first) && bridge.wrapper(first)->isAttached());
    QVERIFY(bridge.getCurrentPageText(first).startsWith(QStringLiteral("黄河之水")));
    bridge.showErrors(foundIn(bridge.getCurrentPageText(first), {makeFinding(QStringLiteral("以经"))}), first);
    QCOMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks 16-18"));
    // Focusing it again attaches nothing new but announces it again.
    const auto wrapper = bridge.wrapper(first);
    const int announced = detected.size();
    m_standIn->command(QStringLiteral("focus"));
    bridge.focusChanged(first);
    QVERIFY(detected.size() > announced);
    QCOMPARE(bridge.wrapper(first), wrapper);

    // The editor is killed; the next one is found and attached.
    m_app.reset();
    m_standIn->kill();
    QVERIFY(!bridge.hasData(first) || bridge.getCurrentPageText(first).isEmpty());
    m_standIn = std::make_unique<StandInProcess>();
    QVERIFY(m_standIn->start(
        {QStringLiteral("--text"), m_textFile, QStringLiteral("--title"), QStringLiteral("报告.docx - WPS 文字")}));
    const HWND second = m_standIn->documentWindow();
    m_standIn->command(QStringLiteral("focus"));
    QTRY_COMPARE(detected.last().at(1).value<HWND>(), second);
    QCOMPARE(detected.last().at(0).toString(), QStringLiteral("报告.docx - WPS 文字"));
    QVERIFY(bridge.wrapper(second) && bridge.wrapper(second)->isAttached());
    bridge.showErrors(foundIn(bridge.getCurrentPageText(second), {makeFinding(QStringLiteral("以经"))}), second);
    QCOMPARE(m_standIn->command(QStringLiteral("marks")), QStringLiteral("marks 16-18"));
    bridge.clearErrors(second);
    QCOMPARE(m_standIn->command(QStringLiteral("changed")), QStringLiteral("changed 0"));
    QVERIFY(bridge.endDetectEditor());
}

QTEST_MAIN(TestComBackend)
#include "TestComBackend.moc"
