#include "FakeService.h"
#include "ModalWatcher.h"
#include "WordFixture.h"
#include "client/CConfig.h"
#include "utility/JsonDecode.h"
#include "client/Revisor.h"
#include "presentation/ContextShow.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace automation;
using memoryword::Layout;

namespace {

// 250 characters in one paragraph: 13 lines of 20, pages of 5 lines.
QString longParagraph(int length = 250)
{
    const QString base = QString::fromUtf8("天地玄黄宇宙洪荒日月盈昃辰宿列张寒来暑往秋收冬藏");
    QString text;
    while (text.size() < length)
        text += base;
    return text.left(length);
}

const Font kMark{UnderlineWavyHeavy, MarkColor};

// The user picks an action of the popup's menu.
void trigger(WordFixture& f, const char* action)
{
    f.helper->popup()->findChild<QAction*>(action)->trigger();
}

} // namespace

// The document logic on the in-memory word processor: page texts, marks and
// their restoration, events, the popup and its actions.
class TestWordHelper : public QObject
{
    Q_OBJECT
private slots:
    void pageRangesCoverEveryCharacterOnce();
    void nextPagesText_data();
    void nextPagesText();
    void unattachedOrVanishedEditorAnswersEmpty();

    void emptyFindingsChangeNothing();
    void findingsAreMarkedWhereTheyWereFound_data();
    void findingsAreMarkedWhereTheyWereFound();
    void restoresFormatting_data();
    void restoresFormatting();
    void occurrenceWhoseTextDiffersIsSkipped();
    void checkingLeavesDocumentUnmodifiedInOneUndoStep();
    void markingCostsFewCallsPerOccurrence();

    void saveKeepsFindingsAndRemarksOnNextSelection();
    void overlayMarksNeverTouchTheDocument();
    void closeDropsRecord();
    void eventsOfOtherDocumentsAndMalformedListsChangeNothing_data();
    void eventsOfOtherDocumentsAndMalformedListsChangeNothing();
    void deactivationHidesPopupUnlessItIsActive();

    void caretOnMarkOpensPopupBelowIt();
    void navigationStepsAndStaysOnPage();
    void navigationWithTipsOffStillMoves();

    void apply_data();
    void apply();
    void ignoreOnceAndAll();
    void addToDictAndReportGoToTheService();
};

void TestWordHelper::pageRangesCoverEveryCharacterOnce()
{
    // Three pages (the last with its short last line), and a one-page document.
    for (const QString& text : {longParagraph(250) + "\r", QString::fromUtf8("只有一页。\r第二段。")}) {
        WordFixture f(text);
        const int pages = f.doc->pageCount();
        QString joined;
        for (int page = 1; page <= pages; ++page) {
            std::shared_ptr<Range> range = f.helper->pageRange(page);
            QVERIFY(range);
            const int end = page < pages ? f.doc->pageStart(page + 1) : text.size();
            QCOMPARE(range->start(), f.doc->pageStart(page));
            QCOMPARE(range->end(), end);
            joined += range->text();
        }
        QCOMPARE(joined, text);
        QVERIFY(!f.helper->pageRange(pages + 1));
        QVERIFY(!f.helper->pageRange(0));
    }
}

void TestWordHelper::nextPagesText_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to"); // expected text: [pageStart(from), to)

    QTest::newRow("0 pages") << 0 << 0 << 0;
    QTest::newRow("1 page") << 1 << 2 << 200;
    QTest::newRow("100 pages: to the end, no page twice") << 100 << 2 << 251;
    QTest::newRow("101 pages") << 101 << 0 << 0;
}

void TestWordHelper::nextPagesText()
{
    QFETCH(int, count);
    QFETCH(int, from);
    QFETCH(int, to);
    // Paragraph marks come back as the editor gives them.
    WordFixture f(longParagraph(250) + "\r");
    f.caret(150);
    const QString expected = from ? f.doc->plainText().mid(f.doc->pageStart(from), to - f.doc->pageStart(from)) : "";
    QCOMPARE(f.helper->getNextPageText(count), expected);
    QCOMPARE(f.helper->getCurrentPageText(), f.doc->plainText().mid(100, 100));
    QCOMPARE(f.helper->getAllPageText(), f.doc->plainText());
}

