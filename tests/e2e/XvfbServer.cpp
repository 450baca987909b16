#include "XvfbServer.h"

#include <QDeadlineTimer>

#include <csignal>

// SIGTERM lets Xvfb remove its lock file and socket; a kill would not.
XvfbServer::XvfbServer()
    : process(SIGTERM)
{
}


XvfbServer::~XvfbServer()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool XvfbServer::start(const QSize& screen)
{
    // -displayfd: Xvfb takes the first free display and writes its number.
    process.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                   QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!process.waitForStarted(10000)) {
        error = QStringLiteral("Xvfb does not start: %1").arg(process.errorString());
        return false;
    }
    QByteArray announced;
    const QDeadlineTimer deadline(30000);
    while (!announced.contains('\n') && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(int(deadline.remainingTime()));
        announced += process.readAllStandardOutput();
    }
    bool ok = false;
    const int number = announced.trimmed().toInt(&ok);
    if (!ok) {
        error = QStringLiteral("Xvfb announced no display: %1").arg(QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    displayName = QStringLiteral(":%1").arg(number);
    return true;
}
