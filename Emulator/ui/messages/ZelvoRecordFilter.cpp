#include "ui/messages/ZelvoRecordFilter.h"

#include "ui/messages/ZelvoRecordModel.h"

ZelvoRecordFilter::ZelvoRecordFilter(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setFilterKeyColumn(-1);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
}

void ZelvoRecordFilter::setAgent(const QString& agent)
{
    if (agent == agentShown)
        return;
    agentShown = agent;
    invalidateFilter();
}

void ZelvoRecordFilter::setSearchText(const QString& text)
{
    setFilterFixedString(text);
}

bool ZelvoRecordFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!agentShown.isEmpty()) {
        const QModelIndex agent = sourceModel()->index(sourceRow, ZelvoRecordModel::AgentColumn, sourceParent);
        if (agent.data().toString() != agentShown)
            return false;
    }
    return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
}
