#include "record/ZelvoRecord.h"
#include "record/ZelvoRecordMember.h"

#include <QMetaEnum>
#include <QSet>
#include <QTest>

#include <functional>
#include <utility>
#include <vector>

namespace {

using Record = ZelvoRecord;

// One fact of a record, set as the emulator sets it, under its JSON name.
const std::vector<std::pair<const char*, std::function<void(Record&)>>>& facts()
{
    static const std::vector<std::pair<const char*, std::function<void(Record&)>>> all = {
        {"peer", [](Record& r) { r.source.peer = QStringLiteral("127.0.0.1:4000"); }},
        {"connection", [](Record& r) { r.source.connection = 1; }},
        {"ignored", [](Record& r) { r.source.lint.ignored = QStringList{QStringLiteral("extra")}; }},
        {"coerced", [](Record& r) { r.source.lint.coerced.append({QStringLiteral("contentId"), QStringLiteral("\"7\""), QStringLiteral("7")}); }},
        {"commandType", [](Record& r) { r.commandType = QStringLiteral("agent_content"); }},
        {"layoutId", [](Record& r) { r.layoutId = QStringLiteral("3"); }},
        {"imageId", [](Record& r) { r.imageId = QStringLiteral("../x"); }},
        {"missingGlyphs", [](Record& r) { r.missingGlyphs = 2; }},
        {"size", [](Record& r) { r.size = 120; }},
        {"limit", [](Record& r) { r.limit = 100; }},
        {"agents", [](Record& r) { r.agents = 2; }},
        {"stored", [](Record& r) { r.stored = 2; }},
        {"layoutImages", [](Record& r) { r.layoutImages = 1; }},
        {"layoutTexts", [](Record& r) { r.layoutTexts = 1; }},
        {"givenImages", [](Record& r) { r.givenImages = 1; }},
        {"givenTexts", [](Record& r) { r.givenTexts = 1; }},
        {"blockingContentId", [](Record& r) { r.blockingContentId = 4; }},
        {"remainingMillis", [](Record& r) { r.remainingMillis = 1200; }},
        {"minPersistingTimeMillis", [](Record& r) { r.minMillis = 100; }},
        {"maxPersistingTimeMillis", [](Record& r) { r.maxMillis = 5000; }},
        {"refusing", [](Record& r) { r.refusing = true; }},
        {"delayMillis", [](Record& r) { r.delayMillis = 250; }},
        {"clamped", [](Record& r) { r.clamped = true; }},
        {"eventType", [](Record& r) { r.eventType = 16; }},
        {"values", [](Record& r) { r.eventValues = std::array<float, 4>{1.0f, 2.0f, 3.0f, 0.0f}; }},
        {"source", [](Record& r) { r.fromPose = true; }},
        {"refused", [](Record& r) { r.refusals = QVector<Record::ImageRefusal>{{2, Record::Reason::NotAPicture}}; }},
        {"writeError", [](Record& r) { r.writeError = QStringLiteral("No space left on device"); }},
        {"imagesLeftOut", [](Record& r) { r.imagesLeftOut.append({QStringLiteral("im"), Record::Reason::ImageNotStored}); }},
        {"fit", [](Record& r) { r.imagesOverText.append({QStringLiteral("im"), {0}}); }},
    };
    return all;
}

bool carries(Record::Kind kind, const QString& key)
{
    for (const ZelvoRecordMember& member : ZelvoRecordMember::all()) {
        if (member.key == key && member.isCarriedBy(kind))
            return true;
    }
    return false;
}

} // namespace

// Every value of the record's enums has its own stable name, so that a
// value added to an enum cannot reach the JSON nameless; the record's
// members are declared once, and the manual's field table, which
// scripts/docs writes from the declaration, names every value.
class tst_ZelvoRecord : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void strayMembers_data();
    void strayMembers();
};

void tst_ZelvoRecord::names_data()
{
    QTest::addColumn<QString>("enumName");
    for (const char* name : {"Direction", "Kind", "Outcome", "Reason"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_ZelvoRecord::names()
{
    QFETCH(QString, enumName);
    const QMetaObject& meta = ZelvoRecord::staticMetaObject;
    const QMetaEnum values = meta.enumerator(meta.indexOfEnumerator(qPrintable(enumName)));
    QVERIFY(values.isValid());
    const QString table = ZelvoRecordMember::table();
    QSet<QString> seen;
    for (int i = 0; i < values.keyCount(); ++i) {
        const int value = values.value(i);
        QString name;
        if (enumName == QLatin1String("Direction"))
            name = ZelvoRecord::directionName(ZelvoRecord::Direction(value));
        else if (enumName == QLatin1String("Kind"))
            name = ZelvoRecord::kindName(ZelvoRecord::Kind(value));
        else if (enumName == QLatin1String("Outcome"))
            name = ZelvoRecord::outcomeName(ZelvoRecord::Outcome(value));
        else
            name = ZelvoRecord::reasonName(ZelvoRecord::Reason(value));
        QVERIFY2(!name.isEmpty(), values.key(i));
        QVERIFY2(!seen.contains(name), qPrintable(name));
        seen.insert(name);
        if (enumName == QLatin1String("Reason") && ZelvoRecord::Reason(value) != ZelvoRecord::Reason::None) {
            QVERIFY2(!ZelvoRecord::reasonText(ZelvoRecord::Reason(value)).isEmpty(), values.key(i));
            QVERIFY2(table.contains(QLatin1Char('`') + name + QLatin1Char('`')), qPrintable(name));
        }
        // Each kind has its sentence, and the field table names it.
        if (enumName == QLatin1String("Kind")) {
            QVERIFY2(!ZelvoRecord(ZelvoRecord::Direction::Link, ZelvoRecord::Kind(value), ZelvoRecord::Outcome::Info)
                          .sentence()
                          .isEmpty(),
                     values.key(i));
        }
        if (enumName != QLatin1String("Reason"))
            QVERIFY2(table.contains(QLatin1Char('`') + name + QLatin1Char('`')), qPrintable(name));
    }
}

void tst_ZelvoRecord::strayMembers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("fact");
    const QMetaEnum kinds = QMetaEnum::fromType<Record::Kind>();
    for (int k = 0; k < kinds.keyCount(); ++k) {
        const auto kind = Record::Kind(kinds.value(k));
        for (int f = 0; f < int(facts().size()); ++f)
            QTest::addRow("%s %s", qPrintable(Record::kindName(kind)), facts()[size_t(f)].first) << int(kind) << f;
    }
}

// A fact set on a kind that does not carry it is named, and the recorder
// refuses the record in a debug build; one its kind carries is not.
void tst_ZelvoRecord::strayMembers()
{
    QFETCH(int, kind);
    QFETCH(int, fact);
    const auto& [key, set] = facts()[size_t(fact)];
    Record record(Record::Direction::In, Record::Kind(kind), Record::Outcome::Info);
    QVERIFY(record.strayMembers().isEmpty());
    set(record);
    const QStringList expected = carries(Record::Kind(kind), QLatin1String(key)) ? QStringList()
                                                                                : QStringList{QLatin1String(key)};
    QCOMPARE(record.strayMembers(), expected);
}

QTEST_GUILESS_MAIN(tst_ZelvoRecord)
#include "tst_zelvorecord.moc"
