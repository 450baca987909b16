#include "XDesktop.h"

#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QTest>

#include <csignal>

namespace {

const QString xdotool = QStringLiteral("xdotool");

QString number(int value)
{
    return QString::number(value);
}

} // namespace

XDesktop::XDesktop(const QString& display)
    : env(QProcessEnvironment::systemEnvironment())
{
    env.insert(QStringLiteral("DISPLAY"), display);
}

QStringList XDesktop::findWindows(const QStringList& criteria) const
{
    QByteArray found;
    // xdotool exits 1 when nothing matches; that is an empty answer here.
    run(xdotool, QStringList{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible")} + criteria, &found);
    return QString::fromLatin1(found).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString XDesktop::waitForWindow(const QStringList& criteria, const QStringList& known, int timeoutMillis) const
{
    QString window;
    QTest::qWaitFor([&] {
        for (const QString& candidate : findWindows(criteria)) {
            if (!known.contains(candidate)) {
                window = candidate;
                return true;
            }
        }
        return false;
    }, timeoutMillis);
    return window;
}

QRect XDesktop::geometry(const QString& window) const
{
    QByteArray shell;
    if (!run(xdotool, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}, &shell))
        return QRect();
    QRect rect;
    for (const QByteArray& line : shell.split('\n')) {
        const int equals = line.indexOf('=');
        const QByteArray key = line.left(equals);
        const int value = line.mid(equals + 1).toInt();
        if (key == "X")
            rect.moveLeft(value);
        else if (key == "Y")
            rect.moveTop(value);
        else if (key == "WIDTH")
            rect.setWidth(value);
        else if (key == "HEIGHT")
            rect.setHeight(value);
    }
    return rect;
}

QRect XDesktop::clientGeometry(const QString& window) const
{
    QByteArray info;
    if (!run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window}, &info))
        return QRect();
    QRect rect;
    for (const QByteArray& line : info.split('\n')) {
        const int colon = line.indexOf(':');
        const QByteArray key = line.left(colon).trimmed();
        const int value = line.mid(colon + 1).trimmed().toInt();
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

QMargins XDesktop::frameExtents(const QString& window) const
{
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const QByteArray value = property(window, QStringLiteral("_NET_FRAME_EXTENTS"));
    const QList<QByteArray> sides = value.split(',');
    if (sides.size() != 4)
        return QMargins();
    return QMargins(sides.at(0).trimmed().toInt(), sides.at(2).trimmed().toInt(), sides.at(1).trimmed().toInt(),
                    sides.at(3).trimmed().toInt());
}

QStringList XDesktop::windowStates(const QString& window) const
{
    QStringList states;
    for (const QByteArray& state : property(window, QStringLiteral("_NET_WM_STATE")).split(','))
        states.append(QString::fromLatin1(state.trimmed()));
    states.removeAll(QString());
    return states;
}

QByteArray XDesktop::property(const QString& window, const QString& name) const
{
    QByteArray line;
    run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name}, &line);
    const int equals = line.indexOf('=');
    return equals < 0 ? QByteArray() : line.mid(equals + 1).trimmed();
}

bool XDesktop::click(const QString& window, const QPoint& at) const
{
    return run(xdotool, {QStringLiteral("mousemove"), QStringLiteral("--window"), window, number(at.x()), number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
}

bool XDesktop::pressKeys(const QString& window, const QStringList& keys) const
{
    // Keys go to the focused window, as they do for a person; without a
    // window manager nobody else gives the focus.
    return run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
           && run(xdotool, QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + keys);
}

bool XDesktop::type(const QString& window, const QString& text) const
{
    return run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
           && run(xdotool, {QStringLiteral("type"), QStringLiteral("--"), text});
}

bool XDesktop::askToClose(const QString& window) const
{
    return run(QStringLiteral(ZELVO_WM_CLOSE_PATH), {window});
}

QImage XDesktop::screenshot(const QString& window) const
{
    QByteArray png;
    if (!run(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("png:-")}, &png))
        return QImage();
    return QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
}

QString XDesktop::keep(const QImage& picture, const QString& name)
{
    const QString path = QDir(artifactsPath()).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    picture.save(path);
    return path;
}

QString XDesktop::artifactsPath()
{
    return QStringLiteral(ZELVO_E2E_ARTIFACTS);
}

bool XDesktop::run(const QString& program, const QStringList& arguments, QByteArray* output) const
{
    ChildProcess process(SIGKILL);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
