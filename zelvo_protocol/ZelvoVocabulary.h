#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QJsonObject;

// The words the glasses, the emulator, its tools and its web page share for
// what happens on the device, each with its number on the wire and its
// name: the kinds of event, the buttons, what a button did, and the head's
// gestures. Agents compare the numbers, scripts and stored records use the
// names; both stay as they are. A new sensor is one more kind here, its
// row in the table, and its simulation.
class ZelvoVocabulary
{
public:
    // Distinct powers of two, as the glasses number them.
    enum EventKind {
        BatteryEvent = 2,
        ButtonEvent = 4,
        AccelerometerEvent = 16,
        CompassEvent = 32,
        LightSensorEvent = 64
    };
    // A button event's first value.
    enum Button { PlusButton = 0, MinusButton = 1 };
    // A button event's second value.
    enum ButtonGesture { Pressed = 0, Released = 1, Clicked = 2, LongPressed = 3 };
    // The wearer's head; the emulator's own numbering, never on the wire.
    enum HeadGesture { Nod, Shake, TiltLeft, TiltRight, LookUp, LookDown };

    // "battery", "button", "accelerometer", "compass", "light"; empty for
    // a number that is no kind.
    static QString eventKindName(int kind);
    // The values of an event of the kind that mean something (the rest are
    // 0); 0 for a number that is no kind.
    static int valueCount(int kind);
    // The kinds a sensor sends, in the order people see them.
    static QList<EventKind> sensorKinds();

    // "plus", "minus".
    static QString buttonName(int button);
    // "+", the minus sign: what the button shows.
    static QString buttonSign(int button);
    static QStringList buttonNames();
    // "pressed", "released", "clicked", "long pressed".
    static QString buttonGestureName(int gesture);

    // "nod", "shake", "tilt-left", "tilt-right", "look-up", "look-down".
    static QString headGestureName(HeadGesture gesture);
    static QStringList headGestureNames();

    // All of it, for a reader that knows none of it (the web page):
    // {"events": [{"kind", "name", "values", "sensor"}], "buttons": [{"button",
    // "name", "sign"}], "buttonGestures": [{"gesture", "name"}], "headGestures": [names]}.
    static QJsonObject toJson();
};
