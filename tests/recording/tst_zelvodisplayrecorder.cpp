#include "recording/ZelvoApngWriter.h"
#include "recording/ZelvoDisplayRecorder.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <gif_lib.h>

namespace {

QImage picture(QColor colour)
{
    QImage image(320, 240, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(20, 40, 100, 60, colour);
    return image;
}

struct Frame
{
    QImage image;
    int delayMillis = 0;
};

quint32 readInt(const QByteArray& bytes, int at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(data.size()), out.data());
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian(ZelvoApngWriter::crc(type + data), crc.data());
    return out + type + data + crc;
}

// Reads an animated PNG chunk by chunk, checking every CRC, and rebuilds each
// frame as a PNG of its own that Qt then decodes.
QVector<Frame> readApng(const QByteArray& file, int* declaredFrames)
{
    QVector<Frame> frames;
    QByteArray header;
    QByteArray frameData;
    auto finishFrame = [&] {
        if (frames.isEmpty() || frameData.isEmpty())
            return;
        const QByteArray png = file.left(8) + chunk("IHDR", header) + chunk("IDAT", frameData) + chunk("IEND", {});
        frames.last().image = QImage::fromData(png, "PNG");
        frameData.clear();
    };
    int at = 8;
    while (at < file.size()) {
        const int length = int(readInt(file, at));
        const QByteArray type = file.mid(at + 4, 4);
        const QByteArray data = file.mid(at + 8, length);
        if (readInt(file, at + 8 + length) != ZelvoApngWriter::crc(type + data))
            return {};
        if (type == "IHDR")
            header = data;
        else if (type == "acTL")
            *declaredFrames = int(readInt(data, 0));
        else if (type == "fcTL") {
            finishFrame();
            const int numerator = qFromBigEndian<quint16>(data.constData() + 20);
            const int denominator = qFromBigEndian<quint16>(data.constData() + 22);
            frames.append({QImage(), numerator * 1000 / denominator});
        } else if (type == "IDAT")
            frameData += data;
        else if (type == "fdAT")
            frameData += data.mid(4);
        at += 12 + length;
    }
    finishFrame();
    return frames;
}

int readGif(const QString& path, QVector<int>* delays)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(qPrintable(path), &error);
    if (!gif || DGifSlurp(gif) == GIF_ERROR)
        return -1;
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock control;
        DGifSavedExtensionToGCB(gif, i, &control);
        delays->append(control.DelayTime * 10);
    }
    const int count = gif->ImageCount;
    DGifCloseFile(gif, &error);
    return count;
}

} // namespace

class TestZelvoDisplayRecorder : public QObject
{
    Q_OBJECT

private slots:
    void recordsOneFramePerChange_data();
    void recordsOneFramePerChange();
};

void TestZelvoDisplayRecorder::recordsOneFramePerChange_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("display.png") << QStringLiteral("display.png");
    QTest::newRow("display.gif") << QStringLiteral("display.gif");
}

void TestZelvoDisplayRecorder::recordsOneFramePerChange()
{
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    const QVector<QImage> shown{picture(Qt::green), picture(Qt::red), picture(QColor(0, 0, 255, 128))};

    // Each frame is held for a time of its own, the point of the check:
    // the file gives every frame at least as long as it was shown. Only
    // lower bounds, as a loaded machine holds longer than asked.
    const QVector<int> holdMillis{60, 240, 120};
    ZelvoDisplayRecorder recorder;
    QSignalSpy changes(&recorder, &ZelvoDisplayRecorder::recordingChanged);
    recorder.showImage(shown.at(0));
    QVERIFY(recorder.start(path, 0));
    for (int i = 0; i < shown.size(); ++i) {
        recorder.showImage(shown.at(i));
        // The same picture composed again is no new frame.
        recorder.showImage(shown.at(i));
        QTest::qWait(holdMillis.at(i));
    }
    QString error;
    QVERIFY2(recorder.stop(&error), qPrintable(error));
    QCOMPARE(changes.count(), 2);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (fileName.endsWith(QLatin1String(".gif"))) {
        QVector<int> delays;
        QCOMPARE(readGif(path, &delays), shown.size());
        // Hundredths of a second, rounded.
        for (int i = 0; i < delays.size(); ++i)
            QVERIFY2(delays.at(i) >= holdMillis.at(i) - 5, qPrintable(QString::number(delays.at(i))));
        return;
    }
    int declared = 0;
    const QVector<Frame> frames = readApng(file.readAll(), &declared);
    QCOMPARE(declared, shown.size());
    QCOMPARE(frames.size(), shown.size());
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames.at(i).image.convertToFormat(QImage::Format_ARGB32),
                 shown.at(i).convertToFormat(QImage::Format_ARGB32));
        // Whole milliseconds from a clock read at both ends.
        QVERIFY2(frames.at(i).delayMillis >= holdMillis.at(i) - 1,
                 qPrintable(QStringLiteral("%1 ms held %2").arg(frames.at(i).delayMillis).arg(holdMillis.at(i))));
    }
}

QTEST_GUILESS_MAIN(TestZelvoDisplayRecorder)
#include "tst_zelvodisplayrecorder.moc"
