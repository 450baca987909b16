#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QJsonValue;
class QLabel;
class QPlainTextEdit;
class QScrollArea;
class ZelvoRecord;

// The pane under the list: the selected record's sentence and, for a
// received message, its JSON pretty-printed with long Base64 strings
// shortened, and the pictures those strings carry as small thumbnails.
class ZelvoMessageDetail final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoMessageDetail)

public:
    // Strings longer than this that are Base64 through and through are
    // shortened; a text in a message is rarely one unbroken Base64 word.
    static constexpr int longBase64 = 64;
    // Thumbnails per message; a configuration may carry hundreds of images.
    static constexpr int maxPictures = 24;
    static constexpr int thumbnailSize = 96;

    explicit ZelvoMessageDetail(QWidget* parent = nullptr);

    void showRecord(const ZelvoRecord& record);
    void clear();

    // The JSON text of a frame as the pane shows it, and the decoded bytes
    // of its long Base64 strings in the order they appear.
    static QString readable(const QByteArray& payload, QList<QByteArray>* decoded);
    // A small picture of a PNG or ZI file; null when the bytes are neither,
    // or would decode to an oversized picture.
    static QImage thumbnail(const QByteArray& bytes);

    QString text() const;
    int pictureCount() const;

private:
    static QJsonValue shortened(const QJsonValue& value, QList<QByteArray>* decoded);
    void setPictures(const QList<QByteArray>& decoded);

    QLabel* headline = nullptr;
    QPlainTextEdit* json = nullptr;
    QScrollArea* pictureArea = nullptr;
    QWidget* pictures = nullptr;
    QHBoxLayout* pictureRow = nullptr;
};
