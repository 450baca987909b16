#include "SoakAgent.h"

#include "AgentMessages.h"
#include "TestAgent.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "ZelvoFrame.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>

namespace {

QByteArray header(quint32 length)
{
    QByteArray bytes(ZelvoFrame::headerSize, '\0');
    qToBigEndian(length, bytes.data());
    return bytes;
}

// One small PNG and one ZI picture, made once.
const QList<QByteArray>& pictures()
{
    static const QList<QByteArray> made = [] {
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter(&picture).fillRect(5, 5, 20, 10, Qt::green);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        return QList<QByteArray>{png, ZIImageUtil::ziCompress(picture).toByteArray()};
    }();
    return made;
}

const QList<QByteArray> brokenPayloads{
    QByteArray(),
    QByteArray("{"),
    QByteArray("{\"command.type\": \"agent_content\", \"appId\": "),
    QByteArray("[]"),
    QByteArray("null"),
    QByteArray("{}"),
    QByteArray("\xff\xfe\x00\x01", 4),
    QByteArray("{\"command.type\": 5}"),
    QByteArray("{\"command.type\": \"agent_content\", \"layoutId\": {\"x\": 1}, \"texts\": 7, \"images.id\": \"0\"}"),
    QByteArray("{\"command.type\": \"zelvo_config\", \"minPersistingTimeMillis\": -5, \"maxPersistingTimeMillis\": 1e300}"),
    QByteArray("{\"command.type\": \"agent_config\", \"appId\": \"broken\", \"images\": [\"!!!\", \"LnppAAAA\", 12]}"),
    QByteArray(5000, '[') + QByteArray(5000, ']'),
};

} // namespace

SoakAgent::SoakAgent(QRandomGenerator& random, const QString& marker, quint16 port)
    : random(random)
    , ownHash(QStringLiteral("soak-%1").arg(random.generate() % 1000))
    , hostile(hostileHashes(marker))
    , port(port)
{
}

SoakAgent::~SoakAgent() = default;

QList<QString> SoakAgent::hostileHashes(const QString& marker)
{
    return {QStringLiteral("../x") + marker,
            QStringLiteral("/tmp/y") + marker,
            QStringLiteral("../../../../../../../../tmp/z") + marker,
            QStringLiteral("a/../../b") + marker,
            QStringLiteral("c\\..\\") + marker,
            marker + QStringLiteral("/"),
            marker + QChar(0) + QStringLiteral("nul"),
            marker + QString(300, QLatin1Char('h')),
            QStringLiteral("../x"),
            QStringLiteral("/tmp/y"),
            QStringLiteral(".."),
            QStringLiteral("."),
            QStringLiteral("~"),
            QString()};
}

void SoakAgent::act()
{
    leaving.erase(std::remove_if(leaving.begin(), leaving.end(),
                                 [](const std::unique_ptr<TestAgent>& gone) {
                                     return gone->socket.state() == QAbstractSocket::UnconnectedState;
                                 }),
                  leaving.end());
    if (agent && agent->socket.state() == QAbstractSocket::UnconnectedState)
        agent.reset();
    if (!agent) {
        if (random.bounded(100) < 70)
            connectToEmulator();
        return;
    }
    const int roll = random.bounded(100);
    if (roll < 15)
        sendConfig(ownHash);
    else if (roll < 30)
        sendContent(ownHash, {QString::number(random.bounded(3))});
    else if (roll < 35)
        sendTiming();
    else if (roll < 47)
        sendBrokenJson();
    else if (roll < 55)
        sendConfig(pick(hostile));
    else if (roll < 63)
        sendContent(pick(hostile), {pick({"../../../../../etc/hostname", "/etc/hostname", "0/../../0", "0"})});
    else if (roll < 68)
        sendBadPrefix();
    else if (roll < 73)
        sendTruncatedFrame();
    else if (roll < 83)
        retire(false);
    else if (roll < 90)
        retire(true);
}

void SoakAgent::leave()
{
    if (agent)
        retire(false);
}

void SoakAgent::connectToEmulator()
{
    // Writes wait in the socket until it is connected.
    agent = std::make_unique<TestAgent>(port);
}

void SoakAgent::sendConfig(const QString& agentHash)
{
    QList<QByteArray> images;
    for (int i = random.bounded(1, 4); i > 0; --i)
        images.append(pictures().at(random.bounded(pictures().size())));
    agent->sendFrame(AgentMessages::agentConfig(agentHash, images));
}

void SoakAgent::sendContent(const QString& agentHash, const QList<QString>& imageIds)
{
    // Layout 2 takes one image and one text; other layouts get the same
    // and must refuse the mismatch.
    agent->sendFrame(AgentMessages::agentContent(agentHash, QString::number(random.bounded(-1, 6)),
                                                      random.bounded(-3, 1000), imageIds, {QStringLiteral("soak")}));
}

void SoakAgent::sendTiming()
{
    agent->sendFrame(AgentMessages::zelvoConfig(random.bounded(0, 300), random.bounded(0, 1500)));
}

void SoakAgent::sendBrokenJson()
{
    agent->sendFrame(brokenPayloads.at(random.bounded(brokenPayloads.size())));
}

void SoakAgent::sendBadPrefix()
{
    // Negative lengths are skipped by the reader; huge ones swallow the rest
    // of the stream, so the agent leaves after them.
    const quint32 lengths[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x40000000u};
    const quint32 length = lengths[random.bounded(4)];
    agent->send(header(length) + QByteArray(random.bounded(1, 2000), 'A'));
    if (length < 0x80000000u)
        retire(random.bounded(2) == 0);
}

void SoakAgent::sendTruncatedFrame()
{
    const QByteArray payload = AgentMessages::agentConfig(ownHash, pictures());
    agent->send(header(quint32(payload.size())) + payload.left(random.bounded(payload.size())));
    retire(random.bounded(2) == 0);
}

void SoakAgent::retire(bool byReset)
{
    if (byReset) {
        agent->reset();
        agent.reset();
        return;
    }
    // An orderly close finishes writing first; the agent goes when it is done.
    agent->close();
    leaving.push_back(std::move(agent));
}

QString SoakAgent::pick(const QList<QString>& choices)
{
    return choices.at(random.bounded(choices.size()));
}
