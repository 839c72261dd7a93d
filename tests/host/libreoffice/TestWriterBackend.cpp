// The LibreOffice backend against a real office: every member of the
// automation interface on a Writer document with Chinese text over several
// pages, a table, and a character outside the BMP before a mark.

#include "OfficeFixture.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "WriterFont.h"
#include "WriterRange.h"
#include "bridge/WordHelper.h"

#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/document/XRedlinesSupplier.hpp>
#include <com/sun/star/document/XUndoManager.hpp>
#include <com/sun/star/document/XUndoManagerSupplier.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XPropertyReplace.hpp>
#include <com/sun/star/util/XReplaceable.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>
#include <com/sun/star/view/XPrintable.hpp>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace css;
using namespace automation;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Records the events it receives; optionally runs an action on one of them.
class RecordingSink : public EventSink
{
public:
    long onEvent(int eventId, const std::vector<Variant>& parameters) override
    {
        events.emplace_back(eventId, parameters);
        if (onEventAction)
            onEventAction(eventId, parameters);
        return ResultOk;
    }
    int count(int eventId) const
    {
        return int(std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.first == eventId; }));
    }
    std::vector<std::pair<int, std::vector<Variant>>> events;
    std::function<void(int, const std::vector<Variant>&)> onEventAction;
};

constexpr int kDouble = 3; // Word's double underline
const Font kMark{UnderlineWavyHeavy, MarkColor};
const Font kPlain{UnderlineNone, ColorAutomatic};

} // namespace

class TestWriterBackend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void textAndOffsets();
    void rangesFollowEdits();
    void pagesAndInformation();
    void typingWhilePagesAreRead();
    void stepsAndContainment();
    void sentences();
    void paragraphs();
    void marksReadAndWritten();
    void underlineStylesRoundTrip();
    void mixedFormatting();
    void characterFormattingAfterChanges();
    void removalInOneCall();
    void undoStepsAndModifiedFlag();
    void selectionAndEvents();
    void windowPoint();
    void marksAreNotContent();
    void typingBesideAMark();
    void closeEvent();
    // Last: it kills the office.
    void officeGoesAway();

private:
    QString expectedText() const;
    int offsetOf(const QString& needle) const { return expectedText().indexOf(needle); }
    sal_Int16 writerUnderlineAt(int start, int end);
    Reference<text::XTextDocument> textDocument() const
    {
        return Reference<text::XTextDocument>(OfficeFixture::model(m_frame), UNO_QUERY);
    }
    int undoCount();
    // The marks the office draws in the paragraph that holds offset, as
    // document offsets and lengths.
    QList<QPair<int, int>> drawnAround(int offset);
    using Formatting = QStringList;
    Formatting formatting();
    static bool printedInMarkColour(const QString& pdf);
    // The marks in the saved file at url; word, when given, is looked up and
    // its formatting put in wordFont.
    int marksInFile(const rtl::OUString& url, const QString& word = {}, std::optional<Font>* wordFont = nullptr);

    OfficeFixture m_office;
    QStringList m_paragraphs;
    QStringList m_cells;
    int m_tableAfter = 4;
    Reference<frame::XFrame> m_frame;
    std::shared_ptr<WriterApplication> m_application;
    std::shared_ptr<Document> m_document;
};

void TestWriterBackend::initTestCase()
{
    QString reason;
    if (!m_office.start(&reason))
        QSKIP(qPrintable(reason));
    m_paragraphs << QStringLiteral("第一页的开头。这是第二句话！第三句话在这里？") << QStringLiteral("普通的一段文字。")
                 << QStringLiteral("古字𠀀之后有一个错别字标记。") << QStringLiteral("表格之前的段落。")
                 << QStringLiteral("表格之后的段落，继续写下去。");
    for (int i = 0; i < 70; ++i)
        m_paragraphs << QStringLiteral(
                            "第%1段：这是一段用来填满好几页的中文文字，句子很长，内容重复，但是足够说明问题。"
                            "我们在这里再写一句话。")
                            .arg(i + 1);
    m_cells << QStringLiteral("表格甲") << QStringLiteral("表格乙乙") << QStringLiteral("表格丙")
            << QStringLiteral("表格丁");
}

void TestWriterBackend::init()
{
    m_frame = m_office.newDocument(m_paragraphs, m_cells, 2, m_tableAfter);
    QVERIFY(m_frame.is());
    m_application = WriterApplication::create(m_office.connection(), m_frame);
    QVERIFY(m_application);
    m_document = m_application->activeDocument();
    QVERIFY(m_document);
    // Building the document filled the undo history.
    Reference<document::XUndoManagerSupplier> supplier(OfficeFixture::model(m_frame), UNO_QUERY_THROW);
    supplier->getUndoManager()->clear();
    m_document->setModified(false);
}

void TestWriterBackend::cleanup()
{
    m_document.reset();
    m_application.reset();
    if (m_frame.is())
        OfficeFixture::closeDocument(m_frame);
    m_frame.clear();
    QCoreApplication::processEvents();
}

void TestWriterBackend::cleanupTestCase()
{
    m_office.stop();
}

QString TestWriterBackend::expectedText() const
{
    QString text = m_paragraphs.mid(0, m_tableAfter).join('\n') + '\n';
    for (const QString& cell : m_cells)
        text += cell + '\n';
    return text + m_paragraphs.mid(m_tableAfter).join('\n');
}

sal_Int16 TestWriterBackend::writerUnderlineAt(int start, int end)
{
    auto range = std::dynamic_pointer_cast<WriterRange>(m_document->range(start, end));
    if (!range || range->pieces().size() != 1)
        return -1;
    sal_Int16 value = -1;
    Reference<beans::XPropertySet>(range->pieces().front(), UNO_QUERY_THROW)->getPropertyValue("CharUnderline") >>=
        value;
    return value;
}

