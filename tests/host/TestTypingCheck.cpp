#include "MemoryWord.h"
#include "WordFixture.h"
#include "bridge/TypingCheck.h"
#include "bridge/WordHelper.h"
#include "presentation/ContextShow.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <set>

using namespace automation;

namespace {

const QStringList kWrong = {QStringLiteral("以经"), QStringLiteral("因该")};
const QStringList kRight = {QStringLiteral("已经"), QStringLiteral("应该")};

// What the service finds in text: every occurrence of the wrong words.
CHECK_DATAS findIn(const QString& text)
{
    CHECK_DATAS found;
    for (int w = 0; w < kWrong.size(); ++w) {
        for (int at = text.indexOf(kWrong[w]); at >= 0; at = text.indexOf(kWrong[w], at + 1))
            found.push_back(makeFinding(kWrong[w], {kRight[w]}, {{at, at + 1}}));
    }
    return found;
}

// A checking service under the test's control: it records what is sent and
// answers when the test says so.
struct FakeChecker : ParagraphChecker
{
    struct Request
    {
        QString text;
        Done done;
        bool cancelled = false;
        bool answered = false;
    };
    std::vector<Request> requests;
    bool loggedIn = true;

    quint64 start(const QString& text, Done done) override
    {
        if (!loggedIn)
            return 0;
        requests.push_back(Request{text, std::move(done)});
        return requests.size();
    }
    void cancel(quint64 id) override { requests.at(id - 1).cancelled = true; }

    // The requests neither answered nor cancelled.
    std::vector<size_t> open() const
    {
        std::vector<size_t> result;
        for (size_t i = 0; i < requests.size(); ++i) {
            if (!requests[i].cancelled && !requests[i].answered)
                result.push_back(i);
        }
        return result;
    }
    void answer(size_t i, Outcome outcome)
    {
        requests.at(i).answered = true;
        const Done done = requests[i].done;
        done(outcome);
    }
    void answer(size_t i)
    {
        Outcome outcome;
        outcome.status = Status::Checked;
        outcome.findings = findIn(requests.at(i).text);
        answer(i, outcome);
    }
    void fail(size_t i, Status status)
    {
        Outcome outcome;
        outcome.status = status;
        outcome.problem = QStringLiteral("Connect Server Error!");
        answer(i, outcome);
    }
};

const int kPauseMs = 30;

// A wrapper on an in-memory document whose marks are drawn apart from the
// text, checking as the user types through a fake service.
struct TypingFixture
{
    std::shared_ptr<memoryword::MemoryApplication> app = std::make_shared<memoryword::MemoryApplication>();
    std::shared_ptr<memoryword::MemoryDocument> doc;
    std::unique_ptr<WordHelper> helper = std::make_unique<WordHelper>();
    std::shared_ptr<FakeChecker> service = std::make_shared<FakeChecker>();

    explicit TypingFixture(const QString& text, MarkStyle style = MarkStyle::Overlay)
    {
        doc = app->addDocument(QStringLiteral("/docs/typing.odt"), text, memoryword::Layout{40, 40});
        doc->setMarkStyle(style);
        helper->setParagraphChecker(service);
        helper->attach(reinterpret_cast<HWND>(quintptr(0x1234)), app);
        helper->setCheckAsYouType(true);
        helper->typingCheck()->setPauseMs(kPauseMs);
        helper->typingCheck()->setRetryMs(60);
    }

    // Types text one character at a time at position at, as the keys come.
    void typeAt(int at, const QString& text)
    {
        for (int i = 0; i < text.size(); ++i)
            app->type(doc, at + i, at + i, text.mid(i, 1));
    }
    void replace(int start, int end, const QString& text) { app->type(doc, start, end, text); }
    void caret(int at) { doc->setSelection(at, at); }
    // Waits out the pause after the last key.
    void pause() { QTest::qWait(kPauseMs * 3); }
    QString marked() const
    {
        QString text;
        for (int i = 0; i < doc->plainText().size(); ++i)
            text += doc->overlayMarkAt(i) ? doc->plainText()[i] : QChar('.');
        return text;
    }
    // The occurrences of the wrong words in the paragraphs given (by index),
    // as marked() would show them.
    QString expectedMarks(const std::set<int>& paragraphs) const
    {
        const QString text = doc->plainText();
        QString result(text.size(), QChar('.'));
        int index = 0;
        int start = 0;
        for (int i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != QChar('\r'))
                continue;
            if (paragraphs.count(index)) {
                const QString paragraph = text.mid(start, i - start);
                for (const std::shared_ptr<CCheckData>& finding : findIn(paragraph)) {
                    const int at = start + finding->spans.front().first;
                    for (int k = 0; k < 2; ++k)
                        result[at + k] = text[at + k];
                }
            }
            ++index;
            start = i + 1;
        }
        return result;
    }
};

} // namespace

