#pragma once

#include <QAbstractTableModel>

class ZelvoRecord;
class ZelvoRecorder;

// The recorder's ring as a table, oldest record in row 0. Rows come and go
// with the ring's own signals; the sentence of a record is built only when a
// view asks for it, so a thousand unseen records cost nothing.
class ZelvoRecordModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoRecordModel)

public:
    enum Column { TimeColumn, AgentColumn, DirectionColumn, KindColumn, OutcomeColumn, ColumnCount };

    // The recorder must outlive the model.
    explicit ZelvoRecordModel(ZelvoRecorder* recorder, QObject* parent = nullptr);

    const ZelvoRecord& record(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    ZelvoRecorder* recorder = nullptr;
};