void TestWordHelper::unattachedOrVanishedEditorAnswersEmpty()
{
    WordHelper never;
    QCOMPARE(never.currentPageNumber(), -1);
    QVERIFY(never.getCurrentPageText().isEmpty());
    QVERIFY(never.getNextPageText(3).isEmpty());
    QVERIFY(never.getAllPageText().isEmpty());
    CHECK_DATAS findings{makeFinding("黄")};
    never.showErrors(findings);
    QVERIFY(!never.hasData());
    QVERIFY(!never.onNext());

    // The editor goes away with marks set: nothing crashes, everything is empty.
    WordFixture f(longParagraph(50));
    f.helper->showErrors({makeFinding("黄")});
    QVERIFY(f.markedAt(3));
    f.app->kill();
    QCOMPARE(f.helper->currentPageNumber(), -1);
    QVERIFY(f.helper->getNextPageText(2).isEmpty());
    QVERIFY(!f.helper->onNext());
    f.helper->timeoutSelectionChange();
    f.helper->onApply("", 0, "", 0);
    f.helper->clearErrors();
    QVERIFY(!f.helper->hasData());
    f.helper.reset();
}

void TestWordHelper::emptyFindingsChangeNothing()
{
    WordFixture f(longParagraph(40));
    f.check({makeFinding("黄")});
    const QString marked = f.markedText();
    QCOMPARE(marked.count(QString::fromUtf8("黄")), 2);

    f.helper->showErrors({});
    f.helper->showErrors({nullptr, makeFinding("")});
    QCOMPARE(f.markedText(), marked);
    QCOMPARE(f.helper->getCheckDatas().size(), size_t(2));
}

void TestWordHelper::findingsAreMarkedWhereTheyWereFound_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("formatting") << int(MarkStyle::Formatting);
    QTest::newRow("overlay") << int(MarkStyle::Overlay);
}

void TestWordHelper::findingsAreMarkedWhereTheyWereFound()
{
    QFETCH(int, style);
    // "黄" stands five times on the page: a one-character finding marks only
    // the occurrence it was found at.
    WordFixture f(longParagraph(100), {}, "/docs/a.docx", MarkStyle(style));
    CHECK_DATAS all = f.found({makeFinding("黄", {"簧"})});
    QCOMPARE(int(all.size()), 5);
    f.helper->showErrors({all[1], all[3]});
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 2);
    QVERIFY(f.markedAt(27) && f.markedAt(75));

    // The document changed between the page's text and the findings (two
    // characters typed at the start): each finding is looked for by its text,
    // at the nearest occurrence that no other finding holds.
    f.helper->clearErrors();
    CHECK_DATAS again = f.found({makeFinding("黄", {"簧"})});
    std::shared_ptr<Range> start = f.doc->range(0, 0);
    start->setText(QString::fromUtf8("新的"));
    f.helper->showErrors({again[1], again[2]});
    QVERIFY(f.markedAt(29) && f.markedAt(53));
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 2);

    // A real service reply, decoded, crosses into the logic the same way.
    f.helper->clearErrors();
    f.helper->getCurrentPageText();
    CHECK_DATAS decoded;
    std::string code, message;
    QVERIFY(JSONToCheckData(R"({"error_code":"","error_msg":"","errors":[{"text":"黄","type":1,"spans":[[53,53]],)"
                            R"("suggestions":[{"text":"簧","count":1}]}]})",
                            decoded, code, message));
    f.helper->showErrors(decoded);
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 1);
    QVERIFY(f.markedAt(53));
}

void TestWordHelper::restoresFormatting_data()
{
    QTest::addColumn<QList<int>>("underlines"); // per character of "宇宙洪"
    QTest::addColumn<QList<int>>("colors");
    QTest::addColumn<bool>("asBefore"); // else restored as no underline

    const int a = ColorAutomatic;
    QTest::newRow("plain") << QList<int>{0, 0, 0} << QList<int>{a, a, a} << true;
    QTest::newRow("user's double underline") << QList<int>{3, 3, 3} << QList<int>{255, 255, 255} << true;
    QTest::newRow("mark style in another colour") << QList<int>{27, 27, 27} << QList<int>{255, 255, 255} << true;
    QTest::newRow("mixed runs come back exactly") << QList<int>{1, 0, 27} << QList<int>{a, 496, 255} << true;
    // A mark that no entry set is taken for no underline.
    QTest::newRow("already carries the mark") << QList<int>{27, 27, 27} << QList<int>{496, 496, 496} << false;
}

