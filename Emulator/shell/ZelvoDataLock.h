#pragma once

#include <QString>
#include <QtGlobal>

// One emulator per data folder: two would overwrite each other's token and
// remove each other's files at exit. The lock is an advisory lock on an open
// descriptor of DIR/lock, which the kernel releases with the process, so a
// process number seen again (process 1 of a restarted container) or another
// host name never keeps a dead emulator's folder. The file still names the
// holder's process and host, in QLockFile's lines, for people to read.
class ZelvoDataLock final
{
    Q_DISABLE_COPY_MOVE(ZelvoDataLock)

public:
    enum class Outcome { Taken, TakenOver, Refused };

    explicit ZelvoDataLock(const QString& directory);
    // Removes the lock file while it is still this run's.
    ~ZelvoDataLock();

    // Refused with the reason in *message when another emulator holds the
    // folder or the lock is no file at all (a directory, a link, a FIFO);
    // TakenOver with what was left there (empty, garbage, a gone
    // process's) in *message.
    Outcome lock(QString* message);
    // After the folder was removed and made again: the lock taken anew,
    // unless another emulator has taken the folder meanwhile; what there is
    // to say about it in *message.
    void keep(QString* message);
    // The lock file is this run's, or there is no lock to keep.
    bool isKept() const { return descriptor < 0 || holdsPath(); }

private:
    bool holdsPath() const;

    QString path;
    int descriptor = -1;
};
