#include "ArtworkCatalogue.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>

// Writes every picture of the emulator's resources into OUTDIR.
int main(int argc, char** argv)
{
    // Drawing needs no screen; keep the tool usable on a build machine.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QTextStream err(stderr);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        err << "usage: zelvo-artwork OUTDIR\n";
        return 2;
    }
    const QDir outDir(arguments.at(1));
    if (!QDir().mkpath(outDir.path())) {
        err << "zelvo-artwork: cannot create " << outDir.path() << '\n';
        return 1;
    }

    QTextStream out(stdout);
    for (const ArtworkPiece& piece : artworkCatalogue()) {
        const QString path = outDir.filePath(piece.fileName);
        if (!renderPiece(piece).save(path, nullptr, piece.fileName.endsWith(".jpg") ? 88 : -1)) {
            err << "zelvo-artwork: cannot write " << path << '\n';
            return 1;
        }
        out << path << '\n';
    }
    return 0;
}