void TestWordHelper::restoresFormatting()
{
    QFETCH(QList<int>, underlines);
    QFETCH(QList<int>, colors);
    QFETCH(bool, asBefore);

    WordFixture f(longParagraph(40));
    // Occurrences at 4 and 28; two findings of the same text and one that
    // overlaps them mark the same characters more than once.
    for (int at : {4, 28}) {
        for (int i = 0; i < 3; ++i)
            f.doc->setFontAt(at + i, Font{underlines[i], colors[i]});
    }
    const std::vector<Font> before = f.doc->fonts();
    f.check({makeFinding("宇宙洪"), makeFinding("宇宙洪"), makeFinding("洪荒")});
    QVERIFY(f.markedAt(4) && f.markedAt(6) && f.markedAt(7) && f.markedAt(30));

    f.helper->clearErrors();
    for (int i = 0; i < f.doc->plainText().size(); ++i) {
        const bool occurrence = (i >= 4 && i < 7) || (i >= 28 && i < 31);
        const Font expected = occurrence && !asBefore ? Font() : before[size_t(i)];
        QVERIFY2(f.doc->fontAt(i) == expected, qPrintable(QString("character %1").arg(i)));
    }
}

void TestWordHelper::occurrenceWhoseTextDiffersIsSkipped()
{
    // A hidden character makes the text read from the page shorter than the
    // document: the second occurrence would land one character off.
    WordFixture f(QString::fromUtf8("以经到了。隐以经走了。"));
    f.doc->setHidden(5);
    f.helper->showErrors({makeFinding("以经")});
    QCOMPARE(f.markedText(), QString::fromUtf8("以经.........").left(11));
}

void TestWordHelper::checkingLeavesDocumentUnmodifiedInOneUndoStep()
{
    WordFixture f(longParagraph(120) + "\r" + longParagraph(60));
    f.helper->showErrors({makeFinding("黄"), makeFinding("宇宙")});
    QVERIFY(f.markedAt(3));
    QCOMPARE(f.doc->undoSteps(), 1);
    QVERIFY(!f.doc->modifiedFlag());

    f.helper->clearErrors();
    QCOMPARE(f.doc->undoSteps(), 2);
    QVERIFY(!f.doc->modifiedFlag());
    QCOMPARE(f.doc->undoDepth(), 0);

    // A document the user had changed stays changed.
    f.doc->setModifiedFlag(true);
    f.helper->showErrors({makeFinding("黄")});
    QVERIFY(f.doc->modifiedFlag());
}

void TestWordHelper::markingCostsFewCallsPerOccurrence()
{
    // 50 occurrences of two findings on one page of one paragraph.
    for (MarkStyle style : {MarkStyle::Formatting, MarkStyle::Overlay}) {
        WordFixture f(QString::fromUtf8("黄洪荒日").repeated(25), Layout{100, 1}, "/docs/a.docx", style);
        const CHECK_DATAS findings = f.found({makeFinding("黄"), makeFinding("洪荒")});
        f.app->calls().reset();
        f.helper->showErrors(findings);
        const int occurrences = 50;
        QCOMPARE(f.markedText().count(QChar('.')), 25);
        const memoryword::CallCounter& calls = f.app->calls();
        QCOMPARE(calls.of("Document.Range"), occurrences);
        // One text read per occurrence (the check that it still stands there).
        QCOMPARE(calls.of("Range.Text"), occurrences);
        if (style == MarkStyle::Formatting) {
            QCOMPARE(calls.of("Range.Font") + calls.of("Range.SetFont"), 2 * occurrences);
            QVERIFY2(calls.total < 4 * occurrences + 30, qPrintable(QString::number(calls.total)));
        } else {
            // Marks drawn by the editor: no formatting is read or written.
            QCOMPARE(calls.of("Range.Font") + calls.of("Range.SetFont"), 0);
            QCOMPARE(calls.of("Range.SetMarked"), occurrences);
            QVERIFY2(calls.total < 3 * occurrences + 30, qPrintable(QString::number(calls.total)));
        }
    }
}