int TestWriterBackend::undoCount()
{
    Reference<document::XUndoManagerSupplier> supplier(OfficeFixture::model(m_frame), UNO_QUERY_THROW);
    return supplier->getUndoManager()->getAllUndoActionTitles().getLength();
}

int TestWriterBackend::marksInFile(const rtl::OUString& url, const QString& word, std::optional<Font>* wordFont)
{
    Reference<frame::XComponentLoader> loader(m_office.connection()->desktop(), UNO_QUERY_THROW);
    beans::PropertyValue hidden;
    hidden.Name = "Hidden";
    hidden.Value <<= true;
    Reference<util::XReplaceable> saved(
        loader->loadComponentFromURL(url, "_blank", 0, uno::Sequence<beans::PropertyValue>(&hidden, 1)),
        UNO_QUERY_THROW);
    Reference<util::XSearchDescriptor> search = saved->createSearchDescriptor();
    Reference<util::XPropertyReplace> attributes(search, UNO_QUERY_THROW);
    attributes->setValueSearch(true);
    attributes->setSearchAttributes(office::fontProperties(kMark));
    const int count = saved->findAll(search)->getCount();
    if (wordFont) {
        Reference<util::XSearchDescriptor> text = saved->createSearchDescriptor();
        text->setSearchString(office::toOUString(word));
        Reference<beans::XMultiPropertySet> found(saved->findFirst(text), UNO_QUERY);
        *wordFont = found.is() ? office::readFont({found}) : std::nullopt;
    }
    Reference<util::XCloseable>(saved, UNO_QUERY_THROW)->close(true);
    return count;
}

bool TestWriterBackend::printedInMarkColour(const QString& pdf)
{
    // The page streams of the printed PDF, unpacked: the mark's red would be a
    // stroke colour of 240/255, 1/255, 0.
    QFile file(pdf);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray data = file.readAll();
    for (int at = data.indexOf("stream"); at >= 0; at = data.indexOf("stream", at + 6)) {
        int begin = at + 6;
        if (data.mid(begin, 2) == "\r\n")
            begin += 2;
        else if (data.at(begin) == '\n')
            begin += 1;
        const int end = data.indexOf("endstream", begin);
        if (end < 0)
            break;
        const QByteArray packed = data.mid(begin, end - begin);
        // qUncompress wants the length first; a zlib stream has none.
        QByteArray sized(4, '\0');
        sized[0] = char(0x01);
        const QByteArray unpacked = qUncompress(sized + packed);
        const QByteArray colour("0.9411764705 0.0039215686 0 RG");
        if (unpacked.contains(colour) || packed.contains(colour))
            return true;
        at = end;
    }
    return false;
}

void TestWriterBackend::textAndOffsets()
{
    const QString expected = expectedText();
    QCOMPARE(m_document->content()->text(), expected);
    QCOMPARE(m_document->content()->start(), 0);
    QCOMPARE(m_document->content()->end(), expected.size());

    // Ranges anywhere: in the body, in a cell, across the table, after the
    // character outside the BMP, at the ends.
    QRandomGenerator random(7);
    const int tableStart = offsetOf(m_cells.first());
    QList<QPair<int, int>> spans{{0, 0},
                                 {0, 5},
                                 {tableStart, tableStart + 3},
                                 {tableStart - 4, tableStart + 6},
                                 {tableStart + 2, offsetOf(QStringLiteral("表格之后")) + 3},
                                 {offsetOf(QStringLiteral("错别字")), offsetOf(QStringLiteral("错别字")) + 3},
                                 {expected.size() - 3, expected.size()},
                                 {expected.size(), expected.size()}};
    for (int i = 0; i < 60; ++i) {
        int a = int(random.bounded(expected.size() + 1));
        int b = std::min<int>(expected.size(), a + int(random.bounded(400)));
        // Never between the halves of a surrogate pair.
        if (a > 0 && expected.at(a).isLowSurrogate())
            --a;
        if (b > 0 && b < expected.size() && expected.at(b).isLowSurrogate())
            ++b;
        spans << qMakePair(a, b);
    }
    std::vector<std::shared_ptr<Range>> ranges;
    for (const auto& [start, end] : spans) {
        auto range = m_document->range(start, end);
        QVERIFY2(range, qPrintable(QStringLiteral("%1-%2").arg(start).arg(end)));
        QCOMPARE(range->text(), expected.mid(start, end - start));
        QCOMPARE(range->start(), start);
        QCOMPARE(range->end(), end);
        ranges.push_back(range);
    }
    // Once the event loop has run, text and offsets come from the office's
    // cursors, not from what was cached when the ranges were made: each
    // cursor holds exactly its characters, however the ranges were reached
    // (forwards, backwards, into a cell and out).
    QCoreApplication::processEvents();
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto& [start, end] = spans.at(int(i));
        QCOMPARE(ranges[i]->text(), expected.mid(start, end - start));
        QCOMPARE(ranges[i]->start(), start);
        QCOMPARE(ranges[i]->end(), end);
    }

    QVERIFY(!m_document->range(-1, 3));
    QVERIFY(!m_document->range(5, 3));
    QVERIFY(!m_document->range(0, expected.size() + 1));
    QVERIFY(!m_document->fullName().isEmpty());
}

