#include "WordFixture.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

// Marking 1 000 occurrences on one page of a 30-page document, stepping
// through them, and removing them, on the in-memory word processor: prints the
// automation calls each costs and the time the document logic itself takes.
// With a real editor, multiply the calls by its round-trip time.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Pages of 50 lines of 60 characters, paragraphs of 300: 3 000 characters
    // and 1 000 occurrences of 以经 a page.
    const QString paragraph = QString::fromUtf8("以经好").repeated(99) + QString::fromUtf8("以经\r");
    const QString text = paragraph.repeated(300);
    WordFixture f(text, memoryword::Layout{60, 50});
    f.caret(f.doc->pageStart(15) + 10);
    const int page = f.helper->currentPageNumber();

    memoryword::CallCounter& calls = f.app->calls();
    QElapsedTimer timer;

    calls.reset();
    timer.start();
    f.helper->showErrors({makeFinding(QString::fromUtf8("以经"), {QString::fromUtf8("已经")})});
    const qint64 markNs = timer.nsecsElapsed();
    const int marked = f.markedText().count(QString::fromUtf8("以"));
    const int markCalls = calls.total;
    std::printf("document: %d characters, %d pages; page %d marked\n", int(text.size()), f.doc->pageCount(), page);
    std::printf("marking:  %d occurrences, %d calls (%.2f a occurrence), %.3f ms (%.2f us a occurrence)\n", marked,
                markCalls, double(markCalls) / marked, markNs / 1e6, markNs / 1e3 / marked);

    f.caret(f.doc->pageStart(page));
    calls.reset();
    timer.restart();
    int steps = 0;
    while (f.helper->onNext())
        ++steps;
    const qint64 stepNs = timer.nsecsElapsed();
    std::printf("stepping: %d steps, %d calls (%.1f a step), %.3f ms (%.1f us a step)\n", steps, calls.total,
                double(calls.total) / std::max(1, steps), stepNs / 1e6, stepNs / 1e3 / std::max(1, steps));

    calls.reset();
    timer.restart();
    f.helper->clearErrors();
    const qint64 clearNs = timer.nsecsElapsed();
    std::printf("clearing: %d calls, %.3f ms\n", calls.total, clearNs / 1e6);
    return steps == marked ? 0 : 1;
}
