#include "../ui/ContentPictures.h"
#include "ControlRig.h"

#include "AnimationFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <memory>
#include <vector>

// Agents store pictures and show content while the control channel resets
// the emulator and the display is being recorded: the writer's pool, the
// receiver's parsing and the recorder's encoding run at once on the real
// server over loopback. Built with ThreadSanitizer, this is where a race
// between them shows.
class TestZelvoResetUnderLoad final : public QObject
{
    Q_OBJECT

private slots:
    void resetsWhileAgentsStorePictures();
};

void TestZelvoResetUnderLoad::resetsWhileAgentsStorePictures()
{
    constexpr int agentCount = 4;
    constexpr int rounds = 4;
    ControlRig rig;
    ControlClient client(rig.control.port());
    std::vector<std::unique_ptr<TestAgent>> agents;
    QList<TestAgent*> served;
    for (int i = 0; i < agentCount; ++i) {
        agents.push_back(std::make_unique<TestAgent>(rig.server));
        served.append(agents.back().get());
    }
    QVERIFY(isReady(rig, {&client}, served));

    // A reset ends the display recording too: each round records anew.
    const auto record = [&client](const QString& name) {
        return client.call({{"cmd", "record"}, {"what", "display"}, {"file", QDir::home().filePath(name)}})
            .value("ok")
            .toBool();
    };
    const QJsonArray pictures{QString::fromLatin1(ContentPictures::pngPayload(480, 320).toBase64()),
                              QString::fromLatin1(ContentPictures::ziPayload(640, 400).toBase64()),
                              QString::fromLatin1(ContentPictures::pngPayload(96, 64).toBase64())};
    for (int round = 0; round < rounds; ++round) {
        QVERIFY(record(QStringLiteral("round%1.png").arg(round)));
        for (int i = 0; i < agentCount; ++i) {
            const QString hash = QStringLiteral("loaded%1").arg(i);
            agents[i]->sendAction({{"command.type", "agent_config"}, {"appId", hash}, {"images", pictures}});
            agents[i]->sendAction({{"command.type", "agent_content"}, {"appId", hash}, {"contentId", round},
                                   {"layoutId", "2"}, {"images.id", QJsonArray{"0"}},
                                   {"texts", QJsonArray{QStringLiteral("round %1").arg(round)}}});
        }
        // Real time on purpose: each round's reset comes a little later into
        // the storing and parsing, which run on threads of their own.
        QTest::qWait(round * 20);
        QVERIFY(client.call({{"cmd", "reset"}}, 30000).value("ok").toBool());
    }

    // Whatever the resets cut short, every agent is still served and
    // recorded afterwards.
    QVERIFY(record(QStringLiteral("after.png")));
    for (int i = 0; i < agentCount; ++i) {
        const QString hash = QStringLiteral("after%1").arg(i);
        QVERIFY(agents[i]->configure(hash, {ContentPictures::pngPayload(64, 48)}));
        QVERIFY(agents[i]->show(hash, 100 + i, QStringLiteral("2"), {"0"}, {QStringLiteral("after")}));
    }
    QVERIFY(client.call({{"cmd", "record"}, {"what", "stop"}}, 30000).value("ok").toBool());
    const AnimationFile written = AnimationFile::read(QDir::home().filePath(QStringLiteral("after.png")));
    QVERIFY(written.finished);
    QVERIFY(!written.frames.isEmpty());
}

QTEST_MAIN(TestZelvoResetUnderLoad)
#include "tst_zelvoresetunderload.moc"
