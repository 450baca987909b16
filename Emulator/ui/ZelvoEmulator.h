#pragma once

#include "util/Randomizer.h"
#include "model/ZelvoEvent.h"
#include "model/ZelvoLayout.h"
#include "record/ZelvoRecord.h"
#include "ui/ZelvoScreen.h"
#include "comm/ZelvoAgentSink.h"

#include <QGraphicsView>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPoint>
#include <QString>
#include <QTransform>

#include <functional>
#include <memory>

class Button;
class QGraphicsSimpleTextItem;
class QListWidget;
class QPainter;
class ZelvoClock;
class ZelvoClockTimer;
class ZelvoDevicePanel;
class ZelvoDisplay;
class ZelvoDisplayHistory;
class ZelvoDisplayRecorder;
class ZelvoHeadMotion;
class ZelvoMessagesWindow;
class ZelvoImageStore;
class ZelvoPictureCache;
class ZelvoRecorder;
class ZelvoSensorList;
class ZelvoServer;
class ZelvoServices;
class ZelvoSessionRecorder;
struct ZelvoContent;
struct ZelvoTiming;

// The main window: the glasses with their display, the hardware buttons and
// the hub that connects the agent server, the sensor panel and the timers.
// Its definitions are split by concern: ZelvoEmulator.cpp (window, display,
// closing), ZelvoEmulator_content.cpp (images, drawing, timing),
// ZelvoEmulator_layouts.cpp (layout file), ZelvoEmulator_fullscreen.cpp,
// ZelvoEmulator_events.cpp (button events), ZelvoEmulator_sensors.cpp and
// ZelvoEmulator_reset.cpp.
class ZelvoEmulator : public QGraphicsView, public ZelvoAgentSink
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoEmulator)

