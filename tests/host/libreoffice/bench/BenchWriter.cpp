#include "OfficeConnection.h"
#include "OfficeFixture.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "bridge/TypingCheck.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XSynchronousDispatch.hpp>
#include <com/sun/star/util/URL.hpp>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

// The document logic on a real office (a private headless LibreOffice), in one
// run: attaching to a window; marking a one-page document with 20 findings and
// the share of one occurrence in it; the caret-to-popup step after the
// selection timer; stepping; clearing; and, with the local quillet-service,
// the whole check from the button to the last mark. Times are medians of a few
// rounds. "Messages" are the messages this process sent to the office: each
// call into the office is one (the round trip, about 0.15 ms here, is what
// costs), so they count the automation calls behind each figure.

namespace {

struct Figure
{
    double ms = 0;
    double messages = 0;
};

// The median time and messages of rounds runs of step; prepare runs untimed
// before each.
Figure measure(OfficeConnection& connection, int rounds, const std::function<void()>& prepare,
               const std::function<void()>& step)
{
    std::vector<double> times;
    std::vector<double> counts;
    for (int i = 0; i < rounds; ++i) {
        if (prepare)
            prepare();
        const quint64 before = connection.messagesSent();
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(timer.nsecsElapsed() / 1e6);
        counts.push_back(double(connection.messagesSent() - before));
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {median(times), median(counts)};
}

// The findings of words as a check of the current page brings them: each
// where it stands in the page's text (a word not on the page, at 0).
CHECK_DATAS findingsOf(WordHelper& helper, const QStringList& words)
{
    const QString page = helper.getCurrentPageText();
    CHECK_DATAS findings;
    for (const QString& word : words) {
        auto finding = std::make_shared<CCheckData>();
        finding->text = word.toStdString();
        const int at = std::max(0, int(page.indexOf(word)));
        finding->spans = {{at, at + int(word.size()) - 1}};
        findings.push_back(finding);
    }
    return findings;
}

// How many marks the office has asked Quillet's extension for so far (it asks
// when it proofreads a paragraph, and then draws them).
int reportedMarks(OfficeConnection& connection)
{
    return office::guarded("asking the marks extension", -1, [&] {
        const css::uno::Reference<css::uno::XComponentContext> context = connection.context();
        css::uno::Reference<css::frame::XSynchronousDispatch> layer(
            context->getServiceManager()->createInstanceWithContext("org.quillet.MarkLayer", context),
            css::uno::UNO_QUERY_THROW);
        css::util::URL url;
        url.Complete = "vnd.quillet.marks:hello";
        css::uno::Sequence<css::beans::PropertyValue> answer;
        layer->dispatchWithReturnValue(url, {}) >>= answer;
        for (const css::beans::PropertyValue& value : answer) {
            if (value.Name == "reported")
                return value.Value.get<sal_Int32>();
        }
        return -1;
    });
}

// The local checking service with one account; its address, or empty.
QString startService(QProcess& service, const QString& data)
{
    QProcess add;
    add.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"user", "add", "bench", "--data", data});
    add.waitForStarted();
    add.write("bench+password\n");
    add.closeWriteChannel();
    if (!add.waitForFinished(30000) || add.exitCode() != 0)
        return {};
    service.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"serve", "--listen", "127.0.0.1:0", "--data", data});
    if (!service.waitForStarted() || !service.waitForReadyRead(20000))
        return {};
    const QRegularExpressionMatch ready = QRegularExpression(QStringLiteral("listening on (http://[0-9.:]+/)"))
                                              .match(QString::fromUtf8(service.readLine()));
    return ready.hasMatch() ? ready.captured(1) : QString();
}

