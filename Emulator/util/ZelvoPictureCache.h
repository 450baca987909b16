#pragma once

#include "record/ZelvoRecord.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

class ZelvoImageStore;

// The agents' stored pictures, kept decoded so that content sent many times
// a second decodes nothing. A configuration fills it with the pictures it
// has just decoded and written; a picture dropped for the budget, or stored
// by an earlier run, is decoded again from its file when it is drawn. Only
// the part of a picture that can show is kept.
class ZelvoPictureCache final
{
public:
    // A picture is drawn from a rectangle's top left and cut at the border
    // of the content area: no more than this much of its top left ever shows.
    static constexpr QSize visibleSize{320, 216};
    // That part of a picture, in a format drawn without conversion.
    static QImage visiblePart(const QImage& image);

    // Decoded bytes of all agents together; the least recently drawn
    // pictures go first.
    static constexpr int defaultBudget = 64 * 1024 * 1024;

    // Reads the pictures of the store, which outlives it.
    explicit ZelvoPictureCache(const ZelvoImageStore* store, int budgetBytes = defaultBudget);

    // A new configuration of the agent replaces all of its pictures.
    void forgetAgent(const QString& agentHash);
    // Every agent's pictures, as when their files are deleted.
    void clear();
    // The picture that path now holds for the agent's image id: its visible
    // part and its whole size.
    void insert(const QString& agentHash, const QString& imageId, const QString& path, const QImage& image,
                const QSize& size);

    // The agent's picture for an image id, from memory or else from its file
    // (the one this run stored, else .zi before .png). path receives the
    // file, empty when there is none, and size the whole picture's size, of
    // which the image returned may be the visible part; a null image sets
    // refusal to why.
    QImage picture(const QString& agentHash, const QString& imageId, QString* path, ZelvoRecord::Reason* refusal,
                   QSize* size);

private:
    struct Picture
    {
        QImage image;
        QString path;
        QSize size;
    };

    static QString key(const QString& agentHash, const QString& imageId);
    QImage load(const QString& agentHash, const QString& imageId, QString* path, ZelvoRecord::Reason* refusal,
                QSize* size) const;
    void keep(const QString& key, const QString& path, const QImage& image, const QSize& size);

    const ZelvoImageStore* store = nullptr;
    QCache<QString, Picture> pictures;
    // The file each image id was last stored to in this run, kept beyond
    // the budget: after a configuration changed an image from ZI to PNG, an
    // older .zi of the same id still lies beside it and must not come back.
    QHash<QString, QString> storedPaths;
};
