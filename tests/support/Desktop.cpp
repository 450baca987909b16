#include "Desktop.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const QString xdotool = QStringLiteral("xdotool");

struct FreeDeleter
{
    void operator()(void* pointer) const { std::free(pointer); }
};

template<typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

} // namespace

Desktop::Desktop() = default;

Desktop::~Desktop()
{
    // The window manager goes first, while its display is still there.
    windowManager.stop();
    xvfb.stop();
}

bool Desktop::start(const QSize& screen, WindowManager manager)
{
    // -displayfd: Xvfb takes the first free display and writes its number.
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()), QStringLiteral("-nolisten"),
                QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!xvfb.waitForStarted(10000)) {
        error = QStringLiteral("Xvfb does not start: %1").arg(xvfb.errorString());
        return false;
    }
    QByteArray announced;
    const QDeadlineTimer deadline(30000);
    while (!announced.contains('\n') && !deadline.hasExpired() && xvfb.state() == QProcess::Running) {
        xvfb.waitForReadyRead(int(deadline.remainingTime()));
        announced += xvfb.readAllStandardOutput();
    }
    bool ok = false;
    const int number = announced.trimmed().toInt(&ok);
    if (!ok) {
        error = QStringLiteral("Xvfb announced no display: %1").arg(QString::fromLocal8Bit(xvfb.readAllStandardError()));
        return false;
    }
    displayName = QStringLiteral(":%1").arg(number);
    return manager == WindowManager::None || startWindowManager();
}

bool Desktop::startWindowManager()
{
    windowManager.setProcessEnvironment(environment());
    windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!windowManager.waitForStarted(10000)) {
        error = QStringLiteral("openbox does not start: %1").arg(windowManager.errorString());
        return false;
    }
    // wmctrl answers once a window manager has taken the screen.
    const bool managed = QTest::qWaitFor([this] {
        return windowManager.state() == QProcess::Running && run(QStringLiteral("wmctrl"), {QStringLiteral("-m")});
    }, 30000);
    if (!managed)
        error = QStringLiteral("openbox does not manage the screen");
    return managed;
}

QProcessEnvironment Desktop::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), displayName);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("XAUTHORITY"));
    return environment;
}

QStringList Desktop::findWindows(const QStringList& criteria) const
{
    QByteArray found;
    // xdotool exits 1 when nothing matches; that is an empty answer here.
    // A search can stall while windows come and go; callers wait for a
    // window in a loop, so a stalled one is cut short and asked again.
    run(xdotool, QStringList{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible")} + criteria,
        &found, 5000);
    return QString::fromLatin1(found).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList Desktop::windows(qint64 pid, const QString& title) const
{
    return findWindows({QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), title});
}

QString Desktop::waitForWindow(const QStringList& criteria, const QStringList& known, int timeoutMillis) const
{
    QString window;
    const bool found = QTest::qWaitFor([&] {
        for (const QString& candidate : findWindows(criteria)) {
            if (!known.contains(candidate)) {
                window = candidate;
                return true;
            }
        }
        return false;
    }, timeoutMillis);
    return found ? window : QString();
}

QRect Desktop::geometry(const QString& window) const
{
    // xdotool reports the frame's place under a window manager; xwininfo
    // the client area's.
    QByteArray info;
    if (!run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window}, &info))
        return QRect();
    QRect rect;
    for (const QByteArray& line : info.split('\n')) {
        const QByteArray key = line.left(line.indexOf(':')).trimmed();
        const int value = line.mid(line.indexOf(':') + 1).trimmed().toInt();
        if (key == "Absolute upper-left X")
            rect.moveLeft(value);
        else if (key == "Absolute upper-left Y")
            rect.moveTop(value);
        else if (key == "Width")
            rect.setWidth(value);
        else if (key == "Height")
            rect.setHeight(value);
    }
    return rect;
}

QMargins Desktop::frameExtents(const QString& window) const
{
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const QList<QByteArray> sides = property(window, QStringLiteral("_NET_FRAME_EXTENTS")).split(',');
    if (sides.size() != 4)
        return QMargins();
    return QMargins(sides.at(0).trimmed().toInt(), sides.at(2).trimmed().toInt(), sides.at(1).trimmed().toInt(),
                    sides.at(3).trimmed().toInt());
}

QStringList Desktop::windowStates(const QString& window) const
{
    QStringList states;
    for (const QByteArray& state : property(window, QStringLiteral("_NET_WM_STATE")).split(','))
        states.append(QString::fromLatin1(state.trimmed()));
    states.removeAll(QString());
    return states;
}

QByteArray Desktop::property(const QString& window, const QString& name) const
{
    QByteArray line;
    run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name}, &line);
    const int equals = line.indexOf('=');
    return equals < 0 ? QByteArray() : line.mid(equals + 1).trimmed();
}

bool Desktop::click(const QString& window, const QPoint& at) const
{
    const QRect area = geometry(window);
    if (area.isNull())
        return false;
    const QPoint onScreen = area.topLeft() + at;
    return run(xdotool, {QStringLiteral("mousemove"), QString::number(onScreen.x()), QString::number(onScreen.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
}

bool Desktop::move(const QString& window, const QPoint& to) const
{
    return run(xdotool, {QStringLiteral("windowmove"), QStringLiteral("--sync"), window, QString::number(to.x()),
                         QString::number(to.y())});
}

bool Desktop::pressKeys(const QString& window, const QStringList& keys) const
{
    // Keys go to the focused window, as they do for a person; without a
    // window manager nobody else gives the focus.
    return run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
           && run(xdotool, QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + keys);
}

bool Desktop::type(const QString& window, const QString& text) const
{
    return run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
           && run(xdotool, {QStringLiteral("type"), QStringLiteral("--"), text});
}

bool Desktop::askToClose(const QString& window) const
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
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = internAtom(connection, "WM_PROTOCOLS");
    message.data.data32[0] = internAtom(connection, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        connection, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    const XcbReply<xcb_generic_error_t> failed(xcb_request_check(connection, cookie));
    xcb_disconnect(connection);
    return !failed;
}

QImage Desktop::screenshot(const QString& window) const
{
    QByteArray png;
    if (!run(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("png:-")}, &png))
        return QImage();
    return QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
}

QString Desktop::keep(const QImage& picture, const QString& name)
{
    const QString path = QDir(artifactsPath()).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return picture.save(path) ? path : QString();
}

QString Desktop::artifactsPath()
{
    return QStringLiteral(ZELVO_TEST_ARTIFACTS);
}

bool Desktop::run(const QString& program, const QStringList& arguments, QByteArray* output, int timeoutMillis) const
{
    ChildProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMillis))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