// Checking as the user types: what a keystroke costs in Quillet, and the time
// from the last keystroke to the marks.
void benchTyping(OfficeConnection& connection, WriterApplication& application, WordHelper& helper)
{
    helper.clearErrors();
    helper.setCheckAsYouType(true);
    const std::shared_ptr<automation::Document> document = application.activeDocument();
    const std::shared_ptr<automation::Selection> selection = application.selection();

    // A keystroke as the office tells it: the change, then the caret's move.
    const int keys = 20000;
    const quint64 messagesBefore = connection.messagesSent();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < keys; ++i) {
        helper.handleEvent(automation::EventDocumentChange, {std::static_pointer_cast<automation::Object>(document)});
        helper.handleEvent(automation::EventWindowSelectionChange,
                           {std::static_pointer_cast<automation::Object>(selection)});
    }
    std::printf("typing, a key:     %.2f us in Quillet's code, %.2f messages to the office (%d keys; the pause %s)\n",
                timer.nsecsElapsed() / 1e3 / keys, double(connection.messagesSent() - messagesBefore) / keys, keys,
                helper.typingCheck()->isTyping() ? "runs" : "DID NOT START");
    // Nothing changed: the pause finds nothing to send.
    QTest::qWait(helper.typingCheck()->pauseMs() + 200);

    // A sentence typed at the end of the last paragraph, a key every 80 ms.
    const QString sentence = QStringLiteral("我们以经准备好了。");
    std::vector<double> toFindings;
    std::vector<double> toOffice;
    for (int round = 0; round < 3; ++round) {
        const int end = document->content()->text().size();
        document->range(end, end)->select();
        QElapsedTimer last;
        for (int i = 0; i < sentence.size(); ++i) {
            document->range(end + i, end + i)->setText(sentence.mid(i, 1));
            last.start();
            QTest::qWait(80);
        }
        const int wrong = end + sentence.indexOf(QStringLiteral("以经"));
        auto markedThere = [&] {
            for (const std::shared_ptr<CCheckData>& finding : helper.getCheckDatas()) {
                if (finding->text == "以经")
                    return document->range(wrong, wrong + 2)->isMarked();
            }
            return false;
        };
        QDeadlineTimer limit(10000);
        while (!markedThere() && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        toFindings.push_back(last.nsecsElapsed() / 1e6);
        const int reported = reportedMarks(connection);
        while (reportedMarks(connection) <= reported && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        toOffice.push_back(last.nsecsElapsed() / 1e6);
        // The sentence goes again, and its check with it.
        document->range(end, end + sentence.size())->setText(QString());
        QTest::qWait(helper.typingCheck()->pauseMs() + 500);
    }
    std::sort(toFindings.begin(), toFindings.end());
    std::sort(toOffice.begin(), toOffice.end());
    std::printf("typing to marks:   %.0f ms from the last key to the mark set (pause %d ms + check), %.0f ms until "
                "the office has it (medians of 3; in the paragraph that holds the caret the office draws it after "
                "its own delay of about 2 s)\n",
                toFindings[1], helper.typingCheck()->pauseMs(), toOffice[1]);
    helper.setCheckAsYouType(false);
}

} // namespace

