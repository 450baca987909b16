#pragma once

#include "ZelvoTrace.h"

#include <QObject>
#include <QString>

#include <memory>

class QFile;
class QTimer;
class ZelvoTraceParser;

// Reads a trace file a piece at a turn of the event loop, so that one of
// tens of megabytes never holds the window, the agents or the control
// channel while it is parsed. Reading is the machine's work, not the
// device's: it takes real time whatever the device clock does.
class ZelvoTraceReader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTraceReader)

public:
    explicit ZelvoTraceReader(QObject* parent = nullptr);
    ~ZelvoTraceReader() override;

    // Starts reading path, of at most maxBytes; false with *error when it
    // cannot be opened. One file at a time.
    bool start(const QString& path, qint64 maxBytes, QString* error);
    // Ends a read under way with finished(false).
    void cancel();
    bool isReading() const { return file != nullptr; }

    const QString& errorString() const { return failure; }
    ZelvoTrace::Readings takeReadings() { return std::move(readings); }

signals:
    // Once per start(); errorString() names the path and the cause when
    // ok is false.
    void finished(bool ok);

private:
    void readPiece();
    void close();
    void end(const QString& error);

    std::unique_ptr<QFile> file;
    std::unique_ptr<ZelvoTraceParser> parser;
    QTimer* step = nullptr;
    QString path;
    qint64 maxBytes = 0;
    qint64 read = 0;
    QString failure;
    ZelvoTrace::Readings readings;
};
