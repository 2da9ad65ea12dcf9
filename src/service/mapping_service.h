#pragma once

#include <QDateTime>
#include <QObject>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/logfile/log_time_format.h"
#include "core/relay/relay_figures.h"
#include "core/relay/relay_rules.h"

namespace qv {

class TRelayListener;
class TConnectionEventQueue;
class UiTimer;
struct ConnectionEvent;

// The log file's text of a list entry: the entry after the blank that starts every event text.
std::string EventText(const QString& entry);

// Where a mapping listens and where it relays to.
struct MappingTarget {
    int listenPort = 0;
    std::string host;
    int destinationPort = 0;

    bool operator==(const MappingTarget&) const = default;
};

// A link of a mapping, live or ended.
struct MappingLink {
    int slot = 0;
    RelayLinkFigures figures;
    std::chrono::system_clock::time_point ended; // ended links only
};

// What a mapping has carried since its service began.
struct MappingTotals {
    std::uint64_t connections = 0;
    std::uint64_t endedBytesUp = 0; // of the links that have ended
    std::uint64_t endedBytesDown = 0;
    std::map<RelayEndReason, std::uint64_t> failures; // links that never relayed, by reason
};

// What runs: the six mappings and the timed seventh, their connection events and counts, the log
// file and the timed mapping's clock. Windows and the headless mode drive it with plain values and
// follow its signals; it knows nothing of them. Everything here runs on the thread that owns it,
// except the links, which only post their events.
class TMappingService : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlots = 6;
    // Listener 7: the timed mapping, opened a while after a connection on mapping 1.
    static constexpr int kTimedSlot = 7;

    explicit TMappingService(std::string logPath, QObject* parent = nullptr);
    // Stops every listener, each waiting for its links, then drops the events still queued.
    ~TMappingService() override;

    // Starts mapping 1 to 7 listening. When it cannot, it stays stopped and throws ListenError: the
    // listener's text, and what to do about it.
    void Start(int slot, const MappingTarget& target);
    // Why the last start of a mapping failed (empty texts once one succeeds).
    struct StartFailure {
        QString text;
        QString detail;
    };
    const StartFailure& LastFailure(int slot) const { return failures_.at(slot - 1); }
    // Stops the mappings together under one wait; when it returns every disconnection of their links
    // has been reported.
    void Stop(std::span<const int> numbers);
    void StopAll();
    bool Running(int slot) const;
    // The target of the last start.
    MappingTarget Target(int slot) const;
    // Connections open now, as the events reported them; Total() is mappings 1 to 6.
    int Connections(int slot) const { return connections_.at(slot - 1); }
    int Total() const;

    // Arming the timed mapping: from now on a connection on mapping 1 opens it `openAfterMs` later and
    // closes it `closeAfterMs` after that. Nothing listens until then.
    void ArmTimed(const MappingTarget& target, int openAfterMs, int closeAfterMs);
    // No longer armed before the stop's wait, so a connection applied meanwhile opens nothing.
    void DisarmTimed();
    // Timer1 opens the timed mapping and Timer2 closes it; both one-shot.
    UiTimer* Clock(int number) const { return clocks_.at(number - 1); }

    // The log file: lines are written while saving is switched on.
    void SetLogSaving(bool on) { logSaving_ = on; }
    bool LogSaving() const { return logSaving_; }
    const std::string& LogPath() const { return logPath_; }
    // One dated line; throws when the file cannot take it.
    void WriteLogLine(std::string_view eventText, LogLineForm form = LogLineForm::Full);

    // The texts the list and the log file show for a mapping's events.
    static QString ConnectEntry(int slot);
    static QString DisconnectEntry(int slot);
    static QString EnabledEntry(int slot, const QString& port);
    static QString DisabledEntry(int slot, const QString& port);

    // Every live link of every running mapping, as the relay threads see them now.
    std::vector<MappingLink> LiveLinks() const;
    // The last kEndedKept links that ended, newest first.
    const std::deque<MappingLink>& EndedLinks() const { return ended_; }
    // Links ended since the service began: a view that remembers it knows how many are new.
    std::uint64_t EndedCount() const { return endedCount_; }
    const MappingTotals& Totals(int slot) const { return totals_.at(slot - 1); }
    // The live link `id` of a mapping ends as a stop would end it, with its one disconnect event.
    void CloseLink(int slot, std::uint64_t id);
    // Who may connect to a mapping and how many at once, from now on (null: everyone, no limit).
    void SetAccessRules(int slot, std::shared_ptr<const RelayAccessRules> rules);
    // Its fallback destinations and PROXY protocol version, for the links that come from now on.
    void SetFallbacks(int slot, std::vector<RelayDestination> fallbacks, int proxyProtocol);
    // Its bandwidth each way in bytes per second (0: no limit), in force at once, for the links already
    // relaying too.
    void SetBandwidth(int slot, std::uint64_t upBytesPerSecond, std::uint64_t downBytesPerSecond);
    // What it listens for from its next start on, and how long its UDP sessions last idle.
    void SetProtocol(int slot, RelayProtocol protocol,
                     std::chrono::milliseconds udpIdle = std::chrono::milliseconds(60000));
    // A listen choice or protocol set since the mapping started, which waits for its next start.
    bool ListenChangeWaits(int slot) const;
    static constexpr std::size_t kEndedKept = 1000;

    TConnectionEventQueue& Events() const { return *events_; }
    TRelayListener& Listener(int slot) const { return *listeners_.at(slot - 1); }

signals:
    // After the counts changed and the log line was written.
    void Connected(int slot);
    void Disconnected(int slot);
    // The timed mapping could not open; the text says why.
    void Failed(const QString& text);
    // A client the mapping's rules refused: it is the newest of the ended links.
    void Refused(int slot);
    // Links that opened and closed, and clients refused, that were counted and not listed one by one
    // (a flood).
    void Unlisted(int slot, quint64 links, quint64 refused);

private:
    void Apply(const ConnectionEvent& event);
    void Record(int slot, const ConnectionEvent& event);
    void OpenTimed();
    void CloseTimed();
    void WriteRelayLine(const QString& entry, LogLineForm form);

    std::string logPath_;
    bool logSaving_ = false;
    bool armed_ = false;
    std::array<int, kTimedSlot> connections_{};
    std::array<MappingTarget, kTimedSlot> targets_{};
    std::array<MappingTotals, kTimedSlot> totals_{};
    std::array<StartFailure, kTimedSlot> failures_{};
    std::deque<MappingLink> ended_;
    std::uint64_t endedCount_ = 0;
    std::array<UiTimer*, 2> clocks_{};
    // The queue outlives the listeners whose links post to it.
    std::unique_ptr<TConnectionEventQueue> events_;
    std::array<std::unique_ptr<TRelayListener>, kTimedSlot> listeners_;
};

} // namespace qv