public:
    // services are shared with the server, the control channel and the
    // page; both must outlive the window.
    ZelvoEmulator(ZelvoServer* server, const ZelvoServices& services, QWidget* parent);
    ~ZelvoEmulator() override;

    // Shows content of the content area's size (none: an empty display)
    // below the status strip, with or without the strip's icons.
    void updateDisplay(const QImage& content, bool showStatus);
    QImage batteryIcon() const;
    // The resource of the battery icon for the level and charging of now.
    QString batteryIconName() const;
    bool hasEnoughSpaceRight(QListWidget* list);
    bool confirmClose();

    // Stores the images before it returns, for a caller without an agent
    // connection (an agent's are stored off this thread by its inbox);
    // logs and records the outcome.
    void saveAgentImages(const QString& agentHash, const QList<QString>& images);

    QString pictureDirectory(const QString& agentHash, QString* writeError) override;
    // The agents' messages take effect, in each agent's order; source is
    // the message's, for its records.
    void applyTiming(const ZelvoTiming& timing, const ZelvoRecord::Source& source);
    void applyConfiguration(const ZelvoImageWriter::Configuration& configuration, const ZelvoRecord::Source& source);
    void applyContent(const ZelvoContent& content, const ZelvoRecord::Source& source);
    void drawLayout(const ZelvoLayout& layout, const QString& agentHash,
                    const QList<QString>& imagesId, const QList<QString>& texts);
    // Draws one text into its rectangle and says how it came out; its
    // characters when they are counted already (ZelvoContent), else -1.
    ZelvoScreen::Text drawElidedText(QPainter* painter, const QRect& rect, const QString& text,
                                     qsizetype characters = -1);

    void saveLayouts(const QString& fileName);
    void loadLayouts(const QString& fileName);

    // fromPose marks in the record a reading that the head pose gave.
    void dispatchSensorEvent(const ZelvoEvent& event, const QString& appId, int contentId, bool fromPose = false);
    void broadcastSensorEvent(const ZelvoEvent& event);

    // The window's buttons, as a person presses them with the mouse.
    enum class Control { FullScreen, Plus, Minus, Sensor };

    // What a person does at the window, for the mouse, the keys, the control
    // channel and tests alike: each action has this one road.

    // Full screen on or off; answers whether the window is in full-screen
    // mode afterwards (it stays in window mode when there is no screen).
    bool setFullScreen(bool on);
    // Back to the state of a fresh start, the agents still connected:
    // no content and its timers stopped, the default persisting times,
    // every sensor stopped, the battery and the random streams as they
    // began, window mode, no button held, recordings ended, a healthy
    // link, the agents' messages not yet taken effect dropped, the record
    // emptied and the stored pictures deleted. The clock keeps its mode.
    void reset();
    void pressControl(Control which);
    // The battery level the status strip shows (clamped to 0 to 100) and
    // whether it shows the charging bolt, with the battery event a reading
    // of that level gives; the sensor panel's level follows.
    void setBattery(int percent, bool charging);
    // A release over the button: a click, unless the press became long.
    void releaseControl(Control which);

    // Read-only views of the window's state, for tools and tests.
    QString agentOnDisplay() const { return currentAgentHash; }
    int contentIdOnDisplay() const { return currentContentId; }
    bool isContentOnDisplay() const { return contentOnDisplay; }
    // What the display really shows: the members above are set before the
    // content is checked, these only once it was drawn. -1 and empty when
    // the display shows no agent content.
    QString drawnAgent() const { return drawnAgentHash; }
    int drawnContentId() const { return drawnContent; }
    // What the display shows of the drawn content, line by line and
    // picture by picture; empty when it shows no agent content.
    const ZelvoScreen& screen() const { return shownScreen; }
    // The remaining times of the persisting timers; -1 when not running.
    qint64 minPersistingRemaining() const;
    qint64 maxPersistingRemaining() const;
    // Whether the status strip shows its icons.
    bool isStatusShown() const { return statusShown; }
    // The record of the latest content message or removal.
    const ZelvoRecord& lastContentOutcome() const { return lastOutcome; }
    bool isFullScreenMode() const { return fullScreen; }
    bool isMinPersistingTimerRunning() const;
    bool isMaxPersistingTimerRunning() const;
    int battery() const { return batteryPercent; }
    // The bolt shows while the battery simulation runs or when charging was set.
    bool isBatteryCharging() const;
    bool isChargingSet() const { return chargingSet; }
    QImage displayImage() const;
    const QList<ZelvoLayout>& layoutList() const { return layouts; }
    const ZelvoDisplay* displayItem() const { return display; }
    const Button* control(Control which) const;
    const Button* fullScreenControl() const { return fullScreenButton; }
    const Button* plusControl() const { return plusButton; }
    const Button* minusControl() const { return minusButton; }
    const Button* sensorControl() const { return sensorButton; }
    const ZelvoSensorList* sensorPanel() const { return sensorList; }
    // The panel offers its own operations (a reading, a simulation started
    // or stopped) to whoever holds the window.
    ZelvoSensorList* sensorPanel() { return sensorList; }
    // The display as data: what screen() shows, the status strip, full
    // screen and the persisting times still to run.
    QJsonObject screenState() const;
    // The same, its values taken now and written when called.
    std::function<QJsonObject()> screenDescription() const;
    // Where this emulator keeps its agents' images.
    ZelvoImageStore* imageStore() const { return agentImages.get(); }
    // Ends every recording, writing what was recorded so far.
    void stopRecordings();

    void toggleDevicePanel();
    // Made when a person first asks for it; nullptr until then.
    ZelvoDevicePanel* devicePanelWindow() const { return devicePanel.get(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onZelvoConfig(int minPersistingTMillis, int maxPersistingTMillis);
    void onAgentConfig(const QString& agentHash, const QList<QString>& imagesArray);
    void onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                        const QList<QString>& imagesId, const QList<QString>& texts);
    void onAgentContentTimeout();
    void onFullScreenToggle();
    void onFullScreenOn();
    void onFullScreenOff();
    void onPlusPressed();
    void onPlusReleased();
    void onPlusClicked();
    void onPlusLongPressed();
    void onMinusPressed();
    void onMinusReleased();
    void onMinusClicked();
    void onMinusLongPressed();
    void onSensorClicked();
    void onFullScreenOnSlot();
    void onFullScreenOffSlot();
    void onSingleShotValue(float* values, int type);
    void onBatteryChanged(int percent);
    void onStartBattery();
    void onStopBattery();
    void onStartAccelerometer(float* values);
    void onStopAccelerometer();
    void onStartCompass(float* values);
    void onStopCompass();
    void onStartLightSensor(float* values);
    void onStopLightSensor();
    void onSimulateBattery();
    void onSimulateAccelerometer();
    void onSimulateCompass();
    void onSimulateLightSensor();

private:
    Button* button(Control which) const;
    void enterFullScreen();
    void leaveFullScreen();

    // The scene as window mode shows it: at construction and on leaving full screen.
    void applyWindowModeLayout();
    // Changes the window's flags without hiding it.
    void setWindowFlagsInPlace(Qt::WindowFlags flags);
    void startPersistingTimers();
    void onMinPersistingElapsed();
    void onMaxPersistingElapsed();
    // The battery simulation starts its charge cycle at 0 again.
    static void restartBatteryCycle();
    void sendButtonEvent(int button, int gesture);
    void toggleMessagesWindow();
    // drawLayout with the layout id as the message gave it.
    void drawContent(const ZelvoLayout& layout, const QString& layoutId, const QString& agentHash,
                     const QList<QString>& imagesId, const QList<QString>& texts,
                     const QList<qsizetype>& textCharacters);
    // Appends a content outcome to the server's record and keeps it as the
    // last; the outcome of a message carries the message's source.
    void recordContent(ZelvoRecord record);
    // The device panel, if open, follows the battery.
    void showBatteryInPanel();
    // A display image with nothing drawn in it yet, at the display's own
    // resolution.
    static QImage newDisplayImage();
    // A display image with an empty content area, content drawn into it
    // later; its strip is drawStatusStrip's to draw.
    static QImage blankDisplayImage();
    // Registers the compiled-in content font, once per process.
    static void loadContentFont();
    // Replaces the strip of rows 0 to 23, drawn by an untransformed painter,
    // with its icons of this moment when shown; the content below stays.
    void drawStatusStrip(QPainter* painter, bool showStatus);
    // The strip drawn again over the content shown now.
    void redrawStatusStrip(bool showStatus);
    void showDisplayImage(const QImage& image);
    // While the clock is manual, a line at the foot of the window (not on
    // the glasses' display) says so and where it stands.
    void showClockMark();

    QString currentAgentHash;
    int currentContentId = -1;
    bool fullScreen = false;
    // The full-screen layout has been applied since the last switch to it.
    bool fullScreenLaidOut = false;
    bool contentOnDisplay = false;
    ZelvoClock* deviceClock = nullptr;
    ZelvoClockTimer* minPersistingTimer = nullptr;
    // The content whose minimum time runs.
    int minPersistingContentId = -1;
    QString drawnAgentHash;
    int drawnContent = -1;
    ZelvoRecord lastOutcome;
    ZelvoScreen shownScreen;
    ZelvoRecord::Source contentSource;
    ZelvoClockTimer* maxPersistingTimer = nullptr;
    static constexpr int defaultMinPersistingMillis = 4000;
    static constexpr int defaultMaxPersistingMillis = 6000;
    static constexpr int firstBatteryPercent = 20;
    int minPersistingTMillis = defaultMinPersistingMillis;
    int maxPersistingTMillis = defaultMaxPersistingMillis;
    int batteryPercent = firstBatteryPercent;
    // Charging as set by setBattery(), beside the running battery simulation.
    bool chargingSet = false;
    // Whether the last composition drew the status strip's icons, so that a
    // changed battery can be shown at once where they are shown.
    bool statusShown = false;
    // The strip with icons last composed and the state it shows.
    QImage statusStrip;
    QString statusStripBattery;
    bool statusStripConnected = false;
    Randomizer randomizer;
    ZelvoServer* server = nullptr;
    // Handed on to the device panel, made later.
    const ZelvoServices& services;
    ZelvoRecorder* messageRecorder = nullptr;
    ZelvoImageWriter* pictureWriter = nullptr;
    ZelvoDisplay* display = nullptr;
    Button* fullScreenButton = nullptr;
    Button* plusButton = nullptr;
    Button* minusButton = nullptr;
    Button* sensorButton = nullptr;
    ZelvoEvent accelerometerEvent;
    ZelvoEvent compassEvent;
    ZelvoEvent lightSensorEvent;
    ZelvoSensorList* sensorList = nullptr;
    ZelvoClockTimer* batteryTimer = nullptr;
    ZelvoClockTimer* accelerometerTimer = nullptr;
    ZelvoClockTimer* compassTimer = nullptr;
    ZelvoClockTimer* lightSensorTimer = nullptr;
    // The program's, handed in with services.
    ZelvoHeadMotion* head = nullptr;
    ZelvoDisplayRecorder* displayRecording = nullptr;
    ZelvoSessionRecorder* sessionRecording = nullptr;
    ZelvoDisplayHistory* displayChanges = nullptr;
    // Made when the clock first turns manual.
    QGraphicsSimpleTextItem* clockMark = nullptr;
    QTransform savedDisplayTransform;
    // Where the window's frame stood before full screen, to return there.
    QPoint windowModePosition;
    QList<ZelvoLayout> layouts;
    // Made when F12 or the background's menu first asks for it.
    std::unique_ptr<ZelvoMessagesWindow> messagesWindow;
    std::unique_ptr<ZelvoDevicePanel> devicePanel;
    // The agents' pictures, decoded when their configuration stores them.
    std::unique_ptr<ZelvoImageStore> agentImages;
    std::unique_ptr<ZelvoPictureCache> pictureCache;
};
