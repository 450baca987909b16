#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QRandomGenerator;
class ZelvoSocket;

// One agent of the soak test. Each act() does one random thing an agent,
// a broken agent or a hostile one might do: connect, configure, send
// content or timing, send broken or hostile frames, or go away in order or
// by reset. Well-formed frames go through the emulator's own framing
// socket; broken ones are written raw.
class SoakAgent final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SoakAgent)

public:
    // Every hostile name the agent sends contains `marker`, so that
    // anything written with it can be found afterwards.
    SoakAgent(QRandomGenerator& random, const QString& marker, QObject* parent = nullptr);
    ~SoakAgent() override;

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
    void writeRaw(const QByteArray& bytes);
    void retire(bool byReset);
    QString pick(const QList<QString>& choices);

    QRandomGenerator& random;
    QString ownHash;
    QList<QString> hostile;
    std::unique_ptr<ZelvoSocket> zelvoSocket;
};
