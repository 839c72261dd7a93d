#include "client/Revisor.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (Revisor* revisor = getRevisor())
        revisor->setClient(QStringLiteral("client"), QStringLiteral("2.2"));
    return app.exec();
}