void TestWordHelper::saveKeepsFindingsAndRemarksOnNextSelection()
{
    WordFixture f(longParagraph(60));
    f.helper->showErrors({makeFinding("黄")});
    QVERIFY(f.markedAt(3));
    f.app->save(f.doc);
    for (const Font& font : f.doc->savedFonts())
        QVERIFY(font != kMark);
    QVERIFY(!f.markedAt(3));
    QVERIFY(f.helper->hasData());
    QCOMPARE(f.helper->markedPage(), -1);

    f.app->moveCaret(f.doc, 10, 10);
    QVERIFY(f.helper->selectionTimer()->isActive());
    QCOMPARE(f.helper->selectionTimer()->interval(), 10);
    QTRY_VERIFY(f.markedAt(3));
    QCOMPARE(f.helper->markedPage(), 1);
}

void TestWordHelper::overlayMarksNeverTouchTheDocument()
{
    // Marks drawn by the editor: checking, stepping, ignoring, saving and
    // clearing add no undo step, leave the modified flag and every
    // character's formatting alone, and a save keeps the marks on screen.
    WordFixture f(longParagraph(120) + "\r" + longParagraph(60), {}, "/docs/a.docx", MarkStyle::Overlay);
    f.doc->setFontAt(3, Font{1, 255});
    const std::vector<Font> before = f.doc->fonts();
    f.check({makeFinding("黄", {"簧"}), makeFinding("宇宙")});
    QVERIFY(f.markedAt(3) && f.markedAt(27) && f.markedAt(4) && f.markedAt(5));
    f.app->save(f.doc);
    QVERIFY(f.markedAt(3));
    QVERIFY(f.helper->onNext());
    trigger(f, "actionIgnoreOnce");
    QVERIFY(!f.markedAt(3) && f.markedAt(27));
    f.helper->clearErrors();
    QVERIFY(std::none_of(f.doc->overlayMarks().begin(), f.doc->overlayMarks().end(), [](bool b) { return b; }));
    QCOMPARE(f.doc->undoSteps(), 0);
    QVERIFY(!f.doc->modifiedFlag());
    QVERIFY(f.doc->fonts() == before);

    // Where the editor cannot show them, the user is told why, once.
    QSignalSpy messages(f.helper.get(), &WordHelper::message);
    f.doc->setMarkDisplay(MarkDisplay::AutoSpellOff);
    f.check({makeFinding("黄")});
    f.check({makeFinding("黄")});
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().first().toString().contains("Automatic Spell Checking"));
}

void TestWordHelper::closeDropsRecord()
{
    WordFixture f(longParagraph(60));
    f.helper->showErrors({makeFinding("黄")});
    f.app->close(f.doc);
    QVERIFY(!f.helper->hasData());
    QVERIFY(f.helper->getCheckDatas().empty());
}

void TestWordHelper::eventsOfOtherDocumentsAndMalformedListsChangeNothing_data()
{
    QTest::addColumn<int>("eventId");
    QTest::addColumn<int>("parameterCount"); // -1: a well-formed list for another document
    QTest::addColumn<long>("result");

    QTest::newRow("selection change without parameters") << 12 << 0 << ResultInvalidArg;
    QTest::newRow("selection change with two") << 12 << 2 << ResultInvalidArg;
    QTest::newRow("selection change elsewhere") << 12 << -1 << ResultOk;
    QTest::newRow("close with one") << 6 << 1 << ResultInvalidArg;
    QTest::newRow("close elsewhere") << 6 << -1 << ResultOk;
    QTest::newRow("save with two") << 8 << 2 << ResultInvalidArg;
    QTest::newRow("save of a number") << 8 << 3 << ResultOk;
    QTest::newRow("save elsewhere") << 8 << -1 << ResultOk;
}

