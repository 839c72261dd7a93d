#include "OfficeConnection.h"
#include "OfficeFixture.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

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

CHECK_DATAS findingsOf(const QStringList& words)
{
    CHECK_DATAS findings;
    for (const QString& word : words) {
        auto finding = std::make_shared<CCheckData>();
        finding->text = word.toStdString();
        finding->spans = {{0, int(word.size()) - 1}};
        findings.push_back(finding);
    }
    return findings;
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
    const CHECK_DATAS present = findingsOf(words);
    const CHECK_DATAS missing = findingsOf(absent);
    const Figure marked = measure(connection, rounds, caretAtStart, [&] { helper->showErrors(present); });
    const Figure page = measure(connection, rounds, caretAtStart, [&] { helper->showErrors(missing); });
    const int count = int(words.size());
    std::printf("marking:           %.1f ms, %.0f messages for a page with %d findings\n", marked.ms, marked.messages,
                count);
    std::printf("  the page alone:  %.1f ms, %.0f messages (the same pass, no finding on the page)\n", page.ms,
                page.messages);
    std::printf("  an occurrence:   %.2f ms, %.1f messages (the difference over %d, the office's layout of the marks "
                "at the end of the pass included)\n",
                (marked.ms - page.ms) / count, (marked.messages - page.messages) / count, count);
    // The calls the pass makes for each occurrence, alone: the range, its
    // text and formatting read, the mark written, inside one undo step as in
    // the pass (whose closing, with the office's layout, is not timed).
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
                if (range && range->text() == word && range->font())
                    range->setFont({automation::UnderlineWavyHeavy, automation::MarkColor});
                kept.push_back(range);
            }
        });
    close();
    caretAtStart();
    std::printf("  its calls alone: %.2f ms, %.1f messages (range, text, formatting read, mark written)\n",
                calls.ms / count, calls.messages / count);

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
        connection, rounds, [&] { helper->showErrors(present); }, [&] { helper->clearErrors(); });
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
                markMs = part.nsecsElapsed() / 1e6;
            });
            std::printf("check to marks:    %.1f ms for %d findings of the local service (last round: page text "
                        "%.1f ms, service %.1f ms, marking %.1f ms)\n",
                        check.ms, int(findings.size()), readMs, serviceMs, markMs);
        }
    }

    helper.reset();
    application.reset();
    OfficeFixture::closeDocument(frame);
    office.stop();
    service.terminate();
    service.waitForFinished(5000);
    return 0;
}
