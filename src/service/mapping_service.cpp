#include "service/mapping_service.h"

#include <vector>

#include "core/logfile/log_file.h"
#include "core/relay/relay_listener.h"
#include "core/relay/relay_socket.h"
#include "platform/ui_timer.h"
#include "service/connection_event_queue.h"
#include "service/listen_failure.h"

namespace qv {

namespace {
// How long a stop waits for the links to end: the six mappings, then the timed one.
constexpr int kSlotStopWaitMs = 6000;
constexpr int kTimedStopWaitMs = 5000;
} // namespace

std::string EventText(const QString& entry) {
    return " " + entry.toLatin1().toStdString();
}

TMappingService::TMappingService(std::string logPath, QObject* parent)
    : QObject(parent), logPath_(std::move(logPath)),
      events_(std::make_unique<TConnectionEventQueue>([this](const ConnectionEvent& e) { Apply(e); })) {
    setObjectName(QStringLiteral("MappingService"));
    for (int slot = 1; slot <= kTimedSlot; ++slot) {
        listeners_[slot - 1] = std::make_unique<TRelayListener>();
        AttachListener(*listeners_[slot - 1], slot, slot == kTimedSlot ? kTimedStopWaitMs : kSlotStopWaitMs,
                       *events_);
    }
    // Until the timed mapping is armed they never tick.
    for (int i = 0; i < 2; ++i)
        clocks_[i] = new UiTimer(QStringLiteral("Timer%1").arg(i + 1), 0, this);
    connect(clocks_[0], &UiTimer::Tick, this, &TMappingService::OpenTimed);
    connect(clocks_[1], &UiTimer::Tick, this, &TMappingService::CloseTimed);
}

TMappingService::~TMappingService() {
    StopAll();
    // Links that outlived the stop's wait still post: each listener waits for its last ones as it
    // goes, and the queue after them.
    for (auto& listener : listeners_)
        listener.reset();
    events_.reset();
}

void TMappingService::Start(int slot, const MappingTarget& target) {
    TRelayListener& listener = Listener(slot);
    listener.SetDefaultPort(target.listenPort);
    listener.SetMappedPort(target.destinationPort);
    listener.SetMappedHost(target.host);
    targets_.at(slot - 1) = target;
    try {
        listener.SetActive(true);
    } catch (const RelayError& error) {
        // A listener that kept the port of its first start tried that one.
        const int tried = listener.ListeningPort() != 0 ? listener.ListeningPort() : target.listenPort;
        failures_[slot - 1] = {QString::fromLatin1(error.what()),
                               ListenFailureDetail(error.Code(), tried, slot, *this, error.Udp())};
        throw ListenError(error.what(), failures_[slot - 1].detail);
    }
    // What the views show is where it really listens, not the port asked for.
    targets_[slot - 1].listenPort = listener.ListeningPort();
    failures_[slot - 1] = {};
}

void TMappingService::Stop(std::span<const int> numbers) {
    std::vector<TRelayListener*> stopping;
    for (int slot : numbers)
        stopping.push_back(&Listener(slot));
    StopListeners(stopping, *events_);
}

void TMappingService::StopAll() {
    constexpr std::array<int, kTimedSlot> all = {1, 2, 3, 4, 5, 6, 7};
    Stop(all);
}

bool TMappingService::Running(int slot) const {
    return Listener(slot).Active();
}

MappingTarget TMappingService::Target(int slot) const {
    return targets_.at(slot - 1);
}

int TMappingService::Total() const {
    int total = 0;
    for (int slot = 1; slot <= kSlots; ++slot)
        total += Connections(slot);
    return total;
}

void TMappingService::ArmTimed(const MappingTarget& target, int openAfterMs, int closeAfterMs) {
    TRelayListener& listener = Listener(kTimedSlot);
    listener.SetDefaultPort(target.listenPort);
    listener.SetMappedPort(target.destinationPort);
    listener.SetMappedHost(target.host);
    targets_[kTimedSlot - 1] = target;
    clocks_[0]->SetInterval(openAfterMs);
    clocks_[1]->SetInterval(closeAfterMs);
    armed_ = true;
}

void TMappingService::DisarmTimed() {
    armed_ = false;
    for (UiTimer* clock : clocks_)
        clock->SetEnabled(false);
    CloseTimed();
}

void TMappingService::OpenTimed() {
    clocks_[0]->SetEnabled(false);
    try {
        Listener(kTimedSlot).SetActive(true);
        targets_[kTimedSlot - 1].listenPort = Listener(kTimedSlot).ListeningPort();
    } catch (const std::exception& error) {
        emit Failed(QString::fromLatin1(error.what()));
    }
}

void TMappingService::CloseTimed() {
    clocks_[1]->SetEnabled(false);
    clocks_[0]->SetEnabled(false);
    constexpr int timed = kTimedSlot;
    Stop({&timed, 1});
}

void TMappingService::WriteLogLine(std::string_view eventText, LogLineForm form) {
    if (logSaving_)
        AppendLogFileLine(logPath_, eventText, form);
}

void TMappingService::WriteRelayLine(const QString& entry, LogLineForm form) {
    try {
        WriteLogLine(EventText(entry), form);
    } catch (const std::exception&) {
        // The line is lost; the connection, the counts and the views are not disturbed.
    }
}

QString TMappingService::ConnectEntry(int slot) {
    return slot == kTimedSlot ? QStringLiteral("Advanced Connection on Mapping #1")
                              : QStringLiteral("Connection on Mapping #%1").arg(slot);
}

QString TMappingService::DisconnectEntry(int slot) {
    return slot == kTimedSlot ? QStringLiteral("Advanced Disconnected on Mapping #1")
                              : QStringLiteral("Disconnected on Mapping #%1").arg(slot);
}

QString TMappingService::EnabledEntry(int slot, const QString& port) {
    return QStringLiteral("Enabled Mapping #%1 on port : %2").arg(slot).arg(port);
}

QString TMappingService::DisabledEntry(int slot, const QString& port) {
    return QStringLiteral("Disabled Mapping #%1 on port : %2").arg(slot).arg(port);
}

std::vector<MappingLink> TMappingService::LiveLinks() const {
    std::vector<MappingLink> links;
    for (int slot = 1; slot <= kTimedSlot; ++slot)
        for (RelayLinkFigures& figures : Listener(slot).Snapshot())
            links.push_back({slot, std::move(figures), {}});
    return links;
}

void TMappingService::CloseLink(int slot, std::uint64_t id) {
    Listener(slot).CloseLink(id);
}

void TMappingService::SetAccessRules(int slot, std::shared_ptr<const RelayAccessRules> rules) {
    Listener(slot).SetAccessRules(std::move(rules));
}

void TMappingService::SetFallbacks(int slot, std::vector<RelayDestination> fallbacks, int proxyProtocol) {
    Listener(slot).SetFallbacks(std::move(fallbacks));
    Listener(slot).SetProxyProtocol(proxyProtocol);
}

void TMappingService::SetBandwidth(int slot, std::uint64_t upBytesPerSecond,
                                   std::uint64_t downBytesPerSecond) {
    Listener(slot).SetBandwidth(upBytesPerSecond, downBytesPerSecond);
}

void TMappingService::SetProtocol(int slot, RelayProtocol protocol, std::chrono::milliseconds udpIdle) {
    Listener(slot).SetProtocol(protocol);
    Listener(slot).SetUdpIdleTimeout(udpIdle);
}

bool TMappingService::ListenChangeWaits(int slot) const {
    return Listener(slot).ListenChangeWaits();
}

void TMappingService::Record(int slot, const ConnectionEvent& event) {
    MappingTotals& totals = totals_[slot - 1];
    if (event.connected) {
        ++totals.connections;
        return;
    }
    const RelayLinkFigures& figures = event.ended;
    totals.endedBytesUp += figures.bytesUp;
    totals.endedBytesDown += figures.bytesDown;
    if (figures.destination.length == 0)
        ++totals.failures[figures.reason];
    ended_.push_front({slot, figures, std::chrono::system_clock::now()});
    ++endedCount_;
    if (ended_.size() > kEndedKept)
        ended_.pop_back();
}

void TMappingService::Apply(const ConnectionEvent& event) {
    const int slot = event.listener;
    if (slot < 1 || slot > kTimedSlot)
        return;
    if (event.folded) {
        // Counted, not listed: the links opened and closed leave the count of open ones as it was.
        totals_[slot - 1].connections += event.foldedLinks;
        return emit Unlisted(slot, event.foldedLinks, event.foldedRefusals);
    }
    Record(slot, event);
    if (event.refused)
        return emit Refused(slot);
    connections_[slot - 1] += event.connected ? 1 : -1;
    // Mapping 4 and an unarmed mapping 1 log the time alone; the timed mapping always the full line.
    const bool timeOnly = slot == 4 || (slot == 1 && event.connected && !armed_);
    const LogLineForm form = timeOnly ? LogLineForm::TimeOnly : LogLineForm::Full;
    if (event.connected) {
        if (slot == 1 && armed_) {
            clocks_[0]->SetEnabled(true);
            clocks_[1]->SetEnabled(true);
        }
        emit Connected(slot);
        WriteRelayLine(ConnectEntry(slot), form);
    } else {
        emit Disconnected(slot);
        WriteRelayLine(DisconnectEntry(slot), form);
    }
}

} // namespace qv