void TestWordHelper::eventsOfOtherDocumentsAndMalformedListsChangeNothing()
{
    QFETCH(int, eventId);
    QFETCH(int, parameterCount);
    QFETCH(long, result);

    WordFixture f(longParagraph(60));
    auto other = f.app->addDocument("/docs/b.docx", longParagraph(60));
    f.app->activate(f.doc);
    f.helper->showErrors({makeFinding("黄")});
    const QString marked = f.markedText();

    std::vector<Variant> parameters(size_t(std::max(parameterCount, 0)), Variant(7));
    if (parameterCount < 0) {
        if (eventId == EventWindowSelectionChange) {
            other->select(1, 1); // raises the event for the other document
            QVERIFY(!f.helper->selectionTimer()->isActive());
            return;
        }
        parameters = {false, std::static_pointer_cast<Object>(other)};
        if (eventId == EventDocumentBeforeSave)
            parameters.insert(parameters.begin(), false);
    }
    QCOMPARE(f.app->fire(eventId, parameters), std::vector<long>{result});
    QCOMPARE(f.markedText(), marked);
    QVERIFY(f.helper->hasData());
    QVERIFY(!f.helper->selectionTimer()->isActive());
}

void TestWordHelper::deactivationHidesPopupUnlessItIsActive()
{
    WordFixture f(longParagraph(60));
    f.helper->showErrors({makeFinding("黄", {"簧"})});
    f.caret(4);
    f.helper->timeoutSelectionChange();
    QVERIFY(f.helper->popup()->isVisible());

    // The user clicked into the popup: it stays.
    QApplication::setActiveWindow(f.helper->popup());
    QTRY_VERIFY(f.helper->popup()->isActiveWindow());
    f.app->deactivate();
    QVERIFY(f.helper->popup()->isVisible());

    QApplication::setActiveWindow(nullptr);
    QTRY_VERIFY(!f.helper->popup()->isActiveWindow());
    f.app->deactivate();
    QVERIFY(!f.helper->popup()->isVisible());
}

void TestWordHelper::caretOnMarkOpensPopupBelowIt()
{
    WordFixture f(longParagraph(60), {}, "/docs/a.docx", MarkStyle::Overlay);
    f.check({makeFinding("宇宙", {"寓宙"})});
    ContextShow* popup = f.helper->popup();

    // A selection inside the mark does not open it.
    f.app->moveCaret(f.doc, 4, 5);
    QTest::qWait(30);
    QVERIFY(!popup->isVisible());

    // A caret touching the mark opens it after the timer, below the error,
    // and stays where the user put it.
    f.app->moveCaret(f.doc, 29, 29);
    QVERIFY(!popup->isVisible());
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(popup->pos(), QPoint(100 + 12 * 8, 200 + 20 + 20));
    QCOMPARE(f.doc->selectionStart(), 29);
    QCOMPARE(f.doc->selectionEnd(), 29);
    QCOMPARE(f.helper->shownStart(), 28);

    // Moving within the shown error leaves it as it is.
    f.app->moveCaret(f.doc, 29, 29);
    QTest::qWait(30);
    QVERIFY(popup->isVisible());
    QCOMPARE(f.helper->shownStart(), 28);

    // Text typed right after the mark replaces nothing and is not marked;
    // text typed before it leaves the mark on the same characters.
    f.app->moveCaret(f.doc, 30, 30);
    QTRY_COMPARE(f.helper->shownStart(), 28);
    f.doc->range(30, 30)->setText(QString::fromUtf8("甲"));
    QCOMPARE(f.doc->plainText().mid(28, 3), QString::fromUtf8("宇宙甲"));
    QVERIFY(f.markedAt(28) && f.markedAt(29) && !f.markedAt(30));
    f.doc->range(0, 0)->setText(QString::fromUtf8("乙"));
    QVERIFY(f.markedAt(29) && f.markedAt(30) && !f.markedAt(28) && !f.markedAt(31));
    QVERIFY(f.markedAt(5) && f.markedAt(6) && !f.markedAt(4));

    // Leaving the marks hides it; navigation opens it even from a selection,
    // and selects the error.
    f.app->moveCaret(f.doc, 11, 11);
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(f.helper->shownStart(), -1);
    f.caret(5, 6);
    QVERIFY(f.helper->onNext());
    QVERIFY(popup->isVisible());
    QCOMPARE(f.doc->selectionStart(), 5);
    QCOMPARE(f.doc->selectionEnd(), 7);
}