// Checking as the user types, on the in-memory word processor: what is sent
// and when, and what the marks and findings are afterwards.
class TestTypingCheck : public QObject
{
    Q_OBJECT
private slots:
    void editedParagraphIsCheckedAfterThePause();
    void newerEditsSupersedeOlderChecks();
    void nothingIsSentWhenSwitchedOffOrLoggedOut();
    void serviceTroublePausesAndResumesQuietly();
    void randomEditingEndsWithTheEditedParagraphsMarked();
};

void TestTypingCheck::editedParagraphIsCheckedAfterThePause()
{
    // The first paragraph holds an error the user never touches; the third
    // one's error was found by a check of the page.
    TypingFixture f(QStringLiteral("旧稿以经写好。\r今天天气很好。\r大家因该早到。"));
    f.helper->showErrors({makeFinding("因该", {"应该"}, {{18, 19}})});
    QCOMPARE(f.marked(), QStringLiteral("..................因该..."));
    QSignalSpy changed(f.helper.get(), &WordHelper::findingsChanged);

    // Typing sends nothing; the pause after the last key sends the paragraph.
    f.typeAt(15, QStringLiteral("他以经到了"));
    QVERIFY(f.service->requests.empty());
    QTRY_COMPARE(f.service->requests.size(), size_t(1));
    QCOMPARE(f.service->requests[0].text, QStringLiteral("今天天气很好。他以经到了"));
    f.service->answer(0);

    // Its error is marked; the untouched paragraphs keep what they had.
    QCOMPARE(f.marked(), QStringLiteral("................以经.....因该..."));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(int(f.helper->getCheckDatas().size()), 2);

    // The popup and Next include the new finding.
    f.caret(0);
    QVERIFY(f.helper->onNext());
    QCOMPARE(f.helper->currentErrorRange()->text(), QStringLiteral("以经"));
    QCOMPARE(f.helper->popupFindings().front()->text, std::string("以经"));

    // The user corrects it by typing: the mark goes, the other stays.
    f.replace(16, 17, QStringLiteral("已"));
    QTRY_COMPARE(f.service->requests.size(), size_t(2));
    QCOMPARE(f.service->requests[1].text, QStringLiteral("今天天气很好。他已经到了"));
    f.service->answer(1);
    QCOMPARE(f.marked(), QStringLiteral(".......................因该..."));
    QCOMPARE(int(f.helper->getCheckDatas().size()), 1);
    // Nothing else was ever sent: not the first paragraph, not the third.
    f.pause();
    QCOMPARE(f.service->requests.size(), size_t(2));
}

