#include "Wiring.h"
#include "crash/CrashReporter.h"
#include "presentation/ContextShow.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QTimer>
#include <QWidget>
#include <QTranslator>

// Start-up and shutdown of Revisor, in this order: the crash reporter first,
// then the application, the library's and the host's catalogues, the service
// client's identity, the editor bridge and the tool window joined to it; on the
// way out the bridge goes first, then the crash reporter, the window and the
// application. The process exits with the event loop's code.

Q_LOGGING_CATEGORY(lcStartup, "quillet.startup", QtInfoMsg)

int main(int argc, char* argv[])
{
    installCrashReporter("Quillet");

    QApplication app(argc, argv);
    initUI();

    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/translations/revisor_zh_CN.qm")))
        app.installTranslator(translator);
    else
        delete translator;

    QuilletWiring wiring = wireQuillet();
    DialogClient& window = *wiring.window;
    // For the start-up benchmark and the headless demo of scripts/run.sh
    // (QT_LOGGING_RULES="quillet.startup.debug=true"): when the window is up,
    // and where its buttons are.
    QTimer::singleShot(0, &app, [&window] {
        auto at = [&window](const char* name) {
            const QWidget* button = window.findChild<QWidget*>(QString::fromLatin1(name));
            const QPoint p = button ? button->mapTo(&window, button->rect().center()) : QPoint(-1, -1);
            return QStringLiteral("%1 %2,%3").arg(QLatin1String(name)).arg(p.x()).arg(p.y());
        };
        qCDebug(lcStartup).noquote() << "tool window shown;" << at("btnCheckCurrentPage") << at("btnNext")
                                     << at("btnRemoveAll");
    });

    const int code = app.exec();
    wiring.bridge.reset();
    uninstallCrashReporter();
    wiring.window.reset();
    return code;
}
