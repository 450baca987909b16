#pragma once

#include "ZelvoControlField.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QJsonArray;

// A control request that its declaration has accepted, read by the
// operation it asks for: each member by its key, or the field's default
// when the request leaves it out.
class ZelvoControlRequest
{
public:
    ZelvoControlRequest(const QJsonObject& json, const QString& action, const QList<ZelvoControlField>& fields,
                        QObject* client = nullptr);

    const QString& action() const { return actionName; }
    // Who asked, whose going cancels what the request waits for; null when
    // nobody waits for its answer, or no longer (a request answered after
    // a file is read).
    QObject* client() const { return asker; }
    bool has(const QString& key) const { return json.contains(key); }
    QString text(const QString& key) const;
    bool isOn(const QString& key) const;
    int whole(const QString& key) const;
    double number(const QString& key) const;
    QJsonArray numbers(const QString& key) const;

private:
    QJsonValue value(const QString& key) const;

    QJsonObject json;
    QString actionName;
    QList<ZelvoControlField> fields;
    QPointer<QObject> asker;
};
