#include "core/profile/profile_document.h"

#include "core/profile/profile_escape.h"
#include "core/profile/profile_outline.h"

#include <algorithm>
#include <unordered_set>

namespace qv {
namespace {

constexpr std::string_view kNewLine = "\r\n";

std::string_view Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsProfileBlank(text[begin]))
        ++begin;
    while (end > begin && IsProfileBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

enum class LineKind { Other, Section, Key };

struct LineInfo {
    LineKind kind = LineKind::Other;
    std::string_view name; // section name or key, trimmed
    size_t valueStart = 0; // for a key: offset just past the first "="
};

LineInfo Classify(std::string_view text) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == ';')
        return {};
    if (trimmed.front() == '[') {
        std::string_view name = trimmed.substr(1);
        name = name.substr(0, name.find(']'));
        return {LineKind::Section, Trim(name), 0};
    }
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return {};
    return {LineKind::Key, Trim(text.substr(0, equals)), equals + 1};
}

std::string DecodeValue(std::string_view stored) {
    stored = Trim(stored);
    if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
        stored.back() == stored.front())
        stored = stored.substr(1, stored.size() - 2);
    return UnescapeProfileValue(stored);
}

} // namespace

std::string ProfileDocument::IndexKey(std::string_view section, std::string_view key) {
    std::string folded;
    folded.reserve(section.size() + key.size() + 1);
    for (char c : section)
        folded += FoldCase(c);
    folded += '\0';
    for (char c : key)
        folded += FoldCase(c);
    return folded;
}

void ProfileDocument::BuildIndex() {
    // Lookups see the first section of a name and, in it, the first line of a key.
    index_.clear();
    std::unordered_set<std::string> sections;
    std::string_view section;
    bool first = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const LineInfo info = Classify(lines_[i].text);
        if (info.kind == LineKind::Section) {
            section = info.name;
            first = sections.insert(IndexKey(section, {})).second;
        } else if (info.kind == LineKind::Key && first) {
            index_.emplace(IndexKey(section, info.name), i);
        }
    }
    indexed_ = true;
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes) {
    ProfileDocument document;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t newLine = bytes.find('\n', start);
        if (newLine == std::string_view::npos) {
            document.lines_.push_back({std::string(bytes.substr(start)), ""});
            break;
        }
        std::string_view text = bytes.substr(start, newLine - start);
        if (!text.empty() && text.back() == '\r')
            document.lines_.push_back({std::string(text.substr(0, text.size() - 1)), "\r\n"});
        else
            document.lines_.push_back({std::string(text), "\n"});
        start = newLine + 1;
    }
    document.BuildIndex();
    return document;
}

std::optional<ProfileDocument::SectionRange> ProfileDocument::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const LineInfo info = Classify(lines_[i].text);
        if (info.kind != LineKind::Section || !SameName(info.name, section))
            continue;
        size_t end = i + 1;
        while (end < lines_.size() && Classify(lines_[end].text).kind != LineKind::Section)
            ++end;
        return SectionRange{i + 1, end};
    }
    return std::nullopt;
}

std::optional<size_t> ProfileDocument::FindKey(const SectionRange& range, std::string_view key) const {
    for (size_t i = range.begin; i < range.end; ++i) {
        const LineInfo info = Classify(lines_[i].text);
        if (info.kind == LineKind::Key && SameName(info.name, key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> ProfileDocument::Value(std::string_view section, std::string_view key) const {
    if (indexed_) {
        const auto found = index_.find(IndexKey(section, key));
        if (found == index_.end())
            return std::nullopt;
        const std::string& text = lines_[found->second].text;
        return DecodeValue(std::string_view(text).substr(Classify(text).valueStart));
    }
    const auto range = FindSection(section);
    if (!range)
        return std::nullopt;
    const auto line = FindKey(*range, key);
    if (!line)
        return std::nullopt;
    const std::string& text = lines_[*line].text;
    return DecodeValue(std::string_view(text).substr(Classify(text).valueStart));
}

void ProfileDocument::EndLastLine() {
    if (!lines_.empty() && lines_.back().ending.empty())
        lines_.back().ending = kNewLine;
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    indexed_ = false;
    std::string keyLine = std::string(key) + "=" + EscapeProfileValue(value);
    const auto range = FindSection(section);
    if (!range) {
        EndLastLine();
        lines_.push_back({"[" + std::string(section) + "]", std::string(kNewLine)});
        lines_.push_back({std::move(keyLine), std::string(kNewLine)});
        return;
    }
    if (const auto line = FindKey(*range, key)) {
        // Keep the key as the file spells it; only what follows "=" changes.
        std::string& text = lines_[*line].text;
        text = text.substr(0, Classify(text).valueStart) + EscapeProfileValue(value);
        return;
    }
    size_t insertAt = range->begin;
    for (size_t i = range->begin; i < range->end; ++i)
        if (Classify(lines_[i].text).kind == LineKind::Key)
            insertAt = i + 1;
    if (insertAt == lines_.size())
        EndLastLine();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                  Line{std::move(keyLine), std::string(kNewLine)});
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key) {
    indexed_ = false;
    const auto range = FindSection(section);
    if (!range)
        return false;
    // One pass however many copies there are: a file full of duplicates must not take quadratic time.
    const auto begin = lines_.begin() + static_cast<std::ptrdiff_t>(range->begin);
    const auto end = lines_.begin() + static_cast<std::ptrdiff_t>(range->end);
    const auto kept = std::remove_if(begin, end, [key](const Line& line) {
        const LineInfo info = Classify(line.text);
        return info.kind == LineKind::Key && SameName(info.name, key);
    });
    if (kept == end)
        return false;
    const bool last = range->end == lines_.size();
    lines_.erase(kept, end);
    // The last section left without keys goes with its header: a file of this program then never ends
    // with a bare header, as a copy cut short after one does.
    const auto body = lines_.begin() + static_cast<std::ptrdiff_t>(range->begin);
    if (last && std::none_of(body, lines_.end(),
                             [](const Line& line) { return Classify(line.text).kind == LineKind::Key; }))
        lines_.erase(body - 1);
    return true;
}

ProfileOutline ProfileDocument::Outline() const {
    ProfileOutline outline;
    outline.lineEnded = lines_.empty() || !lines_.back().ending.empty();
    for (const Line& line : lines_) {
        const LineInfo info = Classify(line.text);
        if (info.kind == LineKind::Section)
            outline.sections.emplace_back(std::string(info.name), false);
        else if (info.kind == LineKind::Key && !outline.sections.empty())
            outline.sections.back().second = true;
    }
    return outline;
}

std::string ProfileDocument::Serialise() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

} // namespace qv
