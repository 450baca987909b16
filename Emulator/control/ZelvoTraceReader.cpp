#include "control/ZelvoTraceReader.h"

#include "ZelvoFile.h"
#include "ZelvoTraceParser.h"

#include <QFile>
#include <QTimer>

namespace {

// Parsed in a millisecond or two on a slow machine, so a turn of the loop
// stays far below what a person or an agent would notice.
constexpr qint64 pieceBytes = 32 * 1024;

} // namespace

ZelvoTraceReader::ZelvoTraceReader(QObject* parent)
    : QObject(parent)
    , step(new QTimer(this))
{
    step->setInterval(0);
    connect(step, &QTimer::timeout, this, &ZelvoTraceReader::readPiece);
}

ZelvoTraceReader::~ZelvoTraceReader() = default;

bool ZelvoTraceReader::start(const QString& name, qint64 limit, QString* error)
{
    close();
    auto opened = std::make_unique<QFile>();
    if (!ZelvoFile::openRegular(name, opened.get(), error))
        return false;
    file = std::move(opened);
    parser = std::make_unique<ZelvoTraceParser>(qMin(file->size(), limit));
    path = name;
    maxBytes = limit;
    read = 0;
    failure.clear();
    readings = {};
    step->start();
    return true;
}

void ZelvoTraceReader::cancel()
{
    if (isReading())
        end(QStringLiteral("%1: stopped before it was read").arg(path));
}

void ZelvoTraceReader::close()
{
    step->stop();
    file.reset();
    parser.reset();
}

void ZelvoTraceReader::readPiece()
{
    // Up to one byte past the limit: the size the file announces can
    // change while it is read.
    const QByteArray piece = file->read(qMin(pieceBytes, maxBytes + 1 - read));
    read += piece.size();
    if (read > maxBytes) {
        end(QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maxBytes));
        return;
    }
    if (file->error() != QFileDevice::NoError) {
        end(QStringLiteral("cannot read %1: %2").arg(path, file->errorString()));
        return;
    }
    if (!piece.isEmpty() && parser->add(piece))
        return;
    if (piece.isEmpty() && parser->finish()) {
        readings = parser->takeReadings();
        end(QString());
        return;
    }
    end(QStringLiteral("%1: %2").arg(path, parser->error()));
}

void ZelvoTraceReader::end(const QString& error)
{
    failure = error;
    close();
    emit finished(error.isEmpty());
}
