#include "ui/sensor/ZelvoSensorList.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidgetItem>
#include <QPushButton>
#include <QSizePolicy>
#include <QSlider>
#include <QSpacerItem>
#include <QTextEdit>
#include <QTimer>

namespace {

// Named in full: a name without its suffix has QIcon look the picture's
// type up in the MIME database and try every image format in turn, which
// the window's start waited for.
const QString playIcon = QStringLiteral(":/data/sensor_play.png");
const QString pauseIcon = QStringLiteral(":/data/sensor_pause.png");
constexpr int headerHeight = 62;
constexpr int singleShotHeight = 48;
constexpr int singleFieldWidth = 40;

} // namespace

ZelvoSensorList::ZelvoSensorList(QWidget* parent)
    : QListWidget(parent)
    , batterySlider(std::make_unique<QSlider>())
{
    batterySlider->setRange(0, 100);
    setFixedSize(240, 450);
    // Its rows load the machine's fonts, which the window's first showing
    // need not wait for: they are made once the event loop runs, or as soon
    // as anything asks for them.
    QTimer::singleShot(0, this, &ZelvoSensorList::makeRows);
}

ZelvoSensorList::~ZelvoSensorList() = default;

void ZelvoSensorList::makeRows()
{
    if (batteryButton)
        return;
    batteryButton = addHeaderRow(QStringLiteral(":/data/sensor_battery.png"), tr("Battery"),
                                 &ZelvoSensorList::startStopBattery);
    batteryValueEdit = addSingleValueRow(Battery);
    accelerometerButton = addHeaderRow(QStringLiteral(":/data/sensor_accelerometer.png"), tr("Accelerometer"),
                                       &ZelvoSensorList::startStopAccelerometer);
    addSingleShotRow(Accelerometer);
    compassButton = addHeaderRow(QStringLiteral(":/data/sensor_compass.png"), tr("Compass"),
                                 &ZelvoSensorList::startStopCompass);
    addSingleShotRow(Compass);
    lightSensorButton = addHeaderRow(QStringLiteral(":/data/sensor_light.png"), tr("Light Sensor"),
                                     &ZelvoSensorList::startStopLightSensor);
    lightValueEdit = addSingleValueRow(LightSensor);
}

void ZelvoSensorList::showEvent(QShowEvent* event)
{
    makeRows();
    QListWidget::showEvent(event);
}

void ZelvoSensorList::setBatteryPercent(int percent)
{
    batterySlider->setValue(percent);
}

int ZelvoSensorList::batteryPercent() const
{
    return batterySlider->value();
}

void ZelvoSensorList::programmedStop(int sensor)
{
    qCDebug(zelvoSensorsLog) << "Entered Button stop";
    makeRows();
    switch (sensor) {
    case 1:
        accelerometerRunning = false;
        emit stopAccelerometer();
        showRunning(accelerometerButton, accelerometerRunning);
        break;
    case 2:
        compassRunning = false;
        emit stopCompass();
        showRunning(compassButton, compassRunning);
        break;
    case 3:
        lightSensorRunning = false;
        emit stopLightSensor();
        showRunning(lightSensorButton, lightSensorRunning);
        break;
    default:
        break;
    }
}

QPushButton* ZelvoSensorList::startStopButton(int sensor)
{
    makeRows();
    switch (sensor) {
    case Battery:
        return batteryButton;
    case Accelerometer:
        return accelerometerButton;
    case Compass:
        return compassButton;
    case LightSensor:
        return lightSensorButton;
    default:
        return nullptr;
    }
}

QPushButton* ZelvoSensorList::singleShotButton(int sensor)
{
    if (sensor < Battery || sensor > LightSensor)
        return nullptr;
    makeRows();
    return singleShotButtons[sensor - Battery];
}

QTextEdit* ZelvoSensorList::valueEdit(int sensor, int axis)
{
    if (axis < 0 || axis >= ZelvoSensorReading::valueCount(sensor))
        return nullptr;
    makeRows();
    switch (sensor) {
    case Battery:
        return batteryValueEdit;
    case Accelerometer:
        return accelerometerEdits[axis];
    case Compass:
        return compassEdits[axis];
    case LightSensor:
        return lightValueEdit;
    default:
        return nullptr;
    }
}

bool ZelvoSensorList::isRunning(int sensor) const
{
    switch (sensor) {
    case Battery:
        return batteryRunning;
    case Accelerometer:
        return accelerometerRunning;
    case Compass:
        return compassRunning;
    case LightSensor:
        return lightSensorRunning;
    default:
        return false;
    }
}

bool ZelvoSensorList::setRunning(int sensor, bool running)
{
    if (!startStopButton(sensor) || isRunning(sensor) == running)
        return false;
    // The start signals carry the fields, for the log only.
    const std::array<float, 3> fields = fieldValues(sensor);
    float values[3] = {fields[0], fields[1], fields[2]};
    switch (sensor) {
    case Battery:
        batteryRunning = running;
        if (running)
            emit startBattery();
        else
            emit stopBattery();
        break;
    case Accelerometer:
        qCDebug(zelvoSensorsLog) << "Started";
        accelerometerRunning = running;
        if (running)
            emit startAccelerometer(values);
        else
            emit stopAccelerometer();
        break;
    case Compass:
        compassRunning = running;
        if (running)
            emit startCompass(values);
        else
            emit stopCompass();
        break;
    case LightSensor:
        lightSensorRunning = running;
        if (running)
            emit startLightSensor(values);
        else
            emit stopLightSensor();
        break;
    }
    showRunning(startStopButton(sensor), running);
    return true;
}

