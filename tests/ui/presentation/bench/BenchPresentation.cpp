// Timings of the error popup: filling it with many findings, and the character
// diff over many suggestion/wrong-text pairs. Prints figures; not run by ctest.
//
// usage: QT_QPA_PLATFORM=offscreen BenchPresentation

#include "presentation/ContextShow.h"
#include "presentation/DiffEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

const QString kHanzi = QStringLiteral(
    "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行"
    "学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然"
    "前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无"
    "系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组"
    "见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增"
    "争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八"
    "离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验"
    "连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯"
    "院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严");
QString randomWord(QRandomGenerator& random, int minLength, int maxLength)
{
    QString word;
    const int n = random.bounded(minLength, maxLength + 1);
    for (int i = 0; i < n; ++i)
        word += kHanzi.at(random.bounded(kHanzi.size()));
    return word;
}

// A suggestion that differs from the wrong word in one or two characters, the
// way the checking service's suggestions do.
QString suggestionFor(QRandomGenerator& random, const QString& wrong)
{
    QString s = wrong;
    const int changes = random.bounded(1, 3);
    for (int i = 0; i < changes; ++i)
        s[random.bounded(s.size())] = kHanzi.at(random.bounded(kHanzi.size()));
    if (random.bounded(10) == 0)
        s.insert(random.bounded(s.size() + 1), QLatin1Char('*'));
    return s;
}

// CPU time of this thread, in milliseconds: unaffected by other load on the machine.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QRandomGenerator random(2026);

    // 1. The popup filled with 200 findings whose wrong texts occur in a 1 000-character text.
    QString text;
    CHECK_DATAS datas;
    while (datas.size() < 200) {
        const QString wrong = randomWord(random, 2, 4);
        auto data = std::make_shared<CCheckData>();
        data->text = wrong.toStdString();
        data->type = 1 << random.bounded(6);
        std::vector<CDataItemValue> suggestions;
        for (int i = random.bounded(0, 4); i > 0; --i)
            suggestions.emplace_back(suggestionFor(random, wrong).toStdString(), random.bounded(0, 50));
        if (random.bounded(8) != 0)
            data->suggestions = suggestions;
        datas.push_back(data);
        text += wrong;
    }
    while (text.size() < 1000)
        text += randomWord(random, 1, 1);
    text.truncate(1000);

    ContextShow popup;
    std::vector<double> fill;
    std::vector<double> fillCpu;
    std::vector<double> fillAndShow;
    for (int round = 0; round < 11; ++round) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        popup.showCheckData(datas, text);
        fill.push_back(timer.nsecsElapsed() / 1e6);
        fillCpu.push_back(cpuMs() - cpuStart);
        popup.show();
        QCoreApplication::processEvents();
        fillAndShow.push_back(timer.nsecsElapsed() / 1e6);
        popup.hide();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::printf("showCheckData, 200 findings, 1000-character text: median %.2f ms wall (%.2f ms CPU), best %.2f ms; "
                "fill, show and lay out: median %.2f ms wall\n",
                median(fill), median(fillCpu), *std::min_element(fill.begin(), fill.end()), median(fillAndShow));

    // 1b. The usual call from the host: a document's 200 findings against the
    // 1 000-character text at the caret, which holds 20 of them.
    QString caretText;
    for (size_t i = 0; i < datas.size(); i += 10)
        caretText += QString::fromStdString(datas[i]->text) + randomWord(random, 30, 40);
    caretText.truncate(1000);
    std::vector<double> typical;
    for (int round = 0; round < 11; ++round) {
        const double cpuStart = cpuMs();
        popup.showCheckData(datas, caretText);
        typical.push_back(cpuMs() - cpuStart);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    std::printf("showCheckData, 200 findings of which the 1000-character text holds 20: median %.2f ms CPU\n",
                median(typical));

    // 2. The diff of 10 000 suggestion/wrong-text pairs.
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    for (int i = 0; i < 10000; ++i) {
        const QString wrong = randomWord(random, 1, 4);
        const QString suggestion = suggestionFor(random, wrong);
        pairs.emplace_back(std::u16string(reinterpret_cast<const char16_t*>(suggestion.utf16()), suggestion.size()),
                           std::u16string(reinterpret_cast<const char16_t*>(wrong.utf16()), wrong.size()));
    }
    std::vector<double> diffTimes;
    size_t runs = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (const auto& [suggestion, wrong] : pairs) {
            const DiffEngine engine; // one engine per row, as the list builds them
            runs += engine.diff_main(suggestion, wrong, true).size();
        }
        diffTimes.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("diff of 10000 suggestion/wrong-text pairs: median %.2f ms (%.2f us per pair; %zu runs)\n",
                median(diffTimes), median(diffTimes) * 1000 / pairs.size(), runs / diffTimes.size());
    return 0;
}
