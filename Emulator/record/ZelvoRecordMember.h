#pragma once

#include "record/ZelvoRecord.h"

#include <QJsonValue>
#include <QList>
#include <QString>

// One member of a record's JSON form, declared once: its name, its type,
// the kinds of record that carry it, what it means and how it is read from
// the record. toJson() writes the members of the record's kind that the
// record holds, a record holding a fact that its kind does not carry is
// refused (strayMembers()), and the reference of record fields is made from
// these declarations. A new member is one more entry in all(); a new kind
// is named in the kinds of the members it carries.
class ZelvoRecordMember
{
public:
    enum class Type { Number, String, Bool, Array, Object };

    // Every member once, in the order of the reference.
    static const QList<ZelvoRecordMember>& all();
    // The reference of record fields, in Markdown, heading included.
    static QString table();
    static QString typeName(Type type);

    bool isCarriedBy(ZelvoRecord::Kind recordKind) const;

    QString key;
    Type type = Type::Number;
    // Empty: every record carries it.
    QList<ZelvoRecord::Kind> kinds;
    // One line, Markdown.
    QString meaning;
    // Its value in the record; undefined where the record holds none.
    QJsonValue (*value)(const ZelvoRecord& record) = nullptr;
};
