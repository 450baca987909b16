#pragma once

#include "record/ZelvoRecord.h"

#include <QJsonValue>
#include <QList>
#include <QString>

// One member of a record's JSON form, declared once: its name, its type,
// the kinds of record that carry it and how it is read from the record.
// toJson() writes the members of the record's kind, a record holding a
// fact that its kind does not carry is refused (strayMembers()), and the
// manual's table of record fields is made from these declarations. A new
// member is one more entry in rows(); a new kind is named in the kinds of
// the members it carries.
class ZelvoRecordMember
{
public:
    enum class Type { Number, String, Bool, Array, Object };

    // Members the manual describes together, in one row of its table.
    struct Row
    {
        QList<ZelvoRecordMember> members;
        QString meaning;
    };

    // Every member, in the order of the manual's table.
    static const QList<Row>& rows();
    // The manual's table of record fields, in Markdown, heading included.
    static QString table();
    static QString typeName(Type type);

    bool isCarriedBy(ZelvoRecord::Kind recordKind) const;

    QString key;
    Type type = Type::Number;
    // Empty: every record carries it.
    QList<ZelvoRecord::Kind> kinds;
    // Its value in a record of a kind that carries it; undefined where that
    // record has none.
    QJsonValue (*value)(const ZelvoRecord& record) = nullptr;
    // Whether the record holds a fact for it; none for the members every
    // record carries.
    bool (*holds)(const ZelvoRecord& record) = nullptr;
};
