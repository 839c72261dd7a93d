// Shows the error popup filled with three findings (one suggestion with a "*",
// one finding without suggestions) next to the about box, in Chinese, for a
// look by eye or a screenshot under Xvfb. Quits after the given seconds.
//
// usage: PopupPreview [seconds]

#include "presentation/ContextShow.h"
#include "windows/DialogAbout.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initUI();

    CHECK_DATAS datas;
    auto add = [&](const char* text, int type, std::vector<CDataItemValue> suggestions, bool withSuggestions) {
        auto data = std::make_shared<CCheckData>();
        data->text = text;
        data->type = type;
        if (withSuggestions)
            data->suggestions = std::move(suggestions);
        datas.push_back(data);
    };
    add("反映", ERROR_TYPE_TONG_YIN, {{"反应", 3}, {"返映", 0}}, true);
    add("截止到目前为止", ERROR_TYPE_SKIP, {{"截止到目前*", 12}}, true);
    add("敏感", ERROR_TYPE_MIN_GAN_CI | ERROR_TYPE_XING_JIN, {}, false);

    QString text = QStringLiteral("大家的反映很积极，截止到目前为止没有敏感的问题。");
    ContextShow popup;
    popup.showCheckData(datas, text);
    popup.move(120, 120);
    popup.show();

    DialogAbout about;
    about.move(520, 120);
    about.show();

    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 5;
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