int main(int argc, char* argv[])
{
    // The login's token goes to a configuration of our own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QProcess service;
    const QString serviceUrl = startService(service, home.filePath("service"));
    if (!serviceUrl.isEmpty())
        qputenv("QUILLET_SERVICE_URL", serviceUrl.toUtf8());
    QApplication app(argc, argv);

    OfficeFixture office;
    QString reason;
    QElapsedTimer timer;
    timer.start();
    if (!office.start(&reason)) {
        std::printf("no office: %s\n", qPrintable(reason));
        return 1;
    }
    std::printf("office start:      %.0f ms (headless, new profile)\n", timer.nsecsElapsed() / 1e6);

    // One page: 12 paragraphs, 20 findings of distinct words, each once.
    const QStringList words{"以经",     "在次",     "即然", "按装",     "必竟", "部份", "采纳意见",
                            "重迭",     "粗旷",     "带戴", "淡薄名利", "渡假", "防碍", "复盖",
                            "甘败下风", "沟通了解", "既使", "娇揉造作", "精萃", "九洲"};
    QStringList absent;
    for (const QString& word : words)
        absent << word + QStringLiteral("甲");
    QStringList paragraphs;
    for (int i = 0; i < 12; ++i) {
        QString paragraph = QStringLiteral("这是第%1段文字，内容平常。").arg(i + 1);
        for (int w = i; w < words.size(); w += 12)
            paragraph += words.at(w) + QStringLiteral("出现在句子中间，后面还有一些文字。");
        paragraphs << paragraph;
    }
    const auto frame = office.newDocument(paragraphs);
    OfficeConnection& connection = *office.connection();

    timer.restart();
    auto application = WriterApplication::create(office.connection(), frame);
    auto helper = std::make_unique<WordHelper>();
    helper->attach(handleFromWindowId(1), application);
    std::printf("first attach:      %.1f ms (application, document, listeners, popup)\n", timer.nsecsElapsed() / 1e6);

    auto document = application->activeDocument();
    auto caretAtStart = [&] {
        helper->clearErrors();
        document->range(0, 0)->select();
        QCoreApplication::processEvents();
    };
    const int rounds = 5;
    caretAtStart();
    const CHECK_DATAS present = findingsOf(*helper, words);
    const CHECK_DATAS missing = findingsOf(*helper, absent);
    const Figure marked = measure(connection, rounds, caretAtStart, [&] { helper->showErrors(present); });
    const Figure page = measure(connection, rounds, caretAtStart, [&] { helper->showErrors(missing); });
    const int count = int(words.size());
    std::printf("marking:           %.1f ms, %.0f messages for a page with %d findings\n", marked.ms, marked.messages,
                count);
    std::printf("  the page alone:  %.1f ms, %.0f messages (the same pass, no finding on the page)\n", page.ms,
                page.messages);
    std::printf("  an occurrence:   %.2f ms, %.1f messages (the difference over %d; the marks go to the office in "
                "one call at the end of the turn, not counted here)\n",
                (marked.ms - page.ms) / count, (marked.messages - page.messages) / count, count);
    // The calls the pass makes for each occurrence, alone: the range, its
    // text, the mark set (a cursor in the office for it).
    const QString all = document->content()->text();
    std::vector<std::shared_ptr<automation::Range>> kept;
    bool open = false;
    auto close = [&] {
        if (open)
            document->leaveUndoContext();
        open = false;
        kept.clear();
    };
    const Figure calls = measure(
        connection, rounds,
        [&] {
            close();
            caretAtStart();
            document->enterUndoContext(QStringLiteral("bench"));
            open = true;
        },
        [&] {
            for (const QString& word : words) {
                const int at = all.indexOf(word);
                auto range = document->range(at, at + int(word.size()));
                if (range && range->text() == word)
                    range->setMarked(true);
                kept.push_back(range);
            }
        });
    close();
    caretAtStart();
    std::printf("  its calls alone: %.2f ms, %.1f messages (range, text, mark set)\n", calls.ms / count,
                calls.messages / count);
    // Handing the marks of the page to the office's extension: one call.
    const Figure handOver = measure(
        connection, rounds,
        [&] {
            caretAtStart();
            helper->showErrors(present);
        },
        [&] { QCoreApplication::processEvents(); });
    std::printf("  to the office:   %.1f ms, %.0f messages for the %d marks (one call, end of the turn)\n", handOver.ms,
                handOver.messages, count);
    // Until the office has proofread the page again and taken every mark
    // (it draws each paragraph then; in the paragraph that holds the caret
    // only after a pause of its own, about 2 s).
    std::vector<double> untilAsked;
    for (int i = 0; i < rounds; ++i) {
        caretAtStart();
        QTest::qWait(300);
        const int before = reportedMarks(connection);
        QElapsedTimer asked;
        asked.start();
        helper->showErrors(present);
        QDeadlineTimer limit(10000);
        while (reportedMarks(connection) < before + count && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        untilAsked.push_back(asked.nsecsElapsed() / 1e6);
    }
    std::sort(untilAsked.begin(), untilAsked.end());
    std::printf("  office has them: %.0f ms after marking began (median; it proofreads again in the background)\n",
                untilAsked[untilAsked.size() / 2]);

    // The caret onto a mark; the popup after the 10 ms selection timer.
    helper->showErrors(present);
    QCoreApplication::processEvents();
    const int at = document->content()->text().indexOf(words.at(5)) + 1;
    const Figure popup = measure(
        connection, rounds,
        [&] {
            document->range(0, 0)->select();
            QCoreApplication::processEvents();
            helper->timeoutSelectionChange();
            document->range(at, at)->select();
            QCoreApplication::processEvents();
        },
        [&] { helper->timeoutSelectionChange(); });
    std::printf("caret to popup:    %.1f ms, %.0f messages after the timer (headless: the fallback position)\n",
                popup.ms, popup.messages);

    // From the start of the page through every mark (each step walks the
    // characters up to the next mark).
    int steps = 0;
    auto stepThrough = [&](bool tips) {
        helper->enableErrorTip(tips);
        return measure(
            connection, 3,
            [&] {
                document->range(0, 0)->select();
                QCoreApplication::processEvents();
            },
            [&] {
                for (steps = 0; steps < 2 * count && helper->onNext(); ++steps) {
                }
            });
    };
    helper->showErrors(present);
    const Figure stepping = stepThrough(true);
    const Figure bare = stepThrough(false);
    helper->enableErrorTip(true);
    std::printf("stepping:          %.1f ms, %.0f messages a step (popup shown; %d steps)\n", stepping.ms / steps,
                stepping.messages / steps, steps);
    std::printf("                   %.1f ms, %.0f messages a step (error tips off)\n", bare.ms / steps,
                bare.messages / steps);

    const Figure clearing = measure(
        connection, rounds, [&] { helper->showErrors(present); },
        [&] {
            helper->clearErrors();
            QCoreApplication::processEvents();
        });
    std::printf("clearing:          %.1f ms, %.0f messages\n", clearing.ms, clearing.messages);

    // The whole check: the page's text read, checked by the local service,
    // its findings marked.
    if (serviceUrl.isEmpty()) {
        std::printf("check to marks:    no local service\n");
    } else {
        Revisor revisor;
        CHECK_DATAS findings;
        bool done = false;
        QObject::connect(&revisor, &Revisor::checkDone, [&](const CHECK_DATAS& data) {
            findings = data;
            done = true;
        });
        if (!revisor.login(QStringLiteral("bench"), QStringLiteral("bench+password"), 0)) {
            std::printf("check to marks:    the login failed\n");
        } else {
            double readMs = 0;
            double serviceMs = 0;
            double markMs = 0;
            const Figure check = measure(connection, rounds, caretAtStart, [&] {
                QElapsedTimer part;
                part.start();
                const QString text = helper->getCurrentPageText();
                readMs = part.nsecsElapsed() / 1e6;
                part.restart();
                done = false;
                if (!revisor.checkText(text))
                    return;
                QDeadlineTimer deadline(30000);
                while (!done && !deadline.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                serviceMs = part.nsecsElapsed() / 1e6;
                part.restart();
                helper->showErrors(findings);
                QCoreApplication::processEvents(); // the marks go to the office
                markMs = part.nsecsElapsed() / 1e6;
            });
            std::printf("check to marks:    %.1f ms for %d findings of the local service (last round: page text "
                        "%.1f ms, service %.1f ms, marking %.1f ms)\n",
                        check.ms, int(findings.size()), readMs, serviceMs, markMs);
        }
        if (getRevisor()->login(QStringLiteral("bench"), QStringLiteral("bench+password"), 0))
            benchTyping(connection, *application, *helper);
        else
            std::printf("typing:            the login failed\n");
    }

    helper.reset();
    application.reset();
    OfficeFixture::closeDocument(frame);
    office.stop();
    service.terminate();
    service.waitForFinished(5000);
    return 0;
}
