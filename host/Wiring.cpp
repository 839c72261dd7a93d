#include "Wiring.h"
#include "bridge/EditorBridge.h"
#include "client/Revisor.h"

QuilletWiring wireQuillet()
{
    if (Revisor* revisor = getRevisor())
        revisor->setClient(QStringLiteral("client"), QStringLiteral("2.2"));

    QuilletWiring wiring;
    wiring.bridge = createEditorBridge();
    wiring.window = std::make_unique<DialogClient>(nullptr);
    wiring.window->show();
    wiring.window->setClientHelper(wiring.bridge.get(), true);
    return wiring;
}
