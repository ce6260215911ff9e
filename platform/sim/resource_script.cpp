#include "platform/sim/resource_script.h"

#include "platform/win32.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

const std::map<std::string, DWORD> kStyleNames = {
    {"WS_POPUP", WS_POPUP},         {"WS_CHILD", WS_CHILD},         {"WS_VISIBLE", WS_VISIBLE},
    {"WS_DISABLED", WS_DISABLED},   {"WS_CAPTION", WS_CAPTION},     {"WS_SYSMENU", WS_SYSMENU},
    {"WS_TABSTOP", WS_TABSTOP},     {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_SETFONT", DS_SETFONT},
    {"DS_CENTER", 0x0800},          {"DS_FIXEDSYS", 0x0008},        {"DS_SHELLFONT", DS_SETFONT | 0x0008},
    {"WS_MINIMIZEBOX", 0x00020000}, {"WS_THICKFRAME", 0x00040000},  {"WS_BORDER", 0x00800000},
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t\r");
    auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

long number(const std::string& token, const std::map<std::string, long>& defines) {
    std::string t = trim(token);
    auto it = defines.find(t);
    if (it != defines.end())
        return it->second;
    try {
        return std::stol(t, nullptr, 0);
    } catch (...) {
        throw std::runtime_error("unknown identifier in resource script: " + t);
    }
}

DWORD styleOf(const std::string& expression) {
    DWORD style = 0;
    std::stringstream parts(expression);
    std::string name;
    while (std::getline(parts, name, '|')) {
        name = trim(name);
        auto it = kStyleNames.find(name);
        if (it == kStyleNames.end())
            throw std::runtime_error("unknown style in resource script: " + name);
        style |= it->second;
    }
    return style;
}

} // namespace

void loadResourceScript(Machine& machine, const std::string& path) {
    std::string folder = path.substr(0, path.find_last_of('/') + 1);
    std::string script = slurp(path);
    std::map<std::string, long> defines;
    std::regex include(R"re(#include\s+"([^"]+)")re");
    std::regex define(R"(#define\s+(\w+)\s+(\w+))");
    for (std::sregex_iterator it(script.begin(), script.end(), include), end; it != end; ++it) {
        std::string header = slurp(folder + (*it)[1].str());
        for (std::sregex_iterator d(header.begin(), header.end(), define); d != end; ++d)
            defines[(*d)[1].str()] = std::stol((*d)[2].str(), nullptr, 0);
    }

    std::istringstream lines(script);
    std::string line;
    std::regex dialogHead(R"(^\s*(\w+)\s+DIALOG(EX)?\s+([^,]+),([^,]+),([^,]+),\s*([^,\s]+))");
    std::regex styleLine(R"(^\s*STYLE\s+(.*)$)");
    std::regex captionLine(R"re(^\s*CAPTION\s+"([^"]*)")re");
    std::optional<DialogTemplate> current;
    auto finish = [&] {
        if (current)
            machine.windows().addDialogTemplate(*current);
        current.reset();
    };
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, dialogHead)) {
            finish();
            current = DialogTemplate{};
            current->id = static_cast<WORD>(number(m[1].str(), defines));
            current->x = static_cast<int>(number(m[3].str(), defines));
            current->y = static_cast<int>(number(m[4].str(), defines));
            current->cx = static_cast<int>(number(m[5].str(), defines));
            current->cy = static_cast<int>(number(m[6].str(), defines));
        } else if (current && std::regex_search(line, m, styleLine)) {
            current->style = styleOf(m[1].str());
        } else if (current && std::regex_search(line, m, captionLine)) {
            current->caption = m[1].str();
        } else if (current && trim(line) == "END") {
            finish();
        }
    }
    finish();
}

} // namespace sim
