#include "ZiTool.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zitool"));
    return toInt(ZiTool().run(QCoreApplication::arguments()));
}
