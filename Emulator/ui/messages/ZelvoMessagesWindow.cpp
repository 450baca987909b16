#include "ui/messages/ZelvoMessagesWindow.h"

#include "record/ZelvoRecorder.h"
#include "ui/messages/ZelvoMessageDetail.h"
#include "ui/messages/ZelvoRecordFilter.h"
#include "ui/messages/ZelvoRecordModel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString geometryKey = QStringLiteral("messages/geometry");
// The main program names no organisation, so QSettings is told where to keep it.
const QString settingsOrganization = QStringLiteral("Zelvo");
const QString settingsApplication = QStringLiteral("ZelvoEmulator");
// A hostile agent may name a new agent in every message: the filter lists
// the first ones only.
constexpr int maxListedAgents = 256;

} // namespace

ZelvoMessagesWindow::ZelvoMessagesWindow(ZelvoRecorder* recorder, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , model(new ZelvoRecordModel(recorder, this))
    , filter(new ZelvoRecordFilter(this))
    , agentChoice(new QComboBox)
    , search(new QLineEdit)
    , view(new QTableView)
    , detail(new ZelvoMessageDetail)
{
    setWindowTitle(tr("Zelvo Messages"));
    filter->setSourceModel(model);

    agentChoice->addItem(tr("All agents"));
    // Agent hashes come from the agents and may be of any length.
    agentChoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    agentChoice->setMinimumContentsLength(16);
    search->setPlaceholderText(tr("Search"));
    search->setClearButtonEnabled(true);
    connect(agentChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { filter->setAgent(index > 0 ? agentChoice->itemText(index) : QString()); });
    connect(search, &QLineEdit::textChanged, filter, &ZelvoRecordFilter::setSearchText);

    view->setModel(filter);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    // Rows of one height let the view skip measuring thousands of sentences.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    // Widths by the longest usual text, not by measuring rows as they come,
    // so that the columns keep still while the stream runs.
    const auto fit = [this](int column, const QString& widest) {
        view->setColumnWidth(column, view->fontMetrics().horizontalAdvance(widest) + 16);
    };
    fit(ZelvoRecordModel::TimeColumn, QStringLiteral("00:00:00.000"));
    fit(ZelvoRecordModel::AgentColumn, QStringLiteral("an-agent-hash"));
    fit(ZelvoRecordModel::DirectionColumn, tr("Direction"));
    fit(ZelvoRecordModel::KindColumn, QStringLiteral("agent_content"));

    // Whether to follow is decided before the row arrives: afterwards the
    // scroll bar's maximum has already grown.
    connect(filter, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = view->verticalScrollBar();
        followStream = bar->value() == bar->maximum();
    });
    connect(filter, &QAbstractItemModel::rowsInserted, this, [this] {
        if (followStream)
            view->scrollToBottom();
    });
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { addAgents(first, last); });
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showCurrent(current); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Agent")));
    bar->addWidget(agentChoice);
    bar->addWidget(search, 1);
    auto* deviceButton = new QPushButton(tr("Device..."));
    connect(deviceButton, &QPushButton::clicked, this, &ZelvoMessagesWindow::devicePanelRequested);
    bar->addWidget(deviceButton);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(view);
    splitter->addWidget(detail);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);

    resize(1000, 640);
    addAgents(0, model->rowCount() - 1);
}

// Also on the way out while shown: the program may end with the window open.
ZelvoMessagesWindow::~ZelvoMessagesWindow()
{
    if (isVisible())
        rememberGeometry();
}

void ZelvoMessagesWindow::toggle()
{
    if (isVisible()) {
        hide();
        return;
    }
    restoreGeometry(QSettings(settingsOrganization, settingsApplication).value(geometryKey).toByteArray());
    // A window manager places a window that is mapped again by its own rule
    // unless the program has named the place; restoring a place the window
    // already had names none.
    if (QWindow* handle = windowHandle())
        handle->setPosition(geometry().topLeft());
    show();
    if (followStream)
        view->scrollToBottom();
    raise();
    activateWindow();
}

void ZelvoMessagesWindow::hideEvent(QHideEvent* event)
{
    // Hidden is as far as a close goes: the window is kept for the next time.
    if (!event->spontaneous())
        rememberGeometry();
    QWidget::hideEvent(event);
}

void ZelvoMessagesWindow::rememberGeometry()
{
    QSettings(settingsOrganization, settingsApplication).setValue(geometryKey, saveGeometry());
}

void ZelvoMessagesWindow::addAgents(int firstRow, int lastRow)
{
    for (int row = firstRow; row <= lastRow; ++row) {
        const QString agent = model->record(row).agent;
        if (agentChoice->count() > maxListedAgents)
            return;
        if (!agent.isEmpty() && agentChoice->findText(agent, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
            agentChoice->addItem(agent);
    }
}

void ZelvoMessagesWindow::showCurrent(const QModelIndex& current)
{
    if (!current.isValid()) {
        detail->clear();
        return;
    }
    detail->showRecord(model->record(filter->mapToSource(current).row()));
}
