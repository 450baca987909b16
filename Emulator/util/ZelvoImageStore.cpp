#include "util/ZelvoImageStore.h"

#include "util/ZelvoUtil.h"
#include "ZelvoControlToken.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstring>

void ZelvoImageStore::setDataDirectory(const QString& path)
{
    dataDirectory = path;
}

QString ZelvoImageStore::base() const
{
    return dataDirectory.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) : dataDirectory;
}

QString ZelvoImageStore::folder() const
{
    return dataDirectory.isEmpty() ? QStringLiteral("Zelvo") : QStringLiteral("images");
}

QString ZelvoImageStore::agentImageDirectory(const QString& agentHash, QString* writeError)
{
    QString path = agentImagePath(agentHash);
    if (path.isEmpty())
        return path;
    if (!dataDirectory.isEmpty() && !ZelvoControlToken::makePrivateDirectory(dataDirectory, writeError))
        return QString();
    if (!QDir().mkpath(path)) {
        *writeError = QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        qCWarning(zelvoContentLog, "\033[31mZelvoImageStore::agentImageDirectory %s\033[0m", qUtf8Printable(*writeError));
        return QString();
    }
    agentsSeen.insert(agentHash);
    return path;
}

QString ZelvoImageStore::agentImagePath(const QString& agentHash) const
{
    const QString pictures = base();
    // The hash names the directory: it must be one entry of the store,
    // never a path that leads elsewhere.
    const QString relative = folder() + QLatin1Char('/') + agentHash;
    if (pictures.isEmpty() || agentHash.isEmpty() || !ZelvoUtil::isFileNamePart(agentHash)) {
        qCDebug(zelvoContentLog).nospace() << "\033[31mZelvoUtil::agentImageDirectory REFUSED AGENT HASH "
                                    << agentHash << ", NO IMAGE DIRECTORY!!!\033[0m";
        return QString();
    }
    // A link planted in the store, checked before anything is made or read
    // through it, would send the agent's images elsewhere.
    const QDir store(pictures);
    if (!ZelvoUtil::isLinkFree(store.filePath(folder())) || !ZelvoUtil::isLinkFree(store.filePath(relative)))
        return QString();
    return store.absoluteFilePath(relative);
}

void ZelvoImageStore::removeAgentImages()
{
    const QDir images(QDir(base()).filePath(folder()));
    if (ZelvoUtil::isLinkFree(images.path()) && images.exists()) {
        const QStringList agents = dataDirectory.isEmpty()
            ? agentsSeen.values()
            : images.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        // rm() removes a link in the folder itself and never follows it.
        for (const QString& agent : agents)
            ZelvoUtil::rm(images.filePath(agent));
    }
    agentsSeen.clear();
}
