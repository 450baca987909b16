#include "ControlReference.h"
#include "RecordReference.h"

#include "ExitCode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

bool write(const QDir& folder, const QString& name, const QString& markdown)
{
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(markdown.toUtf8()) < 0 || !file.flush()) {
        QTextStream(stderr) << "zelvo-reference: cannot write " << file.fileName() << ": " << file.errorString() << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: zelvo-reference FOLDER\n";
        return toInt(ExitCode::UsageError);
    }
    const QDir folder(arguments.at(1));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        QTextStream(stderr) << "zelvo-reference: cannot make " << folder.path() << '\n';
        return toInt(ExitCode::Failure);
    }
    const bool written = write(folder, QStringLiteral("control-commands.md"), ControlReference::markdown())
                         && write(folder, QStringLiteral("record-fields.md"), RecordReference::markdown());
    return toInt(written ? ExitCode::Success : ExitCode::Failure);
}
