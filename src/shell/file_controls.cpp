#include "shell/file_controls.h"

namespace qv {

namespace {
constexpr TFileControls::Window kSecondary[] = {TFileControls::kRemote, TFileControls::kAdvanced};

template <class Control> void Enable(const QPointer<Control>& control, bool enabled) {
    if (control)
        control->setEnabled(enabled);
}
} // namespace

void TFileControls::RegisterFileItems(const std::array<QAction*, 3>& items) {
    for (std::size_t i = 0; i < items.size(); ++i)
        fileItems_[i] = items[i];
}

void TFileControls::SetFileItemsEnabled(bool enabled) {
    for (const QPointer<QAction>& item : fileItems_)
        Enable(item, enabled);
}

void TFileControls::Set(Window window, bool load, bool save) {
    const Controls& c = controls_[window];
    Enable(c.load, load);
    Enable(c.save, save);
    Enable(c.loadItem, load);
    Enable(c.saveItem, save);
}

void TFileControls::ShowSecondarySaves() {
    for (Window window : kSecondary)
        if (controls_[window].save)
            controls_[window].save->show();
}

void TFileControls::Changed(Window window) {
    Set(window, true, true);
    Set(kMain, true, true);
}

void TFileControls::MatchFile(Window window) {
    Set(window, false, false);
    Set(kMain, false, false);
}

void TFileControls::SavedHere(Window window) {
    Set(window, false, false);
}

void TFileControls::SetLoad(Window window, bool enabled) {
    Enable(controls_[window].load, enabled);
    Enable(controls_[window].loadItem, enabled);
}

void TFileControls::SavedAll() {
    for (Window window : kSecondary)
        Set(window, false, false);
    ShowSecondarySaves();
    Set(kMain, false, false);
    const Controls& main = controls_[kMain];
    if (main.save)
        main.save->show();
    if (main.saveItem)
        main.saveItem->setVisible(true);
}

void TFileControls::LoadedAll() {
    for (Window window : kSecondary)
        Set(window, false, false);
    ShowSecondarySaves();
    Set(kMain, false, false);
    Enable(controls_[kMain].loadItem, true);
}

void TFileControls::MatchFileAll() {
    for (Window window : {kRemote, kAdvanced, kMain})
        Set(window, false, false);
}

void TFileControls::SavedAs() {
    for (Window window : kSecondary)
        Set(window, false, false);
    Enable(controls_[kMain].save, false);
    Enable(controls_[kMain].saveItem, false);
}

void TFileControls::LoadedElsewhere() {
    Set(kMain, true, true);
    for (Window window : kSecondary)
        Set(window, true, true);
    ShowSecondarySaves();
}

void TFileControls::LoadedOlder() {
    for (Window window : kSecondary) {
        Set(window, true, false);
        if (controls_[window].save)
            controls_[window].save->hide();
    }
    Enable(controls_[kMain].save, true);
    Enable(controls_[kMain].saveItem, true);
}

} // namespace qv
