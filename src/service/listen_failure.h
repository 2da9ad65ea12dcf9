#pragma once

#include <QString>
#include <stdexcept>

namespace qv {

class TMappingService;

// A mapping that cannot listen: the listener's own text, as ever, and what to do about it.
class ListenError : public std::runtime_error {
public:
    ListenError(const std::string& text, QString detail) : runtime_error(text), detail_(std::move(detail)) {}
    const QString& Detail() const { return detail_; }

private:
    QString detail_;
};

// What to do when mapping `slot` cannot listen on `port`, in plain words, from the system's error code:
// the right a port below 1024 needs and how to give it; who holds a port in use (one of the other
// mappings, a program of this user's, another user's). Empty when there is nothing to add. `udp`: the
// UDP port failed (of a UDP mapping, or of one listening for both).
QString ListenFailureDetail(int error, int port, int slot, const TMappingService& service, bool udp = false);

} // namespace qv
