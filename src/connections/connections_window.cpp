#include "connections/connections_window.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "connections/links_csv.h"
#include "connections/links_model.h"
#include "connections/mapping_summary.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/platform.h"
#include "service/mapping_service.h"
#include "shell/roster.h"

namespace qv {

namespace {
// The widest text a column usually shows, with room around it.
const char* WidestText(TLinksModel::Column column) {
    using Column = TLinksModel::Column;
    switch (column) {
    case Column::Mapping:
        return "Mapping #6__";
    case Column::Client:
    case Column::Destination:
        return "[2001:db8::1]:65535__";
    case Column::State:
        return "half-closed__";
    case Column::Reason:
        return "closed from the connections window__";
    case Column::Sent:
    case Column::Received:
        return "1023 KiB (99999 dgrams)__";
    case Column::RateUp:
    case Column::RateDown:
        return "1023 KiB/s__";
    case Column::Duration:
        return "1 h 02 min__";
    default:
        return "";
    }
}
} // namespace

TConnectionsForm::TConnectionsForm(TRoster& roster)
    : SecondaryWindow(roster, "ConnectionsForm", "Quorvane - Internet Port Mapping - Connections",
                      QSize(980, 640)) {
    // Unlike the other windows this one is a table to read: it may be made larger.
    setMinimumSize(640, 420);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    BuildStandardMenu(false);
    auto* page = new QWidget(this);
    setCentralWidget(page);
    auto* layout = new QVBoxLayout(page);

    summary_ = new TMappingSummary(page);
    live_ = new TLinksModel(TLinksModel::Kind::Live, this);
    ended_ = new TLinksModel(TLinksModel::Kind::Ended, this);
    filter_ = new QLineEdit(page);
    filter_->setObjectName(QStringLiteral("ConnectionsFilter"));
    filter_->setPlaceholderText(QStringLiteral("Filter: mapping, address or state"));
    filter_->setClearButtonEnabled(true);
    liveView_ = NewTable("ConnectionsView", live_, liveProxy_);
    endedView_ = NewTable("EndedConnectionsView", ended_, endedProxy_);
    closeConnection_ = NewButton(page, "CloseConnection", "Close Connection",
                                 "Close Connection|End the selected connections (Delete)");
    exportConnections_ = NewButton(page, "ExportConnections", "Export...",
                                   "Export|Write the live and ended connections to a CSV file");
    closeConnection_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(filter_, 1);
    buttons->addWidget(closeConnection_);
    buttons->addWidget(exportConnections_);
    layout->addWidget(summary_);
    layout->addLayout(buttons);
    layout->addWidget(liveView_, 3);
    layout->addWidget(new QLabel(QStringLiteral("Ended connections, newest first:"), page));
    layout->addWidget(endedView_, 2);
    FitColumns(*layout);

    Platform& platform = roster.platform();
    for (QSortFilterProxyModel* proxy : {liveProxy_, endedProxy_})
        connect(filter_, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    OnSignal(closeConnection_, &QPushButton::clicked, this, platform, [this] { CloseConnectionClick(); });
    OnSignal(exportConnections_, &QPushButton::clicked, this, platform, [this] { ExportConnectionsClick(); });
    connect(liveView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TConnectionsForm::UpdateButtons);
    liveView_->installEventFilter(this);
    connect(summary_, &TMappingSummary::RulesWanted, this,
            [this](int slot) { roster_.ShowMappingRules(slot); });
    refresh_.setInterval(kRefresh);
    OnSignal(&refresh_, &QTimer::timeout, this, platform, [this] { Refresh(); });
}

QTableView* TConnectionsForm::NewTable(const char* name, TLinksModel* model, QSortFilterProxyModel*& proxy) {
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->setSortRole(Qt::UserRole);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    // The table follows the snapshots as they come; sorting and filtering follow the changes.
    proxy->setDynamicSortFilter(true);
    auto* view = new QTableView(centralWidget());
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(proxy);
    view->setSortingEnabled(true);
    // Unsorted until a header is clicked: the live links in the order they came, the ended newest first.
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    proxy->sort(-1);
    // Each column as wide as its caption or its usual widest text, whichever is wider.
    for (int column = 0; column < model->columnCount(); ++column) {
        const QString widest = QString::fromLatin1(WidestText(model->ColumnAt(column)));
        view->setColumnWidth(column, std::max(view->horizontalHeader()->sectionSizeHint(column),
                                              view->fontMetrics().horizontalAdvance(widest)));
    }
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setWordWrap(false);
    return view;
}

void TConnectionsForm::FitColumns(const QLayout& layout) {
    // Wide enough for every column of both tables, as far as the screen has room: only on a smaller
    // screen do the tables scroll sideways.
    int width = 0;
    for (const QTableView* view : {liveView_, endedView_}) {
        int columns = 2 * view->frameWidth() + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        for (int column = 0; column < view->model()->columnCount(); ++column)
            columns += view->columnWidth(column);
        width = std::max(width, columns);
    }
    const QMargins margins = layout.contentsMargins();
    QSize size(std::max(this->width(), width + margins.left() + margins.right()), height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(room.size());
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, room));
    } else {
        resize(size);
    }
}

void TConnectionsForm::Refresh() {
    const TMappingService& service = roster_.Service();
    const auto now = std::chrono::steady_clock::now();
    std::vector<MappingLink> live = service.LiveLinks();
    const bool newSecond = now - lastSecond_ >= std::chrono::seconds(1);
    if (newSecond)
        lastSecond_ = now;
    summary_->Update(service, live, newSecond);
    live_->UpdateLive(std::move(live), now);
    const std::uint64_t ended = service.EndedCount();
    ended_->UpdateEnded(service.EndedLinks(), static_cast<std::size_t>(ended - endedSeen_));
    endedSeen_ = ended;
    UpdateButtons();
}

void TConnectionsForm::UpdateButtons() {
    closeConnection_->setEnabled(liveView_->selectionModel()->hasSelection());
}

void TConnectionsForm::CloseConnectionClick() {
    std::set<std::pair<int, std::uint64_t>> chosen;
    for (const QModelIndex& index : liveView_->selectionModel()->selectedRows())
        if (const MappingLink* link = live_->LinkAt(liveProxy_->mapToSource(index).row()))
            chosen.emplace(link->slot, link->figures.id);
    for (const auto& [slot, id] : chosen)
        roster_.Service().CloseLink(slot, id);
    liveView_->clearSelection();
}

void TConnectionsForm::ExportConnectionsClick() {
    // Dated, so that exports of different days sit side by side in the documents folder.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString suggested = QDir(folder).filePath(
        QStringLiteral("quorvane-connections-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)));
    const QString name = roster_.platform().SaveTableFileName(this, suggested);
    if (name.isEmpty())
        return;
    const TMappingService& service = roster_.Service();
    const QByteArray text =
        LinksCsv(service.LiveLinks(), service.EndedLinks(), std::chrono::system_clock::now()).toUtf8();
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush())
        throw std::runtime_error("Unable to write to " + name.toLocal8Bit().toStdString());
}

void TConnectionsForm::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    Guarded(roster_.platform(), [this] { Refresh(); });
    refresh_.start();
}

void TConnectionsForm::hideEvent(QHideEvent* event) {
    refresh_.stop();
    SecondaryWindow::hideEvent(event);
}

bool TConnectionsForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == liveView_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && closeConnection_->isEnabled()) {
        Guarded(roster_.platform(), [this] { CloseConnectionClick(); });
        return true;
    }
    return SecondaryWindow::eventFilter(watched, event);
}

} // namespace qv
