#include "ui/messages/ZelvoRecordModel.h"

#include "record/ZelvoRecorder.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace {

// Pale backgrounds keep the text readable in any palette.
QVariant outcomeBackground(const ZelvoRecord& record)
{
    switch (record.outcome) {
    case ZelvoRecord::Outcome::Drawn:
        // Drawn, but not all of it can be read.
        if (record.hasFitProblems())
            return QBrush(QColor(0xfb, 0xd8, 0xb0));
        return QBrush(QColor(0xc8, 0xee, 0xc8));
    case ZelvoRecord::Outcome::Skipped:
        return QBrush(QColor(0xfa, 0xec, 0xa8));
    // Each of these is a message the emulator did not act on, or one that
    // did not go out.
    case ZelvoRecord::Outcome::Refused:
    case ZelvoRecord::Outcome::Dropped:
    case ZelvoRecord::Outcome::NotDrawn:
    case ZelvoRecord::Outcome::NoAction:
        return QBrush(QColor(0xf6, 0xc4, 0xc4));
    default:
        return QVariant();
    }
}

} // namespace

ZelvoRecordModel::ZelvoRecordModel(ZelvoRecorder* recorder, QObject* parent)
    : QAbstractTableModel(parent)
    , recorder(recorder)
{
    connect(recorder, &ZelvoRecorder::aboutToAppend, this,
            [this](int index) { beginInsertRows(QModelIndex(), index, index); });
    connect(recorder, &ZelvoRecorder::appended, this, [this] { endInsertRows(); });
    connect(recorder, &ZelvoRecorder::aboutToDropOldest, this,
            [this](int count) { beginRemoveRows(QModelIndex(), 0, count - 1); });
    connect(recorder, &ZelvoRecorder::oldestDropped, this, [this] { endRemoveRows(); });
    connect(recorder, &ZelvoRecorder::aboutToClear, this, [this] { beginResetModel(); });
    connect(recorder, &ZelvoRecorder::cleared, this, [this] { endResetModel(); });
}

const ZelvoRecord& ZelvoRecordModel::record(int row) const
{
    return recorder->at(row);
}

int ZelvoRecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : recorder->size();
}

int ZelvoRecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ZelvoRecordModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const ZelvoRecord& shown = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return QDateTime::fromMSecsSinceEpoch(shown.timeMillis).toString(QStringLiteral("HH:mm:ss.zzz"));
        case AgentColumn:
            return shown.agent;
        case DirectionColumn:
            return ZelvoRecord::directionName(shown.direction);
        case KindColumn:
            return ZelvoRecord::kindName(shown.kind);
        case OutcomeColumn:
            return shown.sentence();
        default:
            return QVariant();
        }
    case Qt::BackgroundRole:
        return outcomeBackground(shown);
    case Qt::ForegroundRole:
        if (shown.kind == ZelvoRecord::Kind::EventSent)
            return QBrush(Qt::gray);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant ZelvoRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case AgentColumn:
        return tr("Agent");
    case DirectionColumn:
        return tr("Direction");
    case KindColumn:
        return tr("Kind");
    case OutcomeColumn:
        return tr("Outcome");
    default:
        return QVariant();
    }
}
