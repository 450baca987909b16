#include "ZelvoVocabulary.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLatin1String>

#include <algorithm>
#include <array>

namespace {

struct EventWord
{
    ZelvoVocabulary::EventKind kind;
    QLatin1String name;
    int values;
    bool sensor;
};

const std::array<EventWord, 5> eventWords = {{
    {ZelvoVocabulary::BatteryEvent, QLatin1String("battery"), 1, true},
    {ZelvoVocabulary::ButtonEvent, QLatin1String("button"), 2, false},
    {ZelvoVocabulary::AccelerometerEvent, QLatin1String("accelerometer"), 3, true},
    {ZelvoVocabulary::CompassEvent, QLatin1String("compass"), 3, true},
    {ZelvoVocabulary::LightSensorEvent, QLatin1String("light"), 1, true},
}};

struct ButtonWord
{
    ZelvoVocabulary::Button button;
    QLatin1String name;
    const char16_t* sign;
};

const std::array<ButtonWord, 2> buttonWords = {{
    {ZelvoVocabulary::PlusButton, QLatin1String("plus"), u"+"},
    {ZelvoVocabulary::MinusButton, QLatin1String("minus"), u"\u2212"},
}};

// Indexed by the gesture's number.
const std::array<QLatin1String, 4> buttonGestureWords = {{
    QLatin1String("pressed"),
    QLatin1String("released"),
    QLatin1String("clicked"),
    QLatin1String("long pressed"),
}};

// Indexed by the head gesture.
const std::array<QLatin1String, 6> headGestureWords = {{
    QLatin1String("nod"),
    QLatin1String("shake"),
    QLatin1String("tilt-left"),
    QLatin1String("tilt-right"),
    QLatin1String("look-up"),
    QLatin1String("look-down"),
}};

const EventWord* eventWord(int kind)
{
    const auto found = std::find_if(eventWords.cbegin(), eventWords.cend(),
                                    [kind](const EventWord& word) { return word.kind == kind; });
    return found == eventWords.cend() ? nullptr : &*found;
}

const ButtonWord* buttonWord(int button)
{
    const auto found = std::find_if(buttonWords.cbegin(), buttonWords.cend(),
                                    [button](const ButtonWord& word) { return word.button == button; });
    return found == buttonWords.cend() ? nullptr : &*found;
}

} // namespace

QString ZelvoVocabulary::eventKindName(int kind)
{
    const EventWord* word = eventWord(kind);
    return word ? QString(word->name) : QString();
}

int ZelvoVocabulary::valueCount(int kind)
{
    const EventWord* word = eventWord(kind);
    return word ? word->values : 0;
}

QList<ZelvoVocabulary::EventKind> ZelvoVocabulary::sensorKinds()
{
    QList<EventKind> kinds;
    for (const EventWord& word : eventWords) {
        if (word.sensor)
            kinds.append(word.kind);
    }
    return kinds;
}

QString ZelvoVocabulary::buttonName(int button)
{
    const ButtonWord* word = buttonWord(button);
    return word ? QString(word->name) : QString();
}

QString ZelvoVocabulary::buttonSign(int button)
{
    const ButtonWord* word = buttonWord(button);
    return word ? QString::fromUtf16(word->sign) : QString();
}

QStringList ZelvoVocabulary::buttonNames()
{
    QStringList names;
    for (const ButtonWord& word : buttonWords)
        names.append(word.name);
    return names;
}

QString ZelvoVocabulary::buttonGestureName(int gesture)
{
    return gesture >= 0 && gesture < int(buttonGestureWords.size()) ? QString(buttonGestureWords[size_t(gesture)])
                                                                    : QString();
}

QString ZelvoVocabulary::headGestureName(HeadGesture gesture)
{
    return headGestureWords[size_t(gesture)];
}

QStringList ZelvoVocabulary::headGestureNames()
{
    QStringList names;
    for (QLatin1String word : headGestureWords)
        names.append(word);
    return names;
}

QJsonObject ZelvoVocabulary::toJson()
{
    QJsonArray events;
    for (const EventWord& word : eventWords)
        events.append(QJsonObject{{QStringLiteral("kind"), int(word.kind)},
                                  {QStringLiteral("name"), QString(word.name)},
                                  {QStringLiteral("values"), word.values},
                                  {QStringLiteral("sensor"), word.sensor}});
    QJsonArray buttons;
    for (const ButtonWord& word : buttonWords)
        buttons.append(QJsonObject{{QStringLiteral("button"), int(word.button)},
                                   {QStringLiteral("name"), QString(word.name)},
                                   {QStringLiteral("sign"), buttonSign(word.button)}});
    QJsonArray buttonGestures;
    for (int gesture = 0; gesture < int(buttonGestureWords.size()); ++gesture)
        buttonGestures.append(QJsonObject{{QStringLiteral("gesture"), gesture},
                                          {QStringLiteral("name"), buttonGestureName(gesture)}});
    return {{QStringLiteral("events"), events},
            {QStringLiteral("buttons"), buttons},
            {QStringLiteral("buttonGestures"), buttonGestures},
            {QStringLiteral("headGestures"), QJsonArray::fromStringList(headGestureNames())}};
}
