#include "XvfbServer.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

// SIGTERM lets Xvfb remove its lock file and socket; a kill would not.
XvfbServer::XvfbServer()
    : process(SIGTERM)
    , windowManager(SIGTERM)
{
}


XvfbServer::~XvfbServer()
{
    if (windowManager.state() != QProcess::NotRunning) {
        windowManager.terminate();
        windowManager.waitForFinished(10000);
    }
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

bool XvfbServer::startWindowManager()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    windowManager.setProcessEnvironment(environment);
    windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    windowManager.start(QStringLiteral("openbox"), QStringList());
    if (!windowManager.waitForStarted(10000)) {
        error = QStringLiteral("openbox does not start: %1").arg(windowManager.errorString());
        return false;
    }
    // A window manager announces itself on the root window once it manages.
    const bool managing = QTest::qWaitFor([&] {
        QProcess query;
        query.setProcessEnvironment(environment);
        query.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        return query.waitForFinished(10000) && query.readAllStandardOutput().contains("window id");
    }, 30000);
    if (!managing)
        error = QStringLiteral("openbox does not manage the display");
    return managing;
}
