#include "platform/sim/resource_script.h"

#include "platform/win32.h"

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

const std::map<std::string, DWORD> kStyleNames = {
    {"WS_POPUP", WS_POPUP},
    {"WS_CHILD", WS_CHILD},
    {"WS_VISIBLE", WS_VISIBLE},
    {"WS_DISABLED", WS_DISABLED},
    {"WS_CAPTION", WS_CAPTION},
    {"WS_SYSMENU", WS_SYSMENU},
    {"WS_TABSTOP", WS_TABSTOP},
    {"WS_GROUP", WS_GROUP},
    {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
    {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
    {"WS_THICKFRAME", WS_THICKFRAME},
    {"WS_BORDER", WS_BORDER},
    {"DS_MODALFRAME", DS_MODALFRAME},
    {"DS_SETFONT", DS_SETFONT},
    {"DS_3DLOOK", 0x0004},
    {"DS_FIXEDSYS", 0x0008},
    {"DS_CENTER", 0x0800},
    {"DS_SHELLFONT", DS_SETFONT | 0x0008},
    {"WS_EX_APPWINDOW", WS_EX_APPWINDOW},
    {"WS_EX_TOOLWINDOW", WS_EX_TOOLWINDOW},
    {"WS_EX_TOPMOST", WS_EX_TOPMOST},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON},
    {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
    {"SS_LEFT", SS_LEFT},
    {"SS_CENTER", SS_CENTER},
    {"SS_RIGHT", SS_RIGHT},
    {"SS_ICON", SS_ICON},
    {"SS_NOPREFIX", SS_NOPREFIX},
};

// What each control statement is, and the styles it has without being told.
struct ControlKind {
    const char* className;
    DWORD style;
    bool textFirst; // "text", id, ...; otherwise ICON's icon, id, ...
};

const std::map<std::string, ControlKind> kControls = {
    {"PUSHBUTTON", {"Button", BS_PUSHBUTTON | WS_TABSTOP, true}},
    {"DEFPUSHBUTTON", {"Button", BS_DEFPUSHBUTTON | WS_TABSTOP, true}},
    {"GROUPBOX", {"Button", 0x7 /* BS_GROUPBOX */, true}},
    {"LTEXT", {"Static", SS_LEFT | WS_GROUP, true}},
    {"CTEXT", {"Static", SS_CENTER | WS_GROUP, true}},
    {"RTEXT", {"Static", SS_RIGHT | WS_GROUP, true}},
    {"ICON", {"Static", SS_ICON, false}},
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

// The line without its "//" comment; quotes protect what they hold.
std::string uncomment(const std::string& line) {
    bool quoted = false;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (!quoted && line[i] == '/' && line[i + 1] == '/')
            return line.substr(0, i);
    }
    return line;
}

// Splits at the commas that are not inside quotes.
std::vector<std::string> arguments(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            out.push_back(trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!trim(current).empty() || !out.empty())
        out.push_back(trim(current));
    return out;
}

// A quoted string of the script: "" stands for a quote, and the usual
// backslash escapes apply.
std::string unquote(const std::string& token) {
    std::string t = trim(token);
    if (t.size() < 2 || t.front() != '"' || t.back() != '"')
        throw std::runtime_error("expected a quoted string in resource script: " + t);
    std::string out;
    for (std::size_t i = 1; i + 1 < t.size(); ++i) {
        char c = t[i];
        if (c == '"' && t[i + 1] == '"') {
            out += '"';
            ++i;
        } else if (c == '\\' && i + 2 < t.size()) {
            char n = t[++i];
            out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'a' ? '\b' : n;
        } else {
            out += c;
        }
    }
    return out;
}

class Script {
public:
    Script(Machine& machine, const std::string& path)
        : machine_(machine), defines_{{"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDYES", IDYES}, {"IDNO", IDNO}} {
        std::string folder = path.substr(0, path.find_last_of('/') + 1);
        std::string text = slurp(path);
        std::regex include(R"re(#include\s+"([^"]+)")re");
        for (std::sregex_iterator it(text.begin(), text.end(), include), end; it != end; ++it)
            readDefines(slurp(folder + (*it)[1].str()));
        readDefines(text);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            line = trim(uncomment(line));
            if (line.empty() || line[0] == '#')
                continue;
            lines_.push_back(line);
        }
    }

    void load() {
        std::regex dialogHead(R"(^(\w+)\s+DIALOG(EX)?\s+([^,]+),([^,]+),([^,]+),\s*([^,\s]+))");
        std::regex menuHead(R"(^(\w+)\s+MENU(EX)?$)");
        std::regex iconLine(R"(^(\w+)\s+ICON\s+)");
        std::regex blockHead(R"(^(\w+)\s+(VERSIONINFO|ACCELERATORS|RCDATA|BITMAP|CURSOR|HTML|TOOLBAR)\b)");
        while (next_ < lines_.size()) {
            const std::string& line = lines_[next_++];
            std::smatch m;
            if (std::regex_search(line, m, dialogHead)) {
                DialogTemplate t;
                t.id = id(m[1].str());
                t.x = static_cast<int>(number(m[3].str()));
                t.y = static_cast<int>(number(m[4].str()));
                t.cx = static_cast<int>(number(m[5].str()));
                t.cy = static_cast<int>(number(m[6].str()));
                dialog(t);
                machine_.windows().addDialogTemplate(t);
            } else if (std::regex_search(line, m, menuHead)) {
                WORD menuId = id(m[1].str());
                machine_.resources().addMenu(menuId, menuItems());
            } else if (line == "STRINGTABLE" || line.rfind("STRINGTABLE ", 0) == 0) {
                stringTable();
            } else if (std::regex_search(line, m, iconLine)) {
                machine_.resources().addIcon(id(m[1].str()));
            } else if (std::regex_search(line, m, blockHead)) {
                skipBlock();
            }
        }
    }

private:
    void readDefines(const std::string& text) {
        std::regex define(R"(#define\s+(\w+)\s+\(?(-?\w+)\)?)");
        for (std::sregex_iterator d(text.begin(), text.end(), define), end; d != end; ++d) {
            try {
                defines_[(*d)[1].str()] = std::stol((*d)[2].str(), nullptr, 0);
            } catch (const std::exception&) {
                // not a number: nothing the script's identifiers can use
            }
        }
    }

    long number(const std::string& token) const {
        std::string t = trim(token);
        auto it = defines_.find(t);
        if (it != defines_.end())
            return it->second;
        try {
            std::size_t used = 0;
            long v = std::stol(t, &used, 0);
            if (used == t.size() || (used + 1 == t.size() && (t.back() == 'L' || t.back() == 'l')))
                return v;
        } catch (...) {
        }
        throw std::runtime_error("unknown identifier in resource script: " + t);
    }

    WORD id(const std::string& token) const { return static_cast<WORD>(number(token)); }

    // A style expression: names or numbers joined by |, "NOT x" taking x away.
    void applyStyle(const std::string& expression, DWORD& style) const {
        std::stringstream parts(expression);
        std::string name;
        while (std::getline(parts, name, '|')) {
            name = trim(name);
            bool remove = name.rfind("NOT ", 0) == 0;
            if (remove)
                name = trim(name.substr(4));
            DWORD bits;
            auto it = kStyleNames.find(name);
            if (it != kStyleNames.end())
                bits = it->second;
            else if (!name.empty() && (std::isdigit(static_cast<unsigned char>(name[0])) || defines_.count(name)))
                bits = static_cast<DWORD>(number(name));
            else
                throw std::runtime_error("unknown style in resource script: " + name);
            style = remove ? (style & ~bits) : (style | bits);
        }
    }

    bool isBegin(const std::string& line) const { return line == "BEGIN" || line == "{"; }
    bool isEnd(const std::string& line) const { return line == "END" || line == "}"; }

    // The next statement, joined with the lines that continue it.
    std::string statement() {
        std::string s = lines_[next_++];
        while (!s.empty() && (s.back() == ',' || s.back() == '|') && next_ < lines_.size())
            s += " " + lines_[next_++];
        return s;
    }

    void expectBegin(const char* what) {
        if (next_ >= lines_.size() || !isBegin(lines_[next_]))
            throw std::runtime_error(std::string("resource script: BEGIN expected in ") + what);
        ++next_;
    }

    void dialog(DialogTemplate& t) {
        std::regex keyword(R"(^(STYLE|EXSTYLE|CAPTION|FONT|MENU|CLASS|LANGUAGE|CHARACTERISTICS|VERSION)\s+(.*)$)");
        while (next_ < lines_.size() && !isBegin(lines_[next_])) {
            std::string line = statement();
            std::smatch m;
            if (!std::regex_search(line, m, keyword))
                throw std::runtime_error("resource script: unknown line in a dialog's head: " + line);
            std::string what = m[1].str(), rest = m[2].str();
            if (what == "STYLE")
                applyStyle(rest, t.style);
            else if (what == "EXSTYLE")
                applyStyle(rest, t.exStyle);
            else if (what == "CAPTION")
                t.caption = unquote(rest);
            else if (what == "FONT") {
                auto args = arguments(rest);
                t.pointSize = static_cast<int>(number(args.at(0)));
                t.font = unquote(args.at(1));
            }
        }
        expectBegin("a dialog");
        while (next_ < lines_.size() && !isEnd(lines_[next_]))
            t.controls.push_back(control(statement()));
        ++next_;
    }

    ControlTemplate control(const std::string& line) {
        auto space = line.find_first_of(" \t");
        ControlTemplate c;
        c.statement = line.substr(0, space);
        auto args = arguments(space == std::string::npos ? "" : line.substr(space + 1));
        std::size_t at = 0;
        auto arg = [&](const char* what) -> const std::string& {
            if (at >= args.size())
                throw std::runtime_error(std::string("resource script: ") + what + " missing in: " + line);
            return args[at++];
        };
        c.style = WS_CHILD | WS_VISIBLE;
        if (c.statement == "CONTROL") {
            c.text = unquote(arg("text"));
            c.id = static_cast<int>(number(arg("id")));
            c.className = unquote(arg("class"));
            applyStyle(arg("style"), c.style);
        } else {
            auto kind = kControls.find(c.statement);
            if (kind == kControls.end())
                throw std::runtime_error("resource script: unknown control: " + line);
            c.className = kind->second.className;
            c.style |= kind->second.style;
            c.text = kind->second.textFirst ? unquote(arg("text")) : std::to_string(number(arg("icon")));
            c.id = static_cast<int>(number(arg("id")));
        }
        c.x = static_cast<int>(number(arg("x")));
        c.y = static_cast<int>(number(arg("y")));
        if (at < args.size())
            c.cx = static_cast<int>(number(arg("width")));
        if (at < args.size())
            c.cy = static_cast<int>(number(arg("height")));
        if (c.statement != "CONTROL" && at < args.size())
            applyStyle(arg("style"), c.style);
        return c;
    }

    // The items of a MENU or MENUEX block, pop-ups with their own.
    std::vector<MenuTemplateItem> menuItems() {
        expectBegin("a menu");
        std::vector<MenuTemplateItem> items;
        std::regex option(R"(^(GRAYED|INACTIVE|CHECKED|MENUBARBREAK|MENUBREAK|HELP)$)");
        while (next_ < lines_.size() && !isEnd(lines_[next_])) {
            std::string line = statement();
            auto space = line.find_first_of(" \t");
            std::string word = line.substr(0, space);
            std::string rest = space == std::string::npos ? "" : trim(line.substr(space + 1));
            MenuTemplateItem item;
            if (word == "MENUITEM" && rest == "SEPARATOR") {
                item.flags = MF_SEPARATOR;
            } else if (word == "MENUITEM" || word == "POPUP") {
                auto args = arguments(rest);
                item.text = unquote(args.at(0));
                for (std::size_t i = 1; i < args.size(); ++i) {
                    if (std::regex_match(args[i], option)) {
                        if (args[i] == "GRAYED")
                            item.flags |= MF_GRAYED;
                        else if (args[i] == "INACTIVE")
                            item.flags |= MF_DISABLED;
                        else if (args[i] == "CHECKED")
                            item.flags |= MF_CHECKED;
                    } else if (i == 1 && word == "MENUITEM") {
                        item.id = static_cast<UINT>(number(args[i]));
                    } else if (i == 2 && !args[i].empty()) {
                        // MENUEX: the item's type; a separator has MFT_SEPARATOR
                        if (number(args[i]) & MF_SEPARATOR)
                            item.flags |= MF_SEPARATOR;
                    }
                }
                if (word == "MENUITEM" && item.text.empty() && item.id == 0)
                    item.flags |= MF_SEPARATOR;
                if (word == "POPUP") {
                    item.flags |= MF_POPUP;
                    item.children = menuItems();
                }
            } else {
                throw std::runtime_error("resource script: unknown line in a menu: " + line);
            }
            items.push_back(std::move(item));
        }
        ++next_;
        return items;
    }

    void stringTable() {
        while (next_ < lines_.size() && !isBegin(lines_[next_]))
            ++next_; // LANGUAGE and the like
        expectBegin("a string table");
        std::regex entry(R"re(^(\w+)\s*,?\s*(".*")$)re");
        while (next_ < lines_.size() && !isEnd(lines_[next_])) {
            std::string line = statement();
            std::smatch m;
            if (!std::regex_search(line, m, entry))
                throw std::runtime_error("resource script: unknown line in a string table: " + line);
            machine_.resources().addString(static_cast<UINT>(number(m[1].str())), unquote(m[2].str()));
        }
        ++next_;
    }

    void skipBlock() {
        while (next_ < lines_.size() && !isBegin(lines_[next_]))
            ++next_;
        int depth = 0;
        while (next_ < lines_.size()) {
            const std::string& line = lines_[next_++];
            if (isBegin(line))
                ++depth;
            else if (isEnd(line) && --depth == 0)
                return;
        }
    }

    Machine& machine_;
    std::map<std::string, long> defines_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

} // namespace

void loadResourceScript(Machine& machine, const std::string& path) { Script(machine, path).load(); }

} // namespace sim
