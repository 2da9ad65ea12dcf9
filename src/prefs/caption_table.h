#pragma once

#include <span>
#include <string>

namespace qv {

// Sections of a language file.
inline constexpr const char* kTitleSection = "QuorvaneLanguageDataTitle";
inline constexpr const char* kTextSection = "QuorvaneLanguageDataText";
inline constexpr const char* kButtonsSection = "QuorvaneLanguageDataButtons";
inline constexpr const char* kMenusSection = "QuorvaneLanguageDataMenus";

// The windows whose captions a language file replaces.
enum class CaptionWindow { Main, Tray, About, Lock, Unlock, Advanced, ChangesNews, Remote, Settings, Update };

enum class CaptionTarget {
    Title,   // the main window's caption and the application title; the value is the title T
    Caption, // the window's own caption
    Control, // a label, button, check box or status-bar panel of the window, by name
    Item,    // a menu item of the window, by name
};

enum class Compose {
    AsRead,      // the text itself
    Colon,       // text, " :"
    Dot,         // text, "."
    AfterTitle,  // T, " - ", text
    PanelAppend, // the current text, " ", text, " ", the language file's name, "."
};

struct CaptionRow {
    const char* section;
    const char* key;
    const char* builtIn;
    CaptionWindow window;
    CaptionTarget target;
    const char* name; // the control or item; unused for titles and captions
    Compose compose;
};

// Every caption a language file may replace, in the order they are applied.
std::span<const CaptionRow> CaptionTable();

// The row's text in the language file; its built-in text when the key is absent or empty.
std::string CaptionText(const std::string& languagePath, const CaptionRow& row);

// The caption to set, composed from the text as the row says.
std::string ComposeCaption(const CaptionRow& row, const std::string& text, const std::string& title,
                           const std::string& current, const std::string& fileName);

} // namespace qv