void ZelvoSensorList::sendReading(int sensor, const std::array<float, 3>& values)
{
    if (!singleShotButton(sensor))
        return;
    for (int axis = 0; axis < 3; ++axis) {
        QTextEdit* edit = valueEdit(sensor, axis);
        // A field that already reads as the value keeps the text typed into it.
        // Nine significant digits give back the same float when read.
        if (edit && fieldValue(edit) != values[size_t(axis)])
            edit->setPlainText(QString::number(double(values[size_t(axis)]), 'g', 9));
    }
    float sent[3] = {values[0], values[1], values[2]};
    for (int axis = ZelvoSensorReading::valueCount(sensor); axis < 3; ++axis)
        sent[axis] = 0.0f;
    emit singleShotValue(sent, sensor);
}

std::array<float, 3> ZelvoSensorList::fieldValues(int sensor)
{
    std::array<float, 3> values = {0.0f, 0.0f, 0.0f};
    for (int axis = 0; axis < 3; ++axis) {
        if (const QTextEdit* edit = valueEdit(sensor, axis))
            values[size_t(axis)] = fieldValue(edit);
    }
    return values;
}

void ZelvoSensorList::startStopBattery()
{
    setRunning(Battery, !batteryRunning);
}

void ZelvoSensorList::startStopAccelerometer()
{
    setRunning(Accelerometer, !accelerometerRunning);
}

void ZelvoSensorList::startStopCompass()
{
    setRunning(Compass, !compassRunning);
}

void ZelvoSensorList::startStopLightSensor()
{
    setRunning(LightSensor, !lightSensorRunning);
}

void ZelvoSensorList::singleShotBattery()
{
    sendReading(Battery, fieldValues(Battery));
}

void ZelvoSensorList::singleShotAcc()
{
    sendReading(Accelerometer, fieldValues(Accelerometer));
}

void ZelvoSensorList::singleShotCompass()
{
    sendReading(Compass, fieldValues(Compass));
}

void ZelvoSensorList::singleShotLight()
{
    sendReading(LightSensor, fieldValues(LightSensor));
}

QPushButton* ZelvoSensorList::addHeaderRow(const QString& icon, const QString& title,
                                           void (ZelvoSensorList::*slot)())
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->addWidget(new QLabel(title));
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));
    QPushButton* button = createPlayButton();
    layout->addWidget(button);
    connect(button, &QPushButton::clicked, this, slot);
    appendRow(row, headerHeight, icon);
    return button;
}

QTextEdit* ZelvoSensorList::addSingleValueRow(int sensor)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    QTextEdit* edit = createField(Qt::ImhHiddenText);
    edit->setFixedWidth(singleFieldWidth);
    layout->addWidget(edit);
    addSingleShotButton(layout, sensor);
    singleShotButtons[sensor - Battery]->setFixedWidth(singleFieldWidth);
    appendRow(row, singleShotHeight);
    return edit;
}

// The accelerometer's or the compass's three fields.
void ZelvoSensorList::addSingleShotRow(int sensor)
{
    Edits& edits = sensor == Accelerometer ? accelerometerEdits : compassEdits;
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    edits = {createField(Qt::ImhHiddenText), createField(Qt::ImhFormattedNumbersOnly),
             createField(Qt::ImhFormattedNumbersOnly)};
    for (QTextEdit* edit : edits)
        layout->addWidget(edit);
    addSingleShotButton(layout, sensor);
    appendRow(row, singleShotHeight);
}

void ZelvoSensorList::addSingleShotButton(QLayout* layout, int sensor)
{
    using Slot = void (ZelvoSensorList::*)();
    static constexpr std::array<Slot, 4> shots = {&ZelvoSensorList::singleShotBattery,
                                                  &ZelvoSensorList::singleShotAcc,
                                                  &ZelvoSensorList::singleShotCompass,
                                                  &ZelvoSensorList::singleShotLight};
    QPushButton* button = createPlayButton();
    layout->addWidget(button);
    connect(button, &QPushButton::clicked, this, shots[sensor - Battery]);
    singleShotButtons[sensor - Battery] = button;
}

void ZelvoSensorList::appendRow(QWidget* widget, int height, const QString& icon)
{
    auto* item = new QListWidgetItem(this);
    if (!icon.isEmpty())
        item->setIcon(QIcon(icon));
    item->setSizeHint(QSize(0, height));
    setItemWidget(item, widget);
}

QTextEdit* ZelvoSensorList::createField(Qt::InputMethodHints hints)
{
    auto* edit = new QTextEdit(QStringLiteral("0"));
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setInputMethodHints(hints);
    return edit;
}

QPushButton* ZelvoSensorList::createPlayButton()
{
    return new QPushButton(QIcon(playIcon), QString());
}

// As QString::toFloat reads it: 0 for text that is no number, and "inf",
// "nan" or a number beyond a float's range as the infinity or NaN it gives.
// Events carry values as text, so these travel as "inf" and "nan".
float ZelvoSensorList::fieldValue(const QTextEdit* edit)
{
    return edit->toPlainText().toFloat();
}

void ZelvoSensorList::showRunning(QPushButton* button, bool running)
{
    button->setIcon(QIcon(running ? pauseIcon : playIcon));
}
