#pragma once

#include "shell/secondary_window.h"

class QNetworkAccessManager;

namespace qv {

class TBrowserPane;

// The local change list and news beside the executable, and the vendor's latest ones.
class TQuorvaneChangesNews : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneChangesNews(TRoster& roster);

protected:
    // FormShow: the local documents as they are now.
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    QNetworkAccessManager* network_;
    TBrowserPane* changes_;
    TBrowserPane* news_;
};

} // namespace qv
