#pragma once

#include <QSet>
#include <QString>

// Where one emulator keeps its agents' images: "Zelvo" in the user's
// pictures directory, or "images" in its data directory, one directory per
// agent hash. It remembers whose directories this run made or used, so
// that a reset in the shared pictures directory deletes only those.
class ZelvoImageStore final
{
public:
    ZelvoImageStore() = default;

    // With a data directory, the agents' image directories live in its
    // "images" folder instead, so that emulators side by side never share
    // a file.
    void setDataDirectory(const QString& path);

    // The absolute path of the agent's image directory, made when missing
    // (and the data directory with it, 0700, should it have gone). Empty
    // (and logged) when the hash cannot name a directory of its own there,
    // or, with *writeError set to why, when it cannot be made.
    QString agentImageDirectory(const QString& agentHash, QString* writeError);
    // The same path, checked the same way but not made: for reading.
    QString agentImagePath(const QString& agentHash) const;

    // Deletes the stored images: the whole store of a data directory; in
    // the user's pictures directory, which other runs share, only the
    // directories of the agents this run has handed one to. Never through
    // a symbolic link.
    void removeAgentImages();

private:
    QString base() const;
    QString folder() const;

    QString dataDirectory;
    QSet<QString> agentsSeen;
};