void TestTypingCheck::newerEditsSupersedeOlderChecks()
{
    TypingFixture f(QStringLiteral("第一段。\r第二段。\r第三段。"));
    f.typeAt(3, QStringLiteral("以经"));
    QTRY_COMPARE(f.service->requests.size(), size_t(1));

    // An edit of the same paragraph while its check is out: the old check is
    // stopped, and its late answer changes nothing.
    f.typeAt(5, QStringLiteral("好"));
    QTRY_COMPARE(f.service->requests.size(), size_t(2));
    QVERIFY(f.service->requests[0].cancelled);
    f.service->answer(0);
    QCOMPARE(f.marked(), QString(f.doc->plainText().size(), '.'));
    QVERIFY(f.helper->getCheckDatas().empty());

    // An answer for text that changed since (the pause after that edit has not
    // come yet) is dropped.
    f.typeAt(0, QStringLiteral("啊"));
    f.service->answer(1);
    QCOMPARE(f.marked(), QString(f.doc->plainText().size(), '.'));

    // Paragraphs edited in one go (the first one again, two more) are
    // checked one at a time.
    f.typeAt(f.doc->plainText().indexOf("第二段") + 3, QStringLiteral("因该"));
    f.typeAt(f.doc->plainText().indexOf("第三段") + 3, QStringLiteral("以经"));
    QTRY_COMPARE(f.service->requests.size(), size_t(3));
    f.pause();
    QCOMPARE(f.service->requests.size(), size_t(3));
    while (!f.service->open().empty()) {
        QCOMPARE(f.service->open().size(), size_t(1));
        f.service->answer(f.service->open().front());
    }
    QCOMPARE(f.service->requests.size(), size_t(5));
    QCOMPARE(f.marked(), f.expectedMarks({0, 1, 2}));
    QCOMPARE(int(f.helper->getCheckDatas().size()), 3);

    // Removing every mark stops the check still out: its answer brings none back.
    f.typeAt(0, QStringLiteral("因该"));
    QTRY_COMPARE(f.service->open().size(), size_t(1));
    f.helper->clearErrors();
    QVERIFY(f.service->requests.back().cancelled);
    f.service->answer(f.service->requests.size() - 1);
    QCOMPARE(f.marked(), QString(f.doc->plainText().size(), '.'));
    QVERIFY(f.helper->getCheckDatas().empty());
}

void TestTypingCheck::nothingIsSentWhenSwitchedOffOrLoggedOut()
{
    // Switched off.
    {
        TypingFixture f(QStringLiteral("今天天气很好。"));
        f.helper->setCheckAsYouType(false);
        f.typeAt(7, QStringLiteral("以经"));
        f.pause();
        QVERIFY(f.service->requests.empty());
        // Switched on again: later edits count, from the text as it is then.
        f.helper->setCheckAsYouType(true);
        f.helper->typingCheck()->setPauseMs(kPauseMs);
        f.typeAt(0, QStringLiteral("好"));
        QTRY_COMPARE(f.service->requests.size(), size_t(1));
    }
    // Nobody logged in: nothing is sent, nothing is said.
    {
        TypingFixture f(QStringLiteral("今天天气很好。"));
        f.service->loggedIn = false;
        QSignalSpy status(f.helper.get(), &WordHelper::typingStatus);
        f.typeAt(7, QStringLiteral("以经"));
        f.pause();
        QVERIFY(f.service->requests.empty());
        QCOMPARE(status.count(), 0);
        QCOMPARE(f.helper->typingCheck()->pendingCount(), 0);
    }
    // Marks that are formatting would be undo steps while the user types.
    {
        TypingFixture f(QStringLiteral("今天天气很好。"), MarkStyle::Formatting);
        f.typeAt(7, QStringLiteral("以经"));
        f.pause();
        QVERIFY(f.service->requests.empty());
    }
    // Text without a Chinese character is not worth a check.
    {
        TypingFixture f(QStringLiteral("Hello.\r今天。"));
        f.typeAt(5, QStringLiteral(" world"));
        f.pause();
        QVERIFY(f.service->requests.empty());
    }
}

void TestTypingCheck::serviceTroublePausesAndResumesQuietly()
{
    TypingFixture f(QStringLiteral("今天天气很好。"));
    QSignalSpy status(f.helper.get(), &WordHelper::typingStatus);
    f.typeAt(7, QStringLiteral("以经"));
    QTRY_COMPARE(f.service->requests.size(), size_t(1));

    // Offline: the line says checking paused; the paragraph is tried again by
    // itself, with no keystroke.
    f.service->fail(0, ParagraphChecker::Status::Failed);
    QCOMPARE(status.count(), 1);
    QVERIFY(status.last().first().toString().contains("Connect Server Error!"));
    QTRY_COMPARE(f.service->requests.size(), size_t(2));
    QCOMPARE(f.service->requests[1].text, f.service->requests[0].text);
    f.service->answer(1);
    QCOMPARE(status.count(), 2);
    QVERIFY(status.last().first().toString().isEmpty());
    QCOMPARE(f.marked(), QStringLiteral(".......以经"));

    // The login refused: nothing more is tried until checks get through again.
    f.typeAt(0, QStringLiteral("好"));
    QTRY_COMPARE(f.service->requests.size(), size_t(3));
    f.service->fail(2, ParagraphChecker::Status::LoginExpired);
    QCOMPARE(status.count(), 3);
    QVERIFY(!status.last().first().toString().isEmpty());
    QTest::qWait(200);
    QCOMPARE(f.service->requests.size(), size_t(3));
}

