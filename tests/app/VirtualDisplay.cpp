#include "VirtualDisplay.h"

#include <QElapsedTimer>
#include <QImage>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter
{
    void operator()(void* pointer) const { std::free(pointer); }
};

template<typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

} // namespace

bool VirtualDisplay::start()
{
    // Xvfb picks a free display number itself and writes it to stdout.
    server.start(QStringLiteral("Xvfb"),
                 {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    if (!server.waitForStarted(10000))
        return false;
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.endsWith('\n') && clock.elapsed() < 30000 && server.state() == QProcess::Running) {
        server.waitForReadyRead(1000);
        number += server.readAllStandardOutput();
    }
    bool ok = false;
    number.trimmed().toInt(&ok);
    if (!ok)
        return false;
    displayName = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return true;
}

QProcessEnvironment VirtualDisplay::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("XAUTHORITY"));
    return environment;
}

QStringList VirtualDisplay::windows(qint64 pid, const QString& title) const
{
    QByteArray output;
    run(QStringLiteral("xdotool"),
        {"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name", title}, &output);
    return QString::fromLatin1(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect VirtualDisplay::geometry(const QString& window) const
{
    QByteArray output;
    if (!run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, &output))
        return {};
    QRect rect;
    for (const QByteArray& line : output.split('\n')) {
        const int value = line.mid(line.indexOf('=') + 1).toInt();
        if (line.startsWith("X="))
            rect.moveLeft(value);
        else if (line.startsWith("Y="))
            rect.moveTop(value);
        else if (line.startsWith("WIDTH="))
            rect.setWidth(value);
        else if (line.startsWith("HEIGHT="))
            rect.setHeight(value);
    }
    return rect;
}

bool VirtualDisplay::type(const QString& window, const QStringList& keys) const
{
    return run(QStringLiteral("xdotool"),
               QStringList{"windowfocus", window, "key", "--delay", "60"} + keys);
}

bool VirtualDisplay::requestClose(const QString& window) const
{
    bool ok = false;
    const xcb_window_t id = window.toUInt(&ok);
    if (!ok)
        return false;
    xcb_connection_t* connection = xcb_connect(displayName.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = internAtom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = internAtom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        connection, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    xcb_disconnect(connection);
    return !error;
}

QImage VirtualDisplay::grab(const QString& window) const
{
    QByteArray png;
    if (!run(QStringLiteral("import"), {"-window", window, "png:-"}, &png))
        return {};
    return QImage::fromData(png, "PNG");
}

bool VirtualDisplay::run(const QString& program, const QStringList& arguments, QByteArray* output) const
{
    ChildProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