void TestWriterBackend::rangesFollowEdits()
{
    const QString expected = expectedText();
    const int target = offsetOf(QStringLiteral("错别字"));
    auto word = m_document->range(target, target + 3);
    auto later = m_document->range(offsetOf(QStringLiteral("普通")), offsetOf(QStringLiteral("普通")) + 2);
    word->setFont({kDouble, 0x00FF00});
    // Replace the word: the range covers the new text, which keeps the first
    // replaced character's formatting.
    auto replaced = m_document->range(target, target + 3);
    replaced->setText(QStringLiteral("正确的字"));
    QCOMPARE(replaced->text(), QStringLiteral("正确的字"));
    QCOMPARE(replaced->start(), target);
    QCOMPARE(replaced->end(), target + 4);
    QCOMPARE(replaced->font()->underline, kDouble);
    QCOMPARE(replaced->font()->underlineColor, 0x00FF00);
    QCOMPARE(m_document->content()->text(), QString(expected).replace(target, 3, QStringLiteral("正确的字")));
    // A range before the edit is unchanged; one inside a cell after it moved.
    QCOMPARE(later->text(), QStringLiteral("普通"));
    const int cellStart = m_document->content()->text().indexOf(m_cells.at(1));
    auto cell = m_document->range(cellStart + 1, cellStart + 3);
    QCOMPARE(cell->text(), m_cells.at(1).mid(1, 2));
    m_document->range(0, 1)->setText(QStringLiteral("新第"));
    QCOMPARE(cell->text(), m_cells.at(1).mid(1, 2));
    QCOMPARE(cell->start(), cellStart + 2);
}

void TestWriterBackend::pagesAndInformation()
{
    m_document->range(5, 5)->select();
    auto content = m_document->content();
    auto page1 = content->goTo(GoToPage, GoToAbsolute, 1);
    auto page2 = content->goTo(GoToPage, GoToAbsolute, 2);
    auto last = content->goTo(GoToPage, GoToLast);
    auto beyond = content->goTo(GoToPage, GoToAbsolute, 999);
    QVERIFY(page1 && page2 && last && beyond);
    QCOMPARE(page1->start(), 0);
    QCOMPARE(page1->end(), page1->start());
    QVERIFY(page2->start() > 0);
    QVERIFY(last->start() > page2->start());
    QCOMPARE(beyond->start(), last->start());
    const int lastPage = *last->information(ActiveEndPageNumber);
    QVERIFY2(lastPage >= 3, "the document spans several pages");
    QCOMPARE(*page2->information(ActiveEndPageNumber), 2);
    QCOMPARE(*m_document->range(page2->start() - 1, page2->start() - 1)->information(ActiveEndPageNumber), 1);
    // Character by character across the page break (as stepping does): the
    // page changes exactly at the next page's first character, also when the
    // answers come from the bounds kept from earlier questions.
    for (int pass = 0; pass < 2; ++pass) {
        for (int at = page2->start() - 30; at < page2->start() + 30; ++at) {
            const int expected = at < page2->start() ? 1 : 2;
            QCOMPARE(*m_document->range(at, at + 1)->information(ActiveEndPageNumber), expected);
        }
    }
    QCOMPARE(*m_document->range(page2->start(), page2->start())->information(ActiveEndPageNumber), 2);
    // Going to a page neither moves the caret nor raises events.
    auto sink = std::make_shared<RecordingSink>();
    const int cookie = m_application->advise(sink);
    QVERIFY(cookie > 0);
    auto selection = m_application->selection();
    const int caret = selection->range()->start();
    QCOMPARE(*selection->information(ActiveEndPageNumber), 1);
    content->goTo(GoToPage, GoToAbsolute, 3);
    QCOMPARE(selection->range()->start(), caret);
    QCOMPARE(*selection->information(ActiveEndPageNumber), 1);
    QTest::qWait(50);
    QCOMPARE(sink->count(EventWindowSelectionChange), 0);
    // Lines: the first line starts the document.
    auto line1 = content->goTo(GoToLine, GoToAbsolute, 1);
    QVERIFY(line1);
    QCOMPARE(line1->start(), 0);
    m_application->unadvise(cookie);
}

