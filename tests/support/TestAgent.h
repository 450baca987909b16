#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTcpSocket>

class ZelvoServer;

// An agent's end of a real loopback connection. It frames what it sends
// and cuts what the emulator sends into frames with its own reading of the
// wire format (4-byte big-endian length, then the payload), so that tests
// see exactly what an agent on the glasses would. Frames are cut only when
// asked for, so that a test may read the raw bytes from `socket` instead.
class TestAgent final
{
    Q_DISABLE_COPY_MOVE(TestAgent)

public:
    explicit TestAgent(quint16 port);
    // An agent of this server; its content calls wait until the server has
    // relayed what they sent.
    explicit TestAgent(const ZelvoServer& server);

    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    bool waitForConnected(int timeoutMillis = 5000) { return socket.waitForConnected(timeoutMillis); }

    void send(const QByteArray& bytes);
    void sendFrame(const QByteArray& payload);
    void sendAction(const QJsonObject& action);
    void close() { socket.disconnectFromHost(); }
    // Ends the connection with a TCP reset instead of the orderly close.
    void reset();

    // Every whole frame received so far, in order.
    const QList<QByteArray>& frames();
    // Waits until at least `count` frames have come; false when they do not.
    bool waitForFrames(int count, int timeoutMillis = 5000);
    // The frames that came before the marker of waitForAllSent(), taken out.
    QList<QByteArray> takeEvents();

    // True once every agent is connected and the server serves each of them.
    static bool waitUntilServed(const ZelvoServer& server, const QList<TestAgent*>& agents);
    // Broadcasts an event of kind 0, which the emulator itself never sends,
    // the way the window sends its events, and waits until every agent has
    // it: whatever was sent before it has then arrived too. Returns false
    // when it does not come.
    static bool waitForAllSent(ZelvoServer& server, const QList<TestAgent*>& agents);

    static QJsonObject message(const QByteArray& frame);
    static int eventType(const QByteArray& frame);
    static QJsonArray eventValues(const QByteArray& frame);

    // The actions an agent sends to configure itself and show content.
    // Built on a server, each returns once the server has relayed the
    // action: the window's slot, connected before any test spy, has then
    // run to its end; a configuration once its pictures are stored and
    // recorded. Image payloads are the files' bytes; they travel in
    // Base64.
    bool setPersistingTimes(int minMillis, int maxMillis);
    bool configure(const QString& hash, const QList<QByteArray>& payloads);
    bool show(const QString& hash, int contentId, const QString& layId, const QStringList& imageIds,
              const QStringList& texts);

    QTcpSocket socket;

private:
    template<typename Signal>
    bool sendAndWait(Signal relayed, const QJsonObject& action);

    const ZelvoServer* server = nullptr;
    QByteArray pending;
    QList<QByteArray> received;
};
