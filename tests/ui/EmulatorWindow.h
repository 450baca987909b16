#pragma once

#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"

#include <QHostAddress>
#include <QImage>
#include <QTest>

// Starts the agent server on a free loopback port and puts the window on
// screen, where mouse clicks and grabs reach it. The window only connects to
// the server's signals, so that it may be built before the server listens.
inline bool startAndShow(ZelvoServer& server, ZelvoEmulator& window)
{
    if (!server.start(QHostAddress::LocalHost, 0))
        return false;
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Whether nothing at all would show of the image over any background.
inline bool isTransparent(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(argb.pixel(x, y)) != 0)
                return false;
        }
    }
    return true;
}
