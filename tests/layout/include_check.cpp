// Reads every #include "..." under src/ and reports each one that runs against include_rules.txt.
// Usage: include_check RULES_FILE SRC_DIR. Exit status 1 when an include breaks a rule.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Rules = std::map<std::string, std::vector<std::string>>; // folder -> folders it may include

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

Rules ReadRules(const fs::path& path) {
    Rules rules;
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            throw std::runtime_error("rule without ':' in " + path.string() + ": " + line);
        for (const auto& folder : Words(line.substr(0, colon)))
            rules[folder] = Words(line.substr(colon + 1));
    }
    return rules;
}

bool Within(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// The rule of the longest folder holding `file` (a path relative to src/), or none.
const Rules::value_type* RuleFor(const Rules& rules, const std::string& file) {
    const Rules::value_type* best = nullptr;
    for (const auto& entry : rules)
        if (Within(file, entry.first) && (!best || entry.first.size() > best->first.size()))
            best = &entry;
    return best;
}

// The quoted name of an `#include "name"` line, or empty for any other line.
std::string QuotedInclude(const std::string& line) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#')
        return {};
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0)
        return {};
    at = line.find_first_not_of(" \t", at + 7);
    if (at == std::string::npos || line[at] != '"')
        return {};
    const std::size_t end = line.find('"', at + 1);
    return end == std::string::npos ? std::string() : line.substr(at + 1, end - at - 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: include_check RULES_FILE SRC_DIR\n";
        return 2;
    }
    const Rules rules = ReadRules(argv[1]);
    const fs::path src = argv[2];
    int broken = 0;
    int checked = 0;
    for (const auto& item : fs::recursive_directory_iterator(src)) {
        const auto ext = item.path().extension();
        if (!item.is_regular_file() || (ext != ".h" && ext != ".cpp"))
            continue;
        const std::string file = fs::relative(item.path(), src).generic_string();
        const auto* rule = RuleFor(rules, file);
        if (!rule) {
            std::cerr << "src/" << file << ": no rule covers its folder\n";
            ++broken;
            continue;
        }
        std::ifstream in(item.path());
        int lineNo = 0;
        for (std::string line; std::getline(in, line);) {
            ++lineNo;
            const std::string included = QuotedInclude(line);
            if (included.empty())
                continue;
            ++checked;
            std::string target = included;
            // A bare name is a file of the same folder.
            if (target.find('/') == std::string::npos)
                target = fs::path(file).parent_path().generic_string() + "/" + target;
            bool allowed = false;
            for (const auto& folder : rule->second)
                allowed = allowed || target == folder || Within(target, folder);
            if (!allowed) {
                std::cerr << "src/" << file << ":" << lineNo << ": includes \"" << included << "\", but "
                          << rule->first << "/ may include only from:";
                for (const auto& folder : rule->second)
                    std::cerr << ' ' << folder << (fs::path(folder).has_extension() ? "" : "/");
                std::cerr << '\n';
                ++broken;
            }
        }
    }
    std::cout << checked << " includes checked, " << broken << " against the rules\n";
    return broken == 0 ? 0 : 1;
}
