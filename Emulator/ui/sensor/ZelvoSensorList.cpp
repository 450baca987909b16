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

namespace {

const QString playIcon = QStringLiteral(":data/sensor_play");
const QString pauseIcon = QStringLiteral(":data/sensor_pause");
constexpr int headerHeight = 62;
constexpr int singleShotHeight = 48;
constexpr int singleFieldWidth = 40;

} // namespace

ZelvoSensorList::ZelvoSensorList(QWidget* parent)
    : QListWidget(parent)
    , batterySlider(std::make_unique<QSlider>())
{
    batterySlider->setRange(0, 100);
    batteryButton = addHeaderRow(QStringLiteral(":data/sensor_battery"), tr("Battery"),
                                 &ZelvoSensorList::startStopBattery);
    batteryValueEdit = addSingleValueRow(Battery);
    accelerometerButton = addHeaderRow(QStringLiteral(":data/sensor_accelerometer"), tr("Accelerometer"),
                                       &ZelvoSensorList::startStopAccelerometer);
    addSingleShotRow(1);
    compassButton = addHeaderRow(QStringLiteral(":data/sensor_compass"), tr("Compass"),
                                 &ZelvoSensorList::startStopCompass);
    addSingleShotRow(2);
    lightSensorButton = addHeaderRow(QStringLiteral(":data/sensor_light"), tr("Light Sensor"),
                                     &ZelvoSensorList::startStopLightSensor);
    lightValueEdit = addSingleValueRow(LightSensor);
    setFixedSize(240, 450);
}

ZelvoSensorList::~ZelvoSensorList() = default;

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
    qCDebug(zelvoLog) << "Entered Button stop";
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

QPushButton* ZelvoSensorList::startStopButton(int sensor) const
{
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

QPushButton* ZelvoSensorList::singleShotButton(int sensor) const
{
    if (sensor < Battery || sensor > LightSensor)
        return nullptr;
    return singleShotButtons[sensor - Battery];
}

QTextEdit* ZelvoSensorList::valueEdit(int sensor, int axis) const
{
    const bool single = sensor == Battery || sensor == LightSensor;
    if (axis < 0 || axis >= (single ? 1 : 3))
        return nullptr;
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

void ZelvoSensorList::startStopBattery()
{
    batteryRunning = !batteryRunning;
    if (batteryRunning)
        emit startBattery();
    else
        emit stopBattery();
    showRunning(batteryButton, batteryRunning);
}

void ZelvoSensorList::startStopAccelerometer()
{
    qCDebug(zelvoLog) << "Started";
    accelerometerRunning = !accelerometerRunning;
    if (accelerometerRunning) {
        float values[3] = {fieldValue(accelerometerEdits[0]), fieldValue(accelerometerEdits[1]),
                           fieldValue(accelerometerEdits[2])};
        emit startAccelerometer(values);
    } else {
        emit stopAccelerometer();
    }
    showRunning(accelerometerButton, accelerometerRunning);
}

void ZelvoSensorList::startStopCompass()
{
    compassRunning = !compassRunning;
    if (compassRunning) {
        float values[3] = {fieldValue(compassEdits[0]), fieldValue(compassEdits[1]),
                           fieldValue(compassEdits[2])};
        emit startCompass(values);
    } else {
        emit stopCompass();
    }
    showRunning(compassButton, compassRunning);
}

void ZelvoSensorList::startStopLightSensor()
{
    lightSensorRunning = !lightSensorRunning;
    if (lightSensorRunning) {
        float values[3] = {fieldValue(lightValueEdit), 0.0f, 0.0f};
        emit startLightSensor(values);
    } else {
        emit stopLightSensor();
    }
    showRunning(lightSensorButton, lightSensorRunning);
}

void ZelvoSensorList::singleShotBattery()
{
    float values[3] = {fieldValue(batteryValueEdit), 0.0f, 0.0f};
    emit singleShotValue(values, Battery);
}

void ZelvoSensorList::singleShotAcc()
{
    float values[3] = {fieldValue(accelerometerEdits[0]), fieldValue(accelerometerEdits[1]),
                       fieldValue(accelerometerEdits[2])};
    emit singleShotValue(values, Accelerometer);
}

void ZelvoSensorList::singleShotCompass()
{
    float values[3] = {fieldValue(compassEdits[0]), fieldValue(compassEdits[1]),
                       fieldValue(compassEdits[2])};
    emit singleShotValue(values, Compass);
}

void ZelvoSensorList::singleShotLight()
{
    float values[3] = {fieldValue(lightValueEdit), 0.0f, 0.0f};
    emit singleShotValue(values, LightSensor);
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

// kind 1 is the accelerometer, kind 2 the compass.
void ZelvoSensorList::addSingleShotRow(int kind)
{
    const int sensor = kind == 1 ? Accelerometer : Compass;
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
