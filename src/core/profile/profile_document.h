#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

struct ProfileOutline;

// The text of a profile (INI) file, held line by line so that a change touches only the line it must
// and every other byte of the file stays as it was.
//
// Reading follows a plain profile reader: section names and keys are trimmed and matched without regard
// to letter case; the first of duplicate sections or keys wins; lines starting with ";" are comments;
// lines without "=" and keys before any section are ignored; a value is everything after the first "=",
// trimmed, with one pair of matching surrounding quotes removed, then unescaped (profile_escape.h).
// Lines may end in CR LF or LF alone; new lines are written with CR LF.
//
// Section and key names given to Set are plain names: no "=", "]", line breaks or blanks at the ends.
class ProfileDocument {
public:
    ProfileDocument() = default;
    // Never fails: any bytes are some document.
    static ProfileDocument Parse(std::string_view bytes);

    // The whole value, or nothing when the section or key does not exist.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // Replaces the value of the key, adding the section at the end and the key after the section's last
    // key when they are new.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the key (every copy of it in the section that lookups use); false when there was none. The
    // last section goes with it when no key is left in it.
    bool Remove(std::string_view section, std::string_view key);

    std::string Serialise() const;
    ProfileOutline Outline() const;

private:
    struct Line {
        std::string text;   // without its line break
        std::string ending; // "\r\n", "\n", or "" for a last line without a break
    };
    struct SectionRange {
        size_t begin; // first line after the header
        size_t end;   // the next header, or the end of the file
    };

    static std::string IndexKey(std::string_view section, std::string_view key);
    void BuildIndex();
    std::optional<SectionRange> FindSection(std::string_view section) const;
    std::optional<size_t> FindKey(const SectionRange& range, std::string_view key) const;
    void EndLastLine();

    std::vector<Line> lines_;
    // Line of each key that lookups find, by case-folded section and key; built by Parse, dropped by a
    // change (lookups then search the lines).
    std::unordered_map<std::string, size_t> index_;
    bool indexed_ = false;
};

} // namespace qv
