#include "main/cmdline.h"

#include <cstring>

namespace {
struct Descriptor {
    OptionIndex index;
    const char* shortopts;
    const char* longopt;
    bool arg_required;
    const char* help;
};

// Descriptor order is the usage order. In a help text a tab separates the option column
// from the description and a newline starts another row.
const Descriptor kUsage[] = {
    {OPT_UNKNOWN, "", "", false, "Options:"},
    {OPT_HELP, "h", "help", false, "   -h  --help\tprint this message and exit"},
    {OPT_VERSION, "", "version", false,
     "   --version\tprint the version, tag, and commit, then exit"},
    {OPT_LOG_LEVEL, "", "log-level", true,
     "   --log-level=LEVEL\t'emerg', 'alert', 'crit', 'error', 'warn', 'notice', 'info, "
     "or 'debug'\n"
     "   --log-level=PREFIX:LEVEL\tprefix is a logger path prefix, e.g. 'root', 'root.graph', "
     "'root.configuration', 'root.rest', 'root.mgmt', 'root.steering', 'root.data', 'ozr.map', "
     "'map.1905', 'map.library', 'map.controller' or 'map.vendor-ipc'"},
    {OPT_LOG_PATH, "", "log-path", true, "   --log-path=PATH\t'syslog', 'stdout' or a file path"},
    {OPT_UNIT_TEST, "", "unit-test", false, "   --unit-test\texit after running unit tests"},
};

const Descriptor* find_long(const std::string& name) {
    for (const Descriptor& d : kUsage) {
        if (d.longopt[0] != '\0' && name == d.longopt)
            return &d;
    }
    return nullptr;
}

const Descriptor* find_short(char c) {
    for (const Descriptor& d : kUsage) {
        if (c != '\0' && std::strchr(d.shortopts, c) != nullptr)
            return &d;
    }
    return nullptr;
}

// Splits one help line at its tab into the option column and the description.
void split_columns(const std::string& line, std::string& left, std::string& right) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) {
        left = line;
        right.clear();
        return;
    }
    left = line.substr(0, tab);
    right = line.substr(tab + 1);
}

std::vector<std::string> wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string cur;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty())
            continue;
        while (word.size() > width) {  // a word wider than the column is cut
            if (!cur.empty()) {
                lines.push_back(cur);
                cur.clear();
            }
            lines.push_back(word.substr(0, width));
            word.erase(0, width);
        }
        if (cur.empty()) {
            cur = word;
        } else if (cur.size() + 1 + word.size() <= width) {
            cur += ' ';
            cur += word;
        } else {
            lines.push_back(cur);
            cur = word;
        }
    }
    if (!cur.empty() || lines.empty())
        lines.push_back(cur);
    return lines;
}
}  // namespace

bool parse_command_line(int argc, const char* const* argv, CommandLine& out, FILE* err) {
    out = CommandLine();
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i] ? argv[i] : "";
        if (options_ended || a.size() < 2 || a[0] != '-') {
            out.non_options.push_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        if (a[1] == '-') {
            size_t eq = a.find('=');
            std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            ParsedOption o;
            o.text = a;
            o.name = "--" + name;
            const Descriptor* d = find_long(name);
            if (d == nullptr || (!d->arg_required && eq != std::string::npos)) {
                out.options.push_back(o);  // unknown
                continue;
            }
            o.index = d->index;
            if (d->arg_required) {
                if (eq != std::string::npos) {
                    o.arg = a.substr(eq + 1);
                } else if (i + 1 < argc && argv[i + 1] != nullptr) {
                    o.arg = argv[++i];
                } else {
                    std::fprintf(err, "Option %s requires an argument\n", o.name.c_str());
                    return false;
                }
            }
            out.options.push_back(o);
            continue;
        }
        // A cluster of short options; none of ours takes an argument.
        for (size_t k = 1; k < a.size(); ++k) {
            ParsedOption o;
            o.text = std::string("-") + a[k];
            o.name = o.text;
            const Descriptor* d = find_short(a[k]);
            if (d)
                o.index = d->index;
            out.options.push_back(o);
        }
    }
    return true;
}

std::string usage_text(int width) {
    struct Row {
        std::string left, right;
    };
    std::vector<Row> rows;
    size_t left_max = 0;
    for (const Descriptor& d : kUsage) {
        std::string help = d.help;
        size_t pos = 0;
        while (pos <= help.size()) {
            size_t nl = help.find('\n', pos);
            if (nl == std::string::npos)
                nl = help.size();
            Row r;
            split_columns(help.substr(pos, nl - pos), r.left, r.right);
            if (!r.right.empty() && r.left.size() > left_max)
                left_max = r.left.size();
            rows.push_back(r);
            pos = nl + 1;
        }
    }
    size_t w = width > 0 ? static_cast<size_t>(width) : 80;
    size_t col = left_max + 2;
    bool own_line = col * 4 > w * 3;  // the option column takes more than 75 per cent
    size_t desc_col = own_line ? w / 2 : col;
    size_t desc_width = w - desc_col;
    std::string out;
    for (const Row& r : rows) {
        if (r.right.empty()) {
            out += r.left + "\n";
            continue;
        }
        std::vector<std::string> lines = wrap(r.right, desc_width);
        if (own_line) {
            out += r.left + "\n";
        } else {
            out += r.left + std::string(desc_col - r.left.size(), ' ');
            out += lines[0] + "\n";
            lines.erase(lines.begin());
        }
        for (const std::string& l : lines)
            out += std::string(desc_col, ' ') + l + "\n";
    }
    return out;
}
