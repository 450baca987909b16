#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class QRandomGenerator;
class TestAgent;

// One agent of the soak test. Each act() does one random thing an agent,
// a broken agent or a hostile one might do: connect, configure, send
// content or timing, send broken or hostile frames, or go away in order or
// by reset.
class SoakAgent final
{
    Q_DISABLE_COPY_MOVE(SoakAgent)

public:
    // Every hostile name the agent sends contains `marker`, so that
    // anything written with it can be found afterwards.
    SoakAgent(QRandomGenerator& random, const QString& marker, quint16 port);
    ~SoakAgent();

    void act();
    void leave();

    static QList<QString> hostileHashes(const QString& marker);

private:
    void connectToEmulator();
    void sendConfig(const QString& agentHash);
    void sendContent(const QString& agentHash, const QList<QString>& imageIds);
    void sendTiming();
    void sendBrokenJson();
    void sendBadPrefix();
    void sendTruncatedFrame();
    void retire(bool byReset);
    QString pick(const QList<QString>& choices);

    QRandomGenerator& random;
    QString ownHash;
    QList<QString> hostile;
    quint16 port;
    std::unique_ptr<TestAgent> agent;
    // Connections closed in order, kept until they have written everything.
    std::vector<std::unique_ptr<TestAgent>> leaving;
};
