// Prints what marking costs over COM against the stand-in word processor in
// its own process: IDispatch calls (Invoke, and GetIDsOfNames the first time a
// member is used) and time, for a page pass with few and with many
// occurrences, so that the share of one occurrence shows; then a step to the
// next mark and a clear.
//
//   wine-run.sh BenchComCalls.exe [occurrences]   (default 40)
#include "ComAutomation.h"
#include "StandInProcess.h"
#include "bridge/WordHelper.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// One finding per occurrence of wrong in the page's text, as the service sends them.
CHECK_DATAS findings(const QString& pageText, const QString& wrong)
{
    CHECK_DATAS result;
    for (int at = pageText.indexOf(wrong); at >= 0; at = pageText.indexOf(wrong, at + 1)) {
        auto data = std::make_shared<CCheckData>();
        data->text = wrong.toStdString();
        data->type = 0x01;
        data->spans.emplace_back(at, at + wrong.size() - 1);
        data->suggestions = std::vector<CDataItemValue>{CDataItemValue("已经", 1)};
        result.push_back(data);
    }
    return result;
}

struct Pass
{
    long invokes = 0;
    long lookups = 0;
    double ms = 0;
};

// Marks a page holding `occurrences` times the wrong word; the application's
// session is fresh, so the first pass pays the name lookups.
Pass markPage(int occurrences, const QString& folder, bool warm)
{
    QString text;
    for (int i = 0; i < occurrences; ++i)
        text += QStringLiteral("他以经走了。");
    text += QStringLiteral("\n");
    const QString file = folder + QStringLiteral("/bench.txt");
    QFile out(file);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(text.toUtf8());
    out.close();

    StandInProcess standIn;
    if (!standIn.start({QStringLiteral("--text"), file, QStringLiteral("--chars-per-line"), QStringLiteral("60"),
                        QStringLiteral("--lines-per-page"), QStringLiteral("400")})) {
        std::fprintf(stderr, "the stand-in did not start\n");
        return {};
    }
    auto app = comword::ComApplication::fromWindow(standIn.documentWindow());
    if (!app)
        return {};
    WordHelper helper;
    helper.attach(standIn.documentWindow(), app);
    if (warm) {
        // Every member used once: the lookups are paid before counting.
        helper.showErrors(findings(helper.getCurrentPageText(), QStringLiteral("以经")));
        helper.clearErrors();
    }
    const CHECK_DATAS found = findings(helper.getCurrentPageText(), QStringLiteral("以经"));
    app->session().resetCounts();
    QElapsedTimer timer;
    timer.start();
    helper.showErrors(found);
    Pass pass;
    pass.ms = timer.nsecsElapsed() / 1e6;
    pass.invokes = app->session().counts().invokes;
    pass.lookups = app->session().counts().nameLookups;

    app->session().resetCounts();
    timer.restart();
    helper.onNext();
    std::printf("  step to the next mark: %ld calls, %.1f ms\n", app->session().counts().invokes,
                timer.nsecsElapsed() / 1e6);
    app->session().resetCounts();
    timer.restart();
    helper.clearErrors();
    std::printf("  clear: %ld calls, %.1f ms\n", app->session().counts().invokes, timer.nsecsElapsed() / 1e6);
    standIn.command(QStringLiteral("quit"));
    return pass;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const int many = argc > 1 ? std::max(2, std::atoi(argv[1])) : 40;
    QTemporaryDir dir;

    std::printf("page with 1 occurrence, cold session:\n");
    const Pass cold = markPage(1, dir.path(), false);
    std::printf("  mark: %ld Invoke + %ld GetIDsOfNames, %.1f ms\n", cold.invokes, cold.lookups, cold.ms);
    std::printf("page with 1 occurrence, warm session:\n");
    const Pass one = markPage(1, dir.path(), true);
    std::printf("  mark: %ld Invoke + %ld GetIDsOfNames, %.1f ms\n", one.invokes, one.lookups, one.ms);
    std::printf("page with %d occurrences, warm session:\n", many);
    const Pass lots = markPage(many, dir.path(), true);
    std::printf("  mark: %ld Invoke + %ld GetIDsOfNames, %.1f ms\n", lots.invokes, lots.lookups, lots.ms);
    std::printf("IDispatch calls per marked occurrence: %.2f (%.2f ms each)\n",
                double(lots.invokes - one.invokes) / (many - 1), (lots.ms - one.ms) / (many - 1));
    return 0;
}
