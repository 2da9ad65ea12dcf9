#include "info/about_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QLocale>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <functional>
#include <system_error>

#include "info/cpu_speed_probe.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/platform.h"
#include "platform/ui_timer.h"
#include "shell/image_list.h"
#include "shell/roster.h"

namespace qv {

namespace {

// A label that acts on a left click, drawn as a link.
class LinkLabel : public QLabel {
public:
    LinkLabel(const char* text, QWidget* parent, std::function<void()> onClick)
        : QLabel(QString::fromLatin1(text), parent), onClick_(std::move(onClick)) {
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
        setStyleSheet(QStringLiteral("color: blue;"));
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick_();
    }

private:
    std::function<void()> onClick_;
};

// Whole numbers of bytes: 64 bits, so machines beyond 4 GiB read true.
QString Bytes(std::uint64_t value) {
    return QString::number(value) + QStringLiteral(" bytes");
}

} // namespace

TAbout::TAbout(TRoster& roster)
    : SecondaryWindow(roster, "TAbout", "Quorvane - Internet Port Mapping - About", QSize(308, 415)) {
    BuildControls();
    BuildStandardMenu(true).about2->setEnabled(false);
    BuildHintStatusBar();
    timer1_ = new UiTimer(QStringLiteral("Timer1"), 1000, this);
    OnSignal(timer1_, &UiTimer::Tick, this, roster.platform(), [this] { FillMemory(false); });
    roster.RunCreation([this] { FormCreate(); });
}

void TAbout::BuildControls() {
    auto* page = new QWidget(this);
    setCentralWidget(page);
    auto* bevel1 = new QFrame(page);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameShape(QFrame::Box);
    bevel1->setFrameShadow(QFrame::Sunken);
    SetHint(bevel1, "Software Information");
    QLabel* icon = NewLabel(bevel1, QStringLiteral("ProgramIcon"), "", "Programs Icons");
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* info = new QGridLayout(bevel1);
    info->addWidget(icon, 0, 0, 2, 1);
    info->addWidget(NewLabel(bevel1, QStringLiteral("Label3"), "Updated on 07/11/2002", "Software Date"), 0,
                    1);
    info->addWidget(NewLabel(bevel1, QStringLiteral("Label1"), "Internet Port Mapping V1.3 Build : 47",
                             "Software Version"),
                    1, 1);
    info->setColumnStretch(1, 1);

    Platform& platform = roster_.platform();
    auto* label2 = new LinkLabel(
        kVendorPage, page, [&platform] { Guarded(platform, [&platform] { OpenVendorPage(platform); }); });
    label2->setObjectName(QStringLiteral("Label2"));
    SetHint(label2, kVendorPage);
    label6_ =
        NewLabel(page, QStringLiteral("Label6"), "Estimated CPU Speed : measuring...", "Estimated CPU Speed");
    label4_ = NewLabel(page, QStringLiteral("Label4"), "Total Memory : ", "Total Memory");
    label5_ = NewLabel(page, QStringLiteral("Label5"), "Memory Free : ", "Memory Free");
    label7_ =
        NewLabel(page, QStringLiteral("Label7"), "Total Of Memory Used : ", "Total Of Memory Used In %");
    QPushButton* button1 = NewButton(page, "Button1", "Close", "Close|Close this windows");
    OnSignal(button1, &QPushButton::clicked, this, platform, [this] { close(); });

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(bevel1);
    layout->addWidget(label2);
    for (QLabel* line : {label6_, label4_, label5_, label7_})
        layout->addWidget(line);
    layout->addStretch();
    layout->addWidget(button1, 0, Qt::AlignHCenter);
}

void TAbout::FormCreate() {
    try {
        new CpuSpeedProbe(
            roster_.platform(), [this](std::optional<double> mhz) { ShowCpuSpeed(mhz); }, this);
    } catch (const std::system_error&) {
        // No thread for the measurement: the line says so and the window works on.
        ShowCpuSpeed(std::nullopt);
    }
}

void TAbout::ShowCpuSpeed(std::optional<double> mhz) {
    if (!mhz) {
        label6_->setText(QStringLiteral("Estimated CPU Speed : not available on this processor"));
        return;
    }
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    label6_->setText(QStringLiteral("Estimated CPU Speed : ") + locale.toString(*mhz, 'f', 2) +
                     QStringLiteral(" MHz"));
}

void TAbout::FillMemory(bool withTotal) {
    const std::optional<MemoryStatus> memory = roster_.platform().MemoryFigures();
    if (!memory)
        return;
    if (withTotal)
        label4_->setText(QStringLiteral("Total Memory : ") + Bytes(memory->totalBytes));
    label5_->setText(QStringLiteral("Memory Free : ") + Bytes(memory->availableBytes));
    label7_->setText(QStringLiteral("Total Of Memory Used : ") + QString::number(memory->loadPercent) +
                     QStringLiteral(" %"));
}

void TAbout::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    Guarded(roster_.platform(), [this] {
        FillMemory(true);
        timer1_->SetEnabled(true);
    });
}

void TAbout::hideEvent(QHideEvent* event) {
    timer1_->SetEnabled(false);
    // While the program is locked the tray's "About" would bring the main window back: it stays off.
    roster_.OfferTrayAbout();
    SecondaryWindow::hideEvent(event);
}

} // namespace qv
