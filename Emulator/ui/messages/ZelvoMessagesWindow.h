#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;
class QModelIndex;
class QTableView;
class ZelvoMessageDetail;
class ZelvoRecordFilter;
class ZelvoRecordModel;
class ZelvoRecorder;

// "Zelvo Messages": what became of every agent message, newest at the
// bottom, beside the glasses in a top-level window of its own. It follows
// the stream while scrolled to the bottom, and keeps still while a person
// reads further up. Its place on the screen outlives the program.
class ZelvoMessagesWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoMessagesWindow)

public:
    // The recorder must outlive the window.
    explicit ZelvoMessagesWindow(ZelvoRecorder* recorder, QWidget* parent = nullptr);
    ~ZelvoMessagesWindow() override;

    // Shows the window where it last was, or hides it.
    void toggle();

    ZelvoRecordModel* recordModel() const { return model; }
    ZelvoRecordFilter* recordFilter() const { return filter; }
    QTableView* recordView() const { return view; }
    ZelvoMessageDetail* detailPane() const { return detail; }

signals:
    // A person asks for the device panel (link and battery).
    void devicePanelRequested();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void rememberGeometry();
    void addAgents(int firstRow, int lastRow);
    void showCurrent(const QModelIndex& current);

    ZelvoRecordModel* model = nullptr;
    ZelvoRecordFilter* filter = nullptr;
    QComboBox* agentChoice = nullptr;
    QLineEdit* search = nullptr;
    QTableView* view = nullptr;
    ZelvoMessageDetail* detail = nullptr;
    bool followStream = true;
};