void TestWriterBackend::typingWhilePagesAreRead()
{
    // Writer knows pages only by moving its view cursor there and back. A key
    // pressed meanwhile must still land at the caret: another thread types at
    // the view cursor, as the keyboard does, while this one reads pages away
    // from the caret.
    auto content = m_document->content();
    const QString before = content->text();
    const int caret = content->goTo(GoToPage, GoToAbsolute, 2)->start() + 10;
    const int late = content->goTo(GoToPage, GoToLast)->start() + 5;
    m_document->range(caret, caret)->select();
    const Reference<text::XTextViewCursor> view =
        Reference<text::XTextViewCursorSupplier>(OfficeFixture::model(m_frame)->getCurrentController(), UNO_QUERY_THROW)
            ->getViewCursor();
    constexpr int kReads = 40;
    std::atomic<int> reads{0};
    std::atomic<int> typed{0};
    std::atomic<bool> failed{false};
    std::thread typist([&] {
        try {
            while (reads < kReads) {
                view->getText()->insertString(Reference<text::XTextRange>(view, UNO_QUERY), "X", false);
                ++typed;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        } catch (const uno::Exception&) {
            failed = true;
        }
    });
    bool pagesRead = true;
    for (; reads < kReads && !failed; ++reads) {
        pagesRead = pagesRead && content->goTo(GoToPage, GoToAbsolute, reads % 2 ? 1 : 3);
        // A page not asked for since the last key.
        m_document->range(late + reads % 7, late + reads % 7)->information(ActiveEndPageNumber);
    }
    reads = kReads;
    typist.join();
    QVERIFY(!failed);
    QVERIFY(pagesRead);
    QVERIFY(typed > 0);
    QTest::qWait(100); // the office's reports of the edits have come in
    const QString keys(typed, 'X');
    const QString now = content->text();
    QCOMPARE(now.count('X'), keys.size());
    QCOMPARE(now.indexOf(keys), caret);
    QCOMPARE(now, before.left(caret) + keys + before.mid(caret));
    QCOMPARE(m_application->selection()->range()->start(), caret + keys.size());
}

void TestWriterBackend::stepsAndContainment()
{
    const QString expected = expectedText();
    auto start = m_document->range(0, 0);
    QVERIFY(!start->previous(UnitCharacter, 1));
    QCOMPARE(start->next(UnitCharacter, 1)->text(), expected.left(1));
    QCOMPARE(start->next(UnitCharacter, 3)->text(), expected.mid(2, 1));
    auto end = m_document->range(expected.size(), expected.size());
    QVERIFY(!end->next(UnitCharacter, 1));
    QCOMPARE(end->previous(UnitCharacter, 1)->text(), expected.right(1));
    // The character outside the BMP is one step of two units.
    const int rare = expected.indexOf(QStringLiteral("𠀀"));
    auto before = m_document->range(rare, rare);
    QCOMPARE(before->next(UnitCharacter, 1)->text(), QStringLiteral("𠀀"));
    QCOMPARE(m_document->range(rare + 2, rare + 2)->previous(UnitCharacter, 1)->start(), rare);

    auto outer = m_document->range(10, 40);
    QVERIFY(m_document->range(12, 20)->inRange(outer));
    QVERIFY(m_document->range(10, 40)->inRange(outer));
    QVERIFY(!m_document->range(5, 20)->inRange(outer));
    QVERIFY(!m_document->range(35, 45)->inRange(outer));

    auto grown = m_document->range(10, 12);
    grown->setEnd(30);
    QCOMPARE(grown->text(), expected.mid(10, 20));
    grown->setRange(3, 4);
    QCOMPARE(grown->text(), expected.mid(3, 1));
}

void TestWriterBackend::sentences()
{
    const QString first = m_paragraphs.first();
    const int second = first.indexOf(QStringLiteral("这是"));
    auto inside = m_document->range(second + 2, second + 3);
    inside->expand(UnitSentence);
    QCOMPARE(inside->text(), QStringLiteral("这是第二句话！"));
    auto across = m_document->range(3, second + 1);
    across->expand(UnitSentence);
    QCOMPARE(across->text(), QStringLiteral("第一页的开头。这是第二句话！"));
    // In the paragraph after the table.
    const int after = offsetOf(QStringLiteral("继续"));
    auto late = m_document->range(after, after);
    late->expand(UnitSentence);
    QCOMPARE(late->text(), QStringLiteral("表格之后的段落，继续写下去。"));
    auto next = m_document->range(0, 2)->next(UnitSentence, 1);
    QVERIFY(next);
    QCOMPARE(next->text(), QStringLiteral("这是第二句话！"));
}

void TestWriterBackend::paragraphs()
{
    const QString expected = expectedText();
    auto page = m_document->range(0, offsetOf(QStringLiteral("第3段")));
    auto paragraphs = page->paragraphs();
    QVERIFY(paragraphs);
    // The paragraphs (cells included) put together give the range's text (the
    // range ends where a paragraph starts); one that is partly in the range
    // comes whole.
    QString joined;
    for (int i = 1; i <= paragraphs->count(); ++i)
        joined += paragraphs->item(i)->range()->text();
    QCOMPARE(joined, page->text());
    auto partial = m_document->range(3, offsetOf(QStringLiteral("普通")) + 2)->paragraphs();
    QCOMPARE(partial->count(), 2);
    QCOMPARE(partial->item(2)->range()->text(), m_paragraphs.at(1) + '\n');
    QCOMPARE(paragraphs->count(), m_tableAfter + m_cells.size() + 3);
    QCOMPARE(paragraphs->item(m_tableAfter + 2)->range()->text(), m_cells.at(1) + '\n');
    QVERIFY(!paragraphs->item(0));
    QVERIFY(!paragraphs->item(paragraphs->count() + 1));
    // A caret lies in one paragraph.
    const int caret = offsetOf(QStringLiteral("普通")) + 1;
    auto one = m_document->range(caret, caret)->paragraphs();
    QCOMPARE(one->count(), 1);
    QCOMPARE(one->item(1)->range()->text(), m_paragraphs.at(1) + '\n');
}

void TestWriterBackend::marksReadAndWritten()
{
    // After the character outside the BMP, in a cell, and across a table.
    const int word = offsetOf(QStringLiteral("错别字"));
    const int cell = offsetOf(m_cells.at(2));
    for (const auto& [start, end] : {qMakePair(word, word + 3), qMakePair(cell, cell + 2)}) {
        auto range = m_document->range(start, end);
        QCOMPARE(*range->font(), kPlain);
        range->setFont(kMark);
        QCOMPARE(*m_document->range(start, end)->font(), kMark);
        QCOMPARE(writerUnderlineAt(start, end), sal_Int16(awt::FontUnderline::BOLDWAVE));
        Reference<beans::XPropertySet> properties(
            std::dynamic_pointer_cast<WriterRange>(m_document->range(start, end))->pieces().front(), UNO_QUERY);
        QCOMPARE(properties->getPropertyValue("CharUnderlineColor").get<sal_Int32>(), sal_Int32(0xF00100));
        QCOMPARE(properties->getPropertyValue("CharUnderlineHasColor").get<bool>(), true);
        // Only the marked characters.
        QCOMPARE(*m_document->range(start - 1, start)->font(), kPlain);
        QCOMPARE(*m_document->range(end, end + 1)->font(), kPlain);
    }
    const int tableStart = offsetOf(m_cells.first());
    auto across = m_document->range(tableStart - 3, tableStart + 2);
    across->setFont({kDouble, 0x0000FF});
    QCOMPARE(*m_document->range(tableStart - 3, tableStart + 2)->font(), (Font{kDouble, 0x0000FF}));
    // Colours: 0x00BBGGRR here, 0xRRGGBB in Writer.
    QCOMPARE(office::colorToWord(0x123456), 0x563412);
    QCOMPARE(office::colorFromWord(0x563412), 0x123456);
    QCOMPARE(office::colorFromWord(ColorAutomatic), -1);
}

void TestWriterBackend::underlineStylesRoundTrip()
{
    // Every Writer underline reads as a value that writes back as itself.
    const int at = offsetOf(QStringLiteral("普通"));
    for (sal_Int16 style = awt::FontUnderline::NONE; style <= awt::FontUnderline::BOLDWAVE; ++style) {
        if (style == awt::FontUnderline::DONTKNOW)
            continue;
        auto source = std::dynamic_pointer_cast<WriterRange>(m_document->range(at, at + 1));
        Reference<beans::XPropertySet>(source->pieces().front(), UNO_QUERY_THROW)
            ->setPropertyValue("CharUnderline", uno::Any(style));
        const Font read = *source->font();
        m_document->range(at + 1, at + 2)->setFont(read);
        QCOMPARE(writerUnderlineAt(at + 1, at + 2), style);
    }
    QCOMPARE(office::underlineToWord(awt::FontUnderline::NONE), int(UnderlineNone));
    QCOMPARE(office::underlineToWord(awt::FontUnderline::BOLDWAVE), int(UnderlineWavyHeavy));
    QCOMPARE(office::underlineToWord(awt::FontUnderline::SINGLE), 1);
}

void TestWriterBackend::mixedFormatting()
{
    const int at = offsetOf(QStringLiteral("普通"));
    m_document->range(at, at + 1)->setFont(kMark);
    QCOMPARE(*m_document->range(at, at + 3)->font(), (Font{Undefined, Undefined}));
    m_document->range(at + 1, at + 3)->setFont({UnderlineWavyHeavy, 0x0000FF});
    // Writer keeps style and colour in one attribute: a colour that differs
    // makes both mixed.
    QCOMPARE(*m_document->range(at, at + 3)->font(), (Font{Undefined, Undefined}));
    // Mixed across the table: the cell's formatting differs from the body's.
    const int tableStart = offsetOf(m_cells.first());
    m_document->range(tableStart, tableStart + 1)->setFont(kMark);
    QVERIFY(m_document->range(tableStart - 2, tableStart + 1)->font()->isMixed());
    // Writing Undefined leaves the property alone.
    m_document->range(at, at + 3)->setFont({UnderlineNone, Undefined});
    QCOMPARE(*m_document->range(at + 1, at + 3)->font(), (Font{UnderlineNone, 0x0000FF}));
}

void TestWriterBackend::characterFormattingAfterChanges()
{
    // One character's formatting is read with the characters after it; what
    // was read is not answered once formatting changed: by a write of ours,
    // by a find-and-replace, by the user (after the event loop ran).
    const int at = offsetOf(QStringLiteral("普通的一段"));
    auto fontAt = [&](int offset) { return *m_document->range(offset, offset + 1)->font(); };
    auto fontsFrom = [&](int offset, int count) {
        QVector<Font> fonts;
        for (int i = 0; i < count; ++i)
            fonts << fontAt(offset + i);
        return fonts;
    };
    QCOMPARE(fontAt(at), kPlain);
    m_document->range(at + 1, at + 7)->setFont(kMark);
    QCOMPARE(fontsFrom(at, 8), (QVector<Font>{kPlain, kMark, kMark, kMark, kMark, kMark, kMark, kPlain}));
    QCOMPARE(fontAt(at), kPlain);
    QCOMPARE(fontAt(at + 1), kMark); // a run of marked characters was read last
    auto find = m_document->content()->find();
    find->clearFormatting();
    find->setFont(kMark);
    find->clearReplacementFormatting();
    find->setReplacementFont(kPlain);
    QVERIFY(find->execute(true, true, ReplaceAll));
    QCOMPARE(fontAt(at + 2), kPlain);
    QCOMPARE(fontsFrom(at, 8), QVector<Font>(8, kPlain));
    // The user underlines a character (in the office, not through us).
    Reference<text::XTextCursor> cursor = textDocument()->getText()->createTextCursor();
    cursor->goRight(sal_Int16(at + 4), false);
    cursor->goRight(1, true);
    Reference<beans::XPropertySet>(cursor, UNO_QUERY_THROW)
        ->setPropertyValue("CharUnderline", uno::Any(awt::FontUnderline::DOUBLE));
    QCoreApplication::processEvents();
    QCOMPARE(fontAt(at + 4).underline, kDouble);
}

void TestWriterBackend::removalInOneCall()
{
    const int word = offsetOf(QStringLiteral("错别字"));
    const int cell = offsetOf(m_cells.at(3));
    const int other = offsetOf(QStringLiteral("普通"));
    const int late = offsetOf(QStringLiteral("第60段"));
    m_document->range(word, word + 3)->setFont(kMark);
    m_document->range(cell, cell + 2)->setFont(kMark);
    m_document->range(late, late + 3)->setFont(kMark);
    // The user's own wavy underline in another colour is not a mark.
    m_document->range(other, other + 2)->setFont({UnderlineWavyHeavy, 0x00FF00});

    // Part of the document first: only the marks inside the range go.
    auto part = m_document->range(0, cell + 1);
    auto find = part->find();
    find->clearFormatting();
    find->setFont(kMark);
    find->clearReplacementFormatting();
    find->setReplacementFont(kPlain);
    QVERIFY(find->execute(true, true, ReplaceAll));
    QCOMPARE(*m_document->range(word, word + 3)->font(), kPlain);
    QCOMPARE(*m_document->range(cell, cell + 1)->font(), kPlain);
    QCOMPARE(*m_document->range(cell + 1, cell + 2)->font(), kMark);
    QCOMPARE(*m_document->range(late, late + 3)->font(), kMark);

    const int before = undoCount();
    auto all = m_document->content()->find();
    all->setFont(kMark);
    all->setReplacementFont(kPlain);
    QVERIFY(all->execute(true, true, ReplaceAll));
    QCOMPARE(*m_document->range(cell + 1, cell + 2)->font(), kPlain);
    QCOMPARE(*m_document->range(late, late + 3)->font(), kPlain);
    QCOMPARE(*m_document->range(other, other + 2)->font(), (Font{UnderlineWavyHeavy, 0x00FF00}));
    QCOMPARE(undoCount(), before + 1);
    // Nothing left to find.
    QVERIFY(!all->execute(true, true, ReplaceAll));
}

void TestWriterBackend::undoStepsAndModifiedFlag()
{
    m_document->setModified(false);
    QVERIFY(!m_document->isModified());
    const int before = undoCount();

    // Marking several ranges is one step; the flag goes back as it was.
    m_document->enterUndoContext(QStringLiteral("Check"));
    for (const QString& word : {QStringLiteral("错别字"), QStringLiteral("普通"), QStringLiteral("第5段")})
        m_document->range(offsetOf(word), offsetOf(word) + 2)->setFont(kMark);
    m_document->enterUndoContext(QStringLiteral("nested"));
    m_document->range(offsetOf(m_cells.first()), offsetOf(m_cells.first()) + 1)->setFont(kMark);
    m_document->leaveUndoContext();
    m_document->leaveUndoContext();
    QVERIFY(m_document->isModified());
    m_document->setModified(false);
    QVERIFY(!m_document->isModified());
    QCOMPARE(undoCount(), before + 1);

    // The user's Undo takes all of it back at once.
    Reference<document::XUndoManagerSupplier> supplier(OfficeFixture::model(m_frame), UNO_QUERY_THROW);
    supplier->getUndoManager()->undo();
    QCOMPARE(*m_document->range(offsetOf(QStringLiteral("错别字")), offsetOf(QStringLiteral("错别字")) + 2)->font(),
             kPlain);
    QCOMPARE(*m_document->range(offsetOf(m_cells.first()), offsetOf(m_cells.first()) + 1)->font(), kPlain);
    // Leaving without a context is a quiet no-op.
    m_document->leaveUndoContext();
}

void TestWriterBackend::selectionAndEvents()
{
    auto sink = std::make_shared<RecordingSink>();
    const int cookie = m_application->advise(sink);
    QVERIFY(cookie > 0);
    const int word = offsetOf(QStringLiteral("错别字"));
    m_document->range(word, word + 3)->select();
    QTRY_VERIFY(sink->count(EventWindowSelectionChange) >= 1);
    const auto& [id, parameters] = sink->events.back();
    QCOMPARE(id, int(EventWindowSelectionChange));
    QCOMPARE(parameters.size(), size_t(1));
    auto selection = std::dynamic_pointer_cast<Selection>(std::get<std::shared_ptr<Object>>(parameters[0]));
    QVERIFY(selection);
    QCOMPARE(selection->document()->fullName(), m_document->fullName());
    QCOMPARE(selection->range()->text(), QStringLiteral("错别字"));
    QCOMPARE(selection->range()->start(), word);
    // In a cell, and across the table.
    const int cell = offsetOf(m_cells.at(1));
    m_document->range(cell + 1, cell + 3)->select();
    QCOMPARE(m_application->selection()->range()->start(), cell + 1);
    QCOMPARE(m_application->selection()->range()->text(), m_cells.at(1).mid(1, 2));
    // Writer's view cannot select from the body into a table: the selection
    // starts there.
    m_document->range(cell - 5, cell + 2)->select();
    QCOMPARE(m_application->selection()->range()->start(), cell - 5);

    // After unadvise nothing arrives.
    m_application->unadvise(cookie);
    const size_t seen = sink->events.size();
    m_document->range(0, 1)->select();
    QTest::qWait(50);
    QCOMPARE(sink->events.size(), seen);
    QVERIFY(!m_application->version().isEmpty());
    QVERIFY(m_application->version().startsWith(QLatin1Char('7')) || m_application->version().at(0).isDigit());
}

void TestWriterBackend::windowPoint()
{
    auto window = m_application->activeWindow();
    QVERIFY(window);
    int left = -1, top = -1, width = -1, height = -1;
    // A headless office shows nothing: no point, and the outputs untouched.
    const bool known = window->getPoint(left, top, width, height, m_document->range(0, 2));
    if (!known)
        QCOMPARE(left, -1);
    QVERIFY(!window->getPoint(left, top, width, height, nullptr));
}

QList<QPair<int, int>> TestWriterBackend::drawnAround(int offset)
{
    // The paragraph that holds offset, as the office hands it to the extension.
    const QString text = m_document->content()->text();
    const int start = text.lastIndexOf('\n', offset - 1) + 1;
    int end = text.indexOf('\n', offset);
    if (end < 0)
        end = text.size();
    QList<QPair<int, int>> marks;
    for (const auto& [at, length] : m_office.drawnMarks(text.mid(start, end - start)))
        marks.append({start + at, length});
    return marks;
}

TestWriterBackend::Formatting TestWriterBackend::formatting()
{
    // Every character's underline and colour, and whether they are its own or
    // inherited (from a style or the defaults).
    Formatting result;
    const QString text = m_document->content()->text();
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '\n')
            continue;
        auto range = std::dynamic_pointer_cast<WriterRange>(m_document->range(i, i + 1));
        if (!range || range->pieces().size() != 1)
            continue;
        Reference<beans::XPropertyState> state(range->pieces().front(), UNO_QUERY_THROW);
        const rtl::OUString names[] = {"CharUnderline", "CharUnderlineColor", "CharUnderlineHasColor"};
        const uno::Sequence<beans::PropertyState> states =
            state->getPropertyStates(uno::Sequence<rtl::OUString>(names, 3));
        QString line = QString::number(i);
        for (const beans::PropertyState s : states)
            line += QLatin1Char(' ') + QString::number(int(s));
        const std::optional<Font> font = range->font();
        line += QStringLiteral(" %1/%2").arg(font ? font->underline : -1).arg(font ? font->underlineColor : -1);
        result.append(line);
    }
    return result;
}

