#include "record/ZelvoRecord.h"

#include <QMetaEnum>
#include <QSet>
#include <QTest>

// Every value of the record's enums has its own stable name, so that a
// value added to an enum cannot reach the JSON nameless.
class tst_ZelvoRecord : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
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
        if (enumName == QLatin1String("Reason") && ZelvoRecord::Reason(value) != ZelvoRecord::Reason::None)
            QVERIFY2(!ZelvoRecord::reasonText(ZelvoRecord::Reason(value)).isEmpty(), values.key(i));
    }
}

QTEST_GUILESS_MAIN(tst_ZelvoRecord)
#include "tst_zelvorecord.moc"
