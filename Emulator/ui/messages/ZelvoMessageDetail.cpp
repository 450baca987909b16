#include "ui/messages/ZelvoMessageDetail.h"

#include "record/ZelvoRecord.h"
#include "util/ZelvoUtil.h"

#include "ZIImageUtil.h"
#include "ZelvoJson.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// A picture a few kilobytes of PNG could inflate to must not stall the
// window for a thumbnail: ZI pictures stay below this by their format.
constexpr qint64 maxPicturePixels = 4096 * 4096;
// Of a frame that is no JSON, show the start only.
constexpr int maxRawBytes = 4096;

bool isBase64(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+'
                        || u == '/' || u == '=' || u == '\n' || u == '\r';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

ZelvoMessageDetail::ZelvoMessageDetail(QWidget* parent)
    : QWidget(parent)
    , headline(new QLabel(this))
    , json(new QPlainTextEdit(this))
    , pictureArea(new QScrollArea(this))
    , pictures(new QWidget)
    , pictureRow(new QHBoxLayout(pictures))
{
    headline->setWordWrap(true);
    headline->setTextInteractionFlags(Qt::TextSelectableByMouse);
    json->setReadOnly(true);
    json->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    json->setLineWrapMode(QPlainTextEdit::NoWrap);
    pictureRow->setContentsMargins(0, 0, 0, 0);
    pictureRow->addStretch();

    pictureArea->setWidget(pictures);
    pictureArea->setWidgetResizable(true);
    pictureArea->setFixedHeight(thumbnailSize + 24);
    pictureArea->setFrameShape(QFrame::NoFrame);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headline);
    layout->addWidget(json, 1);
    layout->addWidget(pictureArea);
    clear();
}

void ZelvoMessageDetail::clear()
{
    headline->setText(tr("Select a record to see the message."));
    json->clear();
    setPictures({});
}

void ZelvoMessageDetail::showRecord(const ZelvoRecord& record)
{
    headline->setText(record.sentence());
    QList<QByteArray> decoded;
    const bool in = record.direction == ZelvoRecord::Direction::In;
    if (in && !record.payload.isEmpty() && record.payload.size() < record.size)
        json->setPlainText(QString::fromUtf8(record.payload) + tr("…(%1 bytes; only their start is kept)").arg(*record.size));
    else if (in && !record.payload.isEmpty())
        json->setPlainText(readable(record.payload, &decoded));
    else if (in && record.size > 0)
        json->setPlainText(tr("The bytes of this message are no longer kept."));
    else
        json->setPlainText(QString::fromUtf8(QJsonDocument(record.toJson()).toJson(QJsonDocument::Indented)));
    setPictures(decoded);
}

QString ZelvoMessageDetail::readable(const QByteArray& payload, QList<QByteArray>* decoded)
{
    QJsonParseError error;
    const QJsonDocument document = ZelvoJson::parse(payload, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        QString raw = QString::fromUtf8(payload.left(maxRawBytes));
        if (payload.size() > maxRawBytes)
            raw += QStringLiteral("…(%1 bytes)").arg(payload.size());
        return raw;
    }
    const QJsonValue root = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    const QJsonValue shown = shortened(root, decoded);
    const QJsonDocument pretty = shown.isObject() ? QJsonDocument(shown.toObject()) : QJsonDocument(shown.toArray());
    return QString::fromUtf8(pretty.toJson(QJsonDocument::Indented));
}

QJsonValue ZelvoMessageDetail::shortened(const QJsonValue& value, QList<QByteArray>* decoded)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto member = object.begin(); member != object.end(); ++member)
            *member = shortened(member.value(), decoded);
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto element = array.begin(); element != array.end(); ++element)
            *element = shortened(*element, decoded);
        return array;
    }
    const QString text = value.toString();
    if (!value.isString() || text.size() <= longBase64 || !isBase64(text))
        return value;
    const QByteArray bytes = ZelvoUtil::fromBase64(text);
    decoded->append(bytes);
    return text.left(16) + QStringLiteral("…(%1 bytes)").arg(bytes.size());
}

QImage ZelvoMessageDetail::thumbnail(const QByteArray& bytes)
{
    QImage picture;
    if (ZIImageUtil::ziDimensions(bytes).isValid()) {
        picture = ZIImageUtil::ziUncompress(bytes);
    } else {
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "png");
        const QSize size = reader.size();
        if (!size.isValid() || qint64(size.width()) * size.height() > maxPicturePixels)
            return QImage();
        picture = reader.read();
    }
    if (picture.isNull())
        return picture;
    return picture.width() <= thumbnailSize && picture.height() <= thumbnailSize
        ? picture
        : picture.scaled(thumbnailSize, thumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QString ZelvoMessageDetail::text() const
{
    return json->toPlainText();
}

int ZelvoMessageDetail::pictureCount() const
{
    return pictureRow->count() - 1;
}

void ZelvoMessageDetail::setPictures(const QList<QByteArray>& decoded)
{
    while (pictureRow->count() > 1) {
        QLayoutItem* item = pictureRow->takeAt(0);
        delete item->widget();
        delete item;
    }
    for (const QByteArray& bytes : decoded) {
        if (pictureCount() == maxPictures)
            break;
        const QImage picture = thumbnail(bytes);
        if (picture.isNull())
            continue;
        auto* label = new QLabel;
        label->setPixmap(QPixmap::fromImage(picture));
        label->setFrameShape(QFrame::Box);
        pictureRow->insertWidget(pictureCount(), label);
    }
    pictureArea->setVisible(pictureCount() > 0);
}
