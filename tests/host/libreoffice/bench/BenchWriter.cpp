#include "OfficeFixture.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "bridge/WordHelper.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

// The document logic on a real office (a private headless LibreOffice):
// attaching to a window, marking a one-page document with 20 findings,
// stepping through the marks, the caret-to-popup step after the selection
// timer, and clearing. Prints wall times; the office's round trip (about
// 0.15 ms a call here) dominates.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    OfficeFixture office;
    QString reason;
    QElapsedTimer timer;
    timer.start();
    if (!office.start(&reason)) {
        std::printf("no office: %s\n", qPrintable(reason));
        return 1;
    }
    std::printf("office start:   %.0f ms (headless, new profile)\n", timer.nsecsElapsed() / 1e6);

    // One page: 12 paragraphs, 20 findings of distinct words, each once.
    const QStringList words{"以经",     "在次",     "即然", "按装",     "必竟", "部份", "采纳意见",
                            "重迭",     "粗旷",     "带戴", "淡薄名利", "渡假", "防碍", "复盖",
                            "甘败下风", "沟通了解", "既使", "娇揉造作", "精萃", "九洲"};
    QStringList paragraphs;
    for (int i = 0; i < 12; ++i) {
        QString paragraph = QStringLiteral("这是第%1段文字，内容平常。").arg(i + 1);
        for (int w = i; w < words.size(); w += 12)
            paragraph += words.at(w) + QStringLiteral("出现在句子中间，后面还有一些文字。");
        paragraphs << paragraph;
    }
    const auto frame = office.newDocument(paragraphs);

    timer.restart();
    auto application = WriterApplication::create(office.connection(), frame);
    auto helper = std::make_unique<WordHelper>();
    helper->attach(handleFromWindowId(1), application);
    std::printf("first attach:   %.1f ms (application, document, listeners, popup)\n", timer.nsecsElapsed() / 1e6);

    CHECK_DATAS findings;
    for (const QString& word : words) {
        auto finding = std::make_shared<CCheckData>();
        finding->text = word.toStdString();
        finding->spans = {{0, int(word.size()) - 1}};
        findings.push_back(finding);
    }
    auto document = application->activeDocument();
    document->range(0, 0)->select();
    QCoreApplication::processEvents();

    timer.restart();
    helper->showErrors(findings);
    const double markMs = timer.nsecsElapsed() / 1e6;
    std::printf("marking:        %.1f ms for %d findings on one page (%.2f ms an occurrence)\n", markMs,
                int(findings.size()), markMs / findings.size());

    QCoreApplication::processEvents();
    document->range(0, 0)->select();
    QCoreApplication::processEvents();
    timer.restart();
    int steps = 0;
    while (steps < 30 && helper->onNext())
        ++steps;
    const double stepMs = timer.nsecsElapsed() / 1e6;
    std::printf("stepping:       %d steps, %.1f ms (%.1f ms a step, popup shown)\n", steps, stepMs,
                steps ? stepMs / steps : 0.0);
    // Without the popup: the document side of a step alone.
    helper->enableErrorTip(false);
    document->range(0, 0)->select();
    QCoreApplication::processEvents();
    timer.restart();
    steps = 0;
    while (steps < 30 && helper->onNext())
        ++steps;
    const double bareMs = timer.nsecsElapsed() / 1e6;
    std::printf("stepping:       %d steps, %.1f ms (%.1f ms a step, error tips off)\n", steps, bareMs,
                steps ? bareMs / steps : 0.0);
    helper->enableErrorTip(true);

    // The caret onto a mark; the popup after the 10 ms selection timer.
    const int at = document->content()->text().indexOf(words.at(5)) + 1;
    document->range(at, at)->select();
    QCoreApplication::processEvents();
    timer.restart();
    helper->timeoutSelectionChange();
    std::printf("caret to popup: %.1f ms after the timer (headless: no screen position, the fallback)\n",
                timer.nsecsElapsed() / 1e6);

    timer.restart();
    helper->clearErrors();
    std::printf("clearing:       %.1f ms\n", timer.nsecsElapsed() / 1e6);
    helper.reset();
    application.reset();
    OfficeFixture::closeDocument(frame);
    office.stop();
    return 0;
}