void TestWordHelper::navigationStepsAndStaysOnPage()
{
    // Page 1 (characters 0 to 99) has errors at 3, 27, 51, 75 and 99; the
    // next one, at 123, is on page 2.
    WordFixture f(longParagraph(200));
    f.caret(0);
    f.check({makeFinding("黄")});
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 5);
    f.caret(0);
    for (int at : {3, 27, 51, 75, 99}) {
        QVERIFY(f.helper->onNext());
        QCOMPARE(f.doc->selectionStart(), at);
        QVERIFY(f.helper->popup()->isVisible());
    }
    QVERIFY(!f.helper->onNext());
    QVERIFY(!f.helper->popup()->isVisible());
    QVERIFY(f.helper->onPrev());
    QCOMPARE(f.doc->selectionStart(), 75);
}

void TestWordHelper::navigationWithTipsOffStillMoves()
{
    WordFixture f(longParagraph(60));
    f.check({makeFinding("黄")});
    f.helper->enableErrorTip(false);
    f.caret(0);
    QVERIFY(f.helper->onNext());
    QCOMPARE(f.doc->selectionStart(), 3);
    QVERIFY(f.helper->onNext());
    QCOMPARE(f.doc->selectionStart(), 27);
    QVERIFY(!f.helper->popup()->isVisible());
    // The timer does not open it either.
    f.app->moveCaret(f.doc, 4, 4);
    QTest::qWait(30);
    QVERIFY(!f.helper->popup()->isVisible());
}

void TestWordHelper::apply_data()
{
    QTest::addColumn<QString>("wrong");
    QTest::addColumn<QString>("suggestion");
    QTest::addColumn<QList<int>>("spans"); // start, end, start, end...
    QTest::addColumn<int>("itemIndex");
    QTest::addColumn<int>("groupIndex");
    QTest::addColumn<QString>("expected"); // the sentence afterwards

    const QString sentence = QString::fromUtf8("我们ABCD你好。");
    QTest::newRow("two spans, the character between kept")
        << "ABCD"
        << "X*Y" << QList<int>{3, 4, 6, 6} << 0 << 0 << QString::fromUtf8("我们XCY你好。");
    QTest::newRow("one span, no star") << "ABCD"
                                       << "WXYZ" << QList<int>{} << 0 << 0 << QString::fromUtf8("我们WXYZ你好。");
    QTest::newRow("characters after the last span kept")
        << "ABCD"
        << "X" << QList<int>{3, 3} << 0 << 0 << QString::fromUtf8("我们XBCD你好。");
    QTest::newRow("fewer pieces than spans") << "ABCD"
                                             << "X" << QList<int>{3, 4, 6, 6} << 0 << 0 << sentence;
    QTest::newRow("item out of range") << "ABCD"
                                       << "WXYZ" << QList<int>{} << 1 << 0 << sentence;
    QTest::newRow("group out of range") << "ABCD"
                                        << "WXYZ" << QList<int>{} << 0 << 1 << sentence;
    QTest::newRow("negative group") << "ABCD"
                                    << "WXYZ" << QList<int>{} << 0 << -1 << sentence;
}

void TestWordHelper::apply()
{
    QFETCH(QString, wrong);
    QFETCH(QString, suggestion);
    QFETCH(QList<int>, spans);
    QFETCH(int, itemIndex);
    QFETCH(int, groupIndex);
    QFETCH(QString, expected);

    WordFixture f(QString::fromUtf8("我们ABCD你好。"));
    f.doc->setFontAt(1, Font{1, 255});
    f.doc->setFontAt(6, Font{1, 255});
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i + 1 < spans.size(); i += 2)
        pairs.emplace_back(spans[i], spans[i + 1]);
    f.helper->showErrors({makeFinding(wrong, {suggestion}, pairs)});
    f.app->moveCaret(f.doc, 3, 3);
    QTRY_VERIFY(f.helper->popup()->isVisible());

    f.helper->onApply(suggestion, itemIndex, wrong, groupIndex);
    QCOMPARE(f.doc->plainText(), expected);
    const bool applied = expected != QString::fromUtf8("我们ABCD你好。");
    QCOMPARE(f.markedText().contains(QChar('A')) || f.markedText().contains(QChar('X')), !applied);
    // The characters around keep their own formatting.
    QCOMPARE(f.doc->fontAt(1), (Font{1, 255}));
    QCOMPARE(f.doc->fontAt(expected.size() - 3), (Font{1, 255}));
    QCOMPARE(f.doc->modifiedFlag(), applied);
}

