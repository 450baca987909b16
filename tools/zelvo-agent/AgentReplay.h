#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QTcpSocket;
class ZelvoFrameReader;

// zelvo-agent replay FILE [--speed F] [--expect-display DIR]: sends the
// agent frames of a recorded session to an emulator with their recorded
// spacing, each recorded connection on a connection of its own (each agent
// on one, for a recording without connection numbers), and sets the
// events that come back beside the recorded ones. With a display directory,
// the display after each content message is compared with DIR/content-N.png
// (written there when missing), and a difference picture is written beside
// each one that differs.
class AgentReplay final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AgentReplay)

public:
    struct Options
    {
        QString file;
        double speed = 1;
        QString displayDirectory;
        QString host;
        quint16 agentPort = 0;
        quint16 controlPort = 0;
        QString tokenFile;
    };

    // Parses "replay FILE [--speed F] [--expect-display DIR] [--port P]
    // [--control-port P]"; a non-empty text is a usage error.
    static QString parse(const QStringList& arguments, Options* options);

    explicit AgentReplay(const Options& options, QObject* parent = nullptr);
    ~AgentReplay() override;

    // Runs to the end; the exit code: 0 the same events and display, 1 a
    // difference or an unreadable recording, 3 no emulator.
    int run();

private:
    struct Frame
    {
        qint64 millis = 0;
        QString agent;
        // The recorded connection, or the agent where none is recorded.
        QString link;
        QByteArray payload;
        int contentId = -1;
        bool content = false;
    };

    bool load(QString* error);
    bool connectAgents(QString* error);
    void waitUntil(qint64 millis);
    void readEvents(QTcpSocket* socket, ZelvoFrameReader* reader, bool listen);
    bool checkDisplay(const Frame& frame, int number);
    int compareEvents() const;

    Options options;
    QVector<Frame> frames;
    QStringList recordedEvents;
    QStringList receivedEvents;
    qint64 lastEventMillis = 0;
    QHash<QString, QTcpSocket*> sockets;
    QElapsedTimer clock;
    bool displayDiffers = false;
};