void TestWriterBackend::marksAreNotContent()
{
    // The document logic on the real office: marks are drawn by the office and
    // are never part of the document, whatever the user does with it.
    if (m_office.drawnMarks(QStringLiteral("测试")).isEmpty() &&
        !m_office.connection()
             ->context()
             ->getServiceManager()
             ->createInstanceWithContext("org.quillet.MarkLayer", m_office.connection()->context())
             .is())
        QFAIL("the office has no Quillet marks extension");
    const int word = offsetOf(QStringLiteral("错别字"));
    const Font own{kDouble, 0x00FF00};
    m_document->range(word + 1, word + 2)->setFont(own);
    Reference<document::XUndoManagerSupplier>(OfficeFixture::model(m_frame), UNO_QUERY_THROW)
        ->getUndoManager()
        ->clear();
    Reference<beans::XPropertySet> model(OfficeFixture::model(m_frame), UNO_QUERY_THROW);
    model->setPropertyValue("RecordChanges", uno::Any(true));
    m_document->setModified(false);
    const Formatting before = formatting();
    m_document->range(0, 0)->select();

    auto helper = std::make_unique<WordHelper>();
    QVERIFY(helper->attach(handleFromWindowId(0x4242), m_application));
    const QString page = helper->getCurrentPageText();
    auto finding = std::make_shared<CCheckData>();
    finding->text = "错别字";
    finding->spans = {{int(page.indexOf(QStringLiteral("错别字"))), int(page.indexOf(QStringLiteral("错别字"))) + 2}};
    finding->suggestions = std::vector<CDataItemValue>{CDataItemValue("错字", 1)};
    helper->showErrors({finding});
    QVERIFY(helper->hasData());
    QVERIFY(m_document->range(word, word + 3)->isMarked());
    QVERIFY(!m_document->range(word + 3, word + 4)->isMarked());
    // The office draws it (its proofreader, the extension, reports it).
    QTRY_COMPARE(drawnAround(word), (QList<QPair<int, int>>{{word, 3}}));

    // Checking recorded no change, no undo step, left the flag alone.
    QCOMPARE(undoCount(), 0);
    QVERIFY(!m_document->isModified());
    QCOMPARE(Reference<document::XRedlinesSupplier>(model, UNO_QUERY_THROW)->getRedlines()->hasElements(), false);
    QCOMPARE(formatting(), before);

    // Copied and pasted into another document: no mark goes along.
    m_document->range(word, word + 3)->select();
    const Reference<datatransfer::XTransferable> copied =
        Reference<datatransfer::XTransferableSupplier>(OfficeFixture::model(m_frame)->getCurrentController(),
                                                       UNO_QUERY_THROW)
            ->getTransferable();
    const Reference<frame::XFrame> other = m_office.newDocument({QString()});
    Reference<datatransfer::XTransferableSupplier>(OfficeFixture::model(other)->getCurrentController(), UNO_QUERY_THROW)
        ->insertTransferable(copied);
    {
        auto pasted = WriterApplication::create(m_office.connection(), other);
        QCOMPARE(pasted->activeDocument()->content()->text(), QStringLiteral("错别字"));
        const std::optional<Font> font = pasted->activeDocument()->range(0, 1)->font();
        QVERIFY(font && !isMarkFont(*font));
        QVERIFY(!pasted->activeDocument()->range(0, 1)->isMarked());
    }
    OfficeFixture::closeDocument(other);

    // Printed to a file: nothing is drawn in the mark's colour.
    const QString printed = m_office.tempPath("printed.pdf");
    beans::PropertyValue print[2];
    print[0].Name = "FileName";
    print[0].Value <<= office::toOUString(printed);
    print[1].Name = "Wait";
    print[1].Value <<= true;
    Reference<view::XPrintable>(OfficeFixture::model(m_frame), UNO_QUERY_THROW)
        ->print(uno::Sequence<beans::PropertyValue>(print, 2));
    QTRY_VERIFY(QFileInfo(printed).size() > 0);
    QVERIFY(!printedInMarkColour(printed));

    // Saved: the file holds no mark, the marks and findings stay.
    const rtl::OUString url = office::toOUString(QUrl::fromLocalFile(m_office.tempPath("checked.odt")).toString());
    bool saved = false;
    std::thread saver([&] {
        office::guarded("saving", [&] { Reference<frame::XStorable>(model, UNO_QUERY_THROW)->storeToURL(url, {}); });
        saved = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(saved, 20000);
    saver.join();
    QCOMPARE(marksInFile(url), 0);
    QVERIFY(helper->hasData());
    QVERIFY(m_document->range(word, word + 3)->isMarked());

    // Cleared, then the user's Undo: nothing of ours comes back.
    helper->clearErrors();
    QVERIFY(!m_document->range(word, word + 3)->isMarked());
    QTRY_VERIFY(drawnAround(word).isEmpty());
    QCOMPARE(undoCount(), 0);
    QCOMPARE(formatting(), before);
    model->setPropertyValue("RecordChanges", uno::Any(false));
    helper.reset();
}

void TestWriterBackend::typingBesideAMark()
{
    // A caret put down right after a mark stays where it is (the popup's step
    // selects nothing); text typed there is not marked and replaces nothing,
    // and text typed before the mark leaves it on the same characters.
    const int word = offsetOf(QStringLiteral("错别字"));
    auto helper = std::make_unique<WordHelper>();
    QVERIFY(helper->attach(handleFromWindowId(0x4243), m_application));
    m_document->range(0, 0)->select();
    const QString page = helper->getCurrentPageText();
    auto finding = std::make_shared<CCheckData>();
    finding->text = "错别字";
    const int at = page.indexOf(QStringLiteral("错别字"));
    finding->spans = {{at, at + 2}};
    helper->showErrors({finding});
    QTRY_COMPARE(drawnAround(word), (QList<QPair<int, int>>{{word, 3}}));

    m_document->range(word + 3, word + 3)->select();
    QTest::qWait(100); // the selection timer has run
    std::shared_ptr<Range> caret = m_application->selection()->range();
    QCOMPARE(caret->start(), word + 3);
    QCOMPARE(caret->end(), word + 3);

    // Typing at the caret, as the user does: the keystrokes reach the office
    // between two turns of this program's event loop.
    const Reference<text::XTextViewCursor> view =
        Reference<text::XTextViewCursorSupplier>(OfficeFixture::model(m_frame)->getCurrentController(), UNO_QUERY_THROW)
            ->getViewCursor();
    auto type = [&](const QString& text) {
        QCoreApplication::processEvents();
        view->getText()->insertString(Reference<text::XTextRange>(view, UNO_QUERY), office::toOUString(text), false);
        QCoreApplication::processEvents();
    };
    type(QStringLiteral("甲乙"));
    QCOMPARE(m_document->content()->text().mid(word, 6), QStringLiteral("错别字甲乙标"));
    QVERIFY(m_document->range(word, word + 3)->isMarked());
    QVERIFY(!m_document->range(word + 3, word + 4)->isMarked());
    QTRY_COMPARE(drawnAround(word), (QList<QPair<int, int>>{{word, 3}}));

    // Typed before the mark: the mark moves with its characters.
    const int paragraph = offsetOf(QStringLiteral("古字"));
    m_document->range(paragraph, paragraph)->select();
    type(QStringLiteral("丙"));
    QVERIFY(m_document->range(word + 1, word + 4)->isMarked());
    QVERIFY(!m_document->range(word, word + 1)->isMarked());
    QTRY_COMPARE(drawnAround(word + 1), (QList<QPair<int, int>>{{word + 1, 3}}));

    // Typed inside it: the characters around stay marked, the new one is not.
    m_document->range(word + 2, word + 2)->select();
    type(QStringLiteral("丁"));
    QVERIFY(m_document->range(word + 1, word + 2)->isMarked());
    QVERIFY(!m_document->range(word + 2, word + 3)->isMarked());
    QVERIFY(m_document->range(word + 3, word + 5)->isMarked());
    QTRY_COMPARE(drawnAround(word + 1), (QList<QPair<int, int>>{{word + 1, 1}, {word + 3, 2}}));
    helper.reset();
    QTRY_VERIFY(drawnAround(word + 1).isEmpty());
}

void TestWriterBackend::closeEvent()
{
    auto sink = std::make_shared<RecordingSink>();
    QVERIFY(m_application->advise(sink) > 0);
    // Closed from another thread, as the user closes it in the office: the
    // office's notifications then reach this process on UNO's threads.
    bool closed = false;
    std::thread closer([&] {
        OfficeFixture::closeDocument(m_frame);
        closed = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(closed, 20000);
    closer.join();
    m_frame.clear();
    QTRY_COMPARE(sink->count(EventDocumentBeforeClose), 1);
    const auto& parameters = sink->events.back().second;
    QCOMPARE(parameters.size(), size_t(2));
    QCOMPARE(std::get<bool>(parameters[0]), false);
    QTest::qWait(50);
    QCOMPARE(sink->count(EventDocumentBeforeClose), 1);
    // The closed document answers empty results.
    QVERIFY(!m_document->range(0, 1) || m_document->range(0, 1)->text().isEmpty());
}

void TestWriterBackend::officeGoesAway()
{
    QSignalSpy disconnected(m_office.connection().get(), &OfficeConnection::disconnected);
    auto range = m_document->range(0, 3);
    QVERIFY(range);
    QVERIFY(!m_office.officePids().isEmpty());
    m_office.kill();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 15000);
    QVERIFY(!m_office.connection()->isAlive());
    // Everything answers its empty result.
    QCOMPARE(range->text(), QString());
    QVERIFY(!range->font());
    range->setFont(kMark);
    QVERIFY(!m_document->content());
    QVERIFY(!m_document->range(0, 1));
    QVERIFY(!m_application->activeDocument());
    QVERIFY(!m_application->selection());
    QCOMPARE(m_application->advise(std::make_shared<RecordingSink>()), 0);
    QVERIFY(!m_document->isModified());
    m_document->enterUndoContext(QStringLiteral("x"));
    m_document->leaveUndoContext();
    QVERIFY(!OfficeConnection::connect(m_office.pipeName()));
}

QTEST_MAIN(TestWriterBackend)
#include "TestWriterBackend.moc"