void TestWordHelper::ignoreOnceAndAll()
{
    WordFixture f(longParagraph(60));
    f.check({makeFinding("黄"), makeFinding("洪荒", {"鸿荒"})});
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 3);

    // Ignore once: this occurrence only; the finding stays.
    f.app->moveCaret(f.doc, 27, 27);
    QTRY_VERIFY(f.helper->popup()->isVisible());
    trigger(f, "actionIgnoreOnce");
    QVERIFY(!f.markedAt(27));
    QVERIFY(f.markedAt(3) && f.markedAt(51));
    QCOMPARE(f.helper->getCheckDatas().size(), size_t(6));

    // Ignore all: every occurrence of that wrong text, with its findings; the
    // other findings stay.
    f.app->moveCaret(f.doc, 4, 4);
    QTRY_VERIFY(f.helper->popup()->isVisible());
    trigger(f, "actionIgnoreAll");
    QCOMPARE(f.markedText().count(QString::fromUtf8("黄")), 0);
    QCOMPARE(f.helper->getCheckDatas().size(), size_t(3));
    for (const auto& data : f.helper->getCheckDatas())
        QCOMPARE(data->text, std::string("洪荒"));
    QVERIFY(f.markedAt(6) && f.markedAt(7) && f.markedAt(31));

    // The popup's groups are the findings under the caret: group 0 is 洪荒.
    f.app->moveCaret(f.doc, 7, 7);
    QTRY_VERIFY(f.helper->popup()->isVisible());
    f.helper->onApply("", 0, "", 0);
    QCOMPARE(f.doc->plainText().mid(6, 2), QString::fromUtf8("鸿荒"));
    QVERIFY(!f.markedAt(6));
    QVERIFY(f.markedAt(30));
}

void TestWordHelper::addToDictAndReportGoToTheService()
{
    FakeService service;
    QVERIFY(service.listen());
    qputenv("QUILLET_SERVICE_URL", service.baseUrl().toUtf8());
    getConfig()->setValueString("user_name", "tester");
    getConfig()->setValueString("access_token", "tok");
    service.setDefault("/api/v2/add-to-dict/", FakeReply::json(R"({"error_code":"","error_msg":""})"));
    service.setDefault("/api/v2/report-error/", FakeReply::json(R"({"error_code":"","error_msg":""})"));
    ModalWatcher watcher;
    watcher.setDialogHandler([](QDialog* dialog) { dialog->findChild<QPushButton*>("btnSend")->click(); });

    WordFixture f(QString::fromUtf8("他以经走了。我们很好。"));
    f.helper->showErrors({makeFinding("以经", {"已经"})});
    f.app->moveCaret(f.doc, 2, 2);
    QTRY_VERIFY(f.helper->popup()->isVisible());

    trigger(f, "actionAddToDict");
    QVERIFY(service.requestsTo("/api/v2/add-to-dict/")
                .value(0)
                .body.endsWith("new_word=" + QUrl::toPercentEncoding(QString::fromUtf8("以经"))));
    QVERIFY(f.markedAt(1)); // the marks stay

    trigger(f, "actionReportError");
    const QByteArray body = service.requestsTo("/api/v2/report-error/").value(0).body;
    QVERIFY2(body.contains("text_error=" + QUrl::toPercentEncoding(QString::fromUtf8("以经"))), body.constData());
    QVERIFY2(body.contains("text_sentence=" + QUrl::toPercentEncoding(QString::fromUtf8("他以经走了。"))),
             body.constData());
    // The error's own range is not grown to the sentence.
    f.helper->onApply("", 0, "", 0);
    QCOMPARE(f.doc->plainText(), QString::fromUtf8("他已经走了。我们很好。"));
}

QTEST_MAIN(TestWordHelper)
#include "TestWordHelper.moc"
