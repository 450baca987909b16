#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

class QDataStream;

// The command types that the emulator acts on, as agents write them in
// "command.type".
inline const QString commandZelvoConfig = QStringLiteral("zelvo_config");
inline const QString commandAgentConfig = QStringLiteral("agent_config");
inline const QString commandAgentContent = QStringLiteral("agent_content");

// One command from an agent: the top-level members of its JSON object, by
// key. Dots are part of key names: "command.type" is one flat key.
class ZelvoAction
{
public:
    ZelvoAction() = default;
    explicit ZelvoAction(const QVariantMap& args);

    QString commandType() const;
    // The member as an int by Qt's variant rules; a number (or integer
    // text) that those rules round beyond the int range is clamped to the
    // nearest bound instead of wrapping, and *clamped says so.
    int intArg(const QString& key, bool* clamped = nullptr) const;
    QString toString() const;

    // A member whose value the emulator takes other than as written: given
    // and taken, each as short JSON text.
    struct Coercion
    {
        QString member;
        QString given;
        QString taken;
    };
    // What of a message of a known command type is not taken as written:
    // the members that type does not read (a misspelt key), and the values
    // converted. Both empty for other messages; it changes nothing the
    // emulator does.
    struct Lint
    {
        QStringList ignored;
        QVector<Coercion> coerced;
        bool isEmpty() const { return ignored.isEmpty() && coerced.isEmpty(); }
    };
    Lint lint() const;
    // A value as short JSON text, as the lint and the record's sentences
    // quote what an agent sent: a long text or list cut with an ellipsis.
    static QString shownValue(const QVariant& value);

    // The binary form: an int32 entry count, then key (QString) and value
    // (QVariant) pairs in key order, in the Qt 4.6 data stream format.
    void serialize(QDataStream& stream) const;
    // Adds the pairs read to args and returns how many were read whole;
    // stops at the first one the stream cannot deliver.
    int deserialize(QDataStream& stream);
    QByteArray toBinary() const;

    bool operator==(const ZelvoAction& other) const { return args == other.args; }
    bool operator!=(const ZelvoAction& other) const { return !(*this == other); }

    QVariantMap args;
};

Q_DECLARE_METATYPE(ZelvoAction)
