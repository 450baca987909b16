#pragma once

#include <QSortFilterProxyModel>
#include <QString>

// The records of one agent (or of all), narrowed further by a text that
// any column, the sentence included, must contain regardless of case.
class ZelvoRecordFilter final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoRecordFilter)

public:
    explicit ZelvoRecordFilter(QObject* parent = nullptr);

    // Empty for every agent; link events without an agent then show too.
    void setAgent(const QString& agent);
    void setSearchText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString agentShown;
};
