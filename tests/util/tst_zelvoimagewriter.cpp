#include "ZIImageUtil.h"
#include "util/ZelvoImageWriter.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The largest ZI picture: 64 MiB decoded.
const QByteArray largestZi = ZIImageUtil::ziHeader(4095, 4095) + QByteArray(4095 * 4095 / 8 + 1, '\0');

ZelvoImageWriter::Configuration configurationIn(const QString& directory)
{
    ZelvoImageWriter::Configuration configuration;
    configuration.agentHash = QStringLiteral("agent");
    configuration.directory = directory;
    return configuration;
}

} // namespace

class TestZelvoImageWriter : public QObject
{
    Q_OBJECT

private slots:
    void pictureOverTheBudgetTakesAllOfIt();
    void cancelledJobLeavesNoFile();
};

// It waits for the whole budget instead of more than there is, for ever.
void TestZelvoImageWriter::pictureOverTheBudgetTakesAllOfIt()
{
    QTemporaryDir directory;
    ZelvoImageWriter writer(1024 * 1024);
    const ZelvoImageWriter::Configuration stored
        = writer.job(configurationIn(directory.path()), {QString::fromLatin1(largestZi.toBase64())})();
    QCOMPARE(stored.images.size(), 1);
    QVERIFY(stored.images.constFirst().stored);
    QCOMPARE(stored.images.constFirst().size, QSize(4095, 4095));
}

// A job made before a reset and run after it: the reset may have deleted
// the agent's directory, and no file comes back into it.
void TestZelvoImageWriter::cancelledJobLeavesNoFile()
{
    QTemporaryDir directory;
    ZelvoImageWriter writer;
    const ZelvoImageWriter::Job late
        = writer.job(configurationIn(directory.path()), {QString::fromLatin1(QByteArrayLiteral(".zi\x01\x02").toBase64())});
    writer.cancelAll();
    QVERIFY(late().images.isEmpty());
    QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestZelvoImageWriter)
#include "tst_zelvoimagewriter.moc"