void TestTypingCheck::randomEditingEndsWithTheEditedParagraphsMarked()
{
    // Random typing, typing over, deleting, pauses and answers over six
    // paragraphs, two of which hold errors from the start. When the user
    // stops and every check has come back, each paragraph that stood changed
    // at a pause carries exactly the marks of its errors, the others none,
    // the findings are those marks, and no other paragraph was ever sent.
    const QStringList original = {"一号段落以经写好。", "二号段落。", "三号段落因该。", "四号。",
                                  "五号段落。",         "六号。"};
    const QStringList snippets = {"以经", "因该", "好", "已经", "。", "以", "经"};
    // QUILLET_TEST_SEED repeats a run.
    const quint32 seed = qEnvironmentVariableIsSet("QUILLET_TEST_SEED")
                             ? quint32(qEnvironmentVariableIntValue("QUILLET_TEST_SEED"))
                             : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int round = 0; round < 200; ++round) {
        TypingFixture f(original.join('\r'));
        // The pauses come exactly where the model has them, however slow
        // the machine.
        f.helper->typingCheck()->setPauseMs(3600 * 1000);
        QStringList atLastPause = original;
        std::set<int> changed;
        auto pause = [&] {
            f.helper->typingCheck()->endPause();
            const QStringList now = f.doc->plainText().split('\r');
            for (int i = 0; i < now.size(); ++i) {
                if (now[i] != atLastPause[i])
                    changed.insert(i);
            }
            atLastPause = now;
        };
        for (int step = 0; step < 25; ++step) {
            const QStringList paragraphs = f.doc->plainText().split('\r');
            const int p = random.bounded(paragraphs.size());
            int start = 0;
            for (int i = 0; i < p; ++i)
                start += paragraphs[i].size() + 1;
            const int length = paragraphs[p].size();
            const int choice = random.bounded(10);
            if (choice < 4) {
                f.typeAt(start + random.bounded(length + 1), snippets[random.bounded(snippets.size())]);
            } else if (choice < 6 && length > 0) {
                // Over or away: the character goes, or another takes its place.
                const int at = start + random.bounded(length);
                const QString old = paragraphs[p].mid(at - start, 1);
                f.replace(at, at + 1, random.bounded(2) ? old : QString());
            } else if (choice < 8) {
                pause();
            } else if (!f.service->open().empty()) {
                f.service->answer(f.service->open().front());
            }
        }
        // The user stops: the last pause comes and every check is answered.
        pause();
        for (int guard = 0; guard < 50 && f.helper->typingCheck()->pendingCount() > 0; ++guard) {
            if (!f.service->open().empty())
                f.service->answer(f.service->open().front());
        }
        const QString context = QStringLiteral("seed %1 round %2: %3").arg(seed).arg(round).arg(f.doc->plainText());
        QVERIFY2(f.helper->typingCheck()->pendingCount() == 0, qPrintable(context));
        QVERIFY2(f.marked() == f.expectedMarks(changed), qPrintable(context + " marked " + f.marked()));
        size_t occurrences = 0;
        const QStringList paragraphs = f.doc->plainText().split('\r');
        for (int i : changed)
            occurrences += findIn(paragraphs[i]).size();
        QVERIFY2(f.helper->getCheckDatas().size() == occurrences, qPrintable(context));
        std::set<QString> sent;
        for (const FakeChecker::Request& request : f.service->requests)
            sent.insert(request.text);
        for (int i = 0; i < original.size(); ++i) {
            if (!changed.count(i))
                QVERIFY2(!sent.count(original[i]), qPrintable(context));
        }
        // The user's caret never moved: Writer finds a range's page, or a
        // page, by moving it, and a key pressed meanwhile lands there.
        const memoryword::CallCounter& calls = f.app->calls();
        QVERIFY2(calls.of("Range.Information") + calls.of("Range.GoTo") + calls.of("Range.Select") == 0,
                 qPrintable(context));
    }
}

QTEST_MAIN(TestTypingCheck)
#include "TestTypingCheck.moc"
