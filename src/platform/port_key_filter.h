#pragma once

#include <QObject>

namespace qv {

// Port fields take typed digits and backspace only. Editing keys that type no character (arrows,
// delete, shortcuts such as paste) pass untouched: pasted text is not filtered.
class PortKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace qv
