#include "bridge/ClientHelper.h"
#include "client/Revisor.h"
#include "presentation/ContextShow.h"
#include "windows/DialogClient.h"

#include <QApplication>
#include <QTranslator>

#include <memory>

// Start-up of the tool window. The word-processor bridge is the base bridge for
// now: it watches the active window but recognises no editor yet, so the window
// says that no document was detected.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initUI();

    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/translations/revisor_zh_CN.qm")))
        app.installTranslator(translator);

    if (Revisor* revisor = getRevisor())
        revisor->setClient(QStringLiteral("client"), QStringLiteral("2.2"));

    auto bridge = std::make_unique<ClientHelper>();
    DialogClient window(nullptr);
    window.show();
    window.setClientHelper(bridge.get(), true);

    const int code = app.exec();
    bridge.reset();
    return code;
}
