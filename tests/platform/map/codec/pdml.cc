#include "pdml.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "../transport/transport_test_util.h"
#include "map/transport/pcap_writer.h"

namespace {
std::string attr(const std::string& tag, const char* key) {
    std::string k = std::string(" ") + key + "=\"";
    size_t at = tag.find(k);
    if (at == std::string::npos)
        return "";
    at += k.size();
    size_t end = tag.find('"', at);
    std::string v = tag.substr(at, end - at);
    // Undo the XML escapes tshark uses.
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '&') {
            size_t semi = v.find(';', i);
            const std::string ent = v.substr(i + 1, semi - i - 1);
            const std::string named[] = {"amp", "lt", "gt", "quot", "apos"};
            for (size_t k = 0; k < 5; ++k)
                out += ent == named[k] ? std::string(1, "&<>\"'"[k]) : "";
            if (!ent.empty() && ent[0] == '#')
                out += static_cast<char>(std::strtol(ent.c_str() + (ent[1] == 'x' ? 2 : 1), nullptr,
                                                     ent[1] == 'x' ? 16 : 10));
            i = semi;
        } else {
            out += v[i];
        }
    }
    return out;
}

}  // namespace

// Fields of each packet, in document order.
std::vector<std::vector<PdmlField>> parse_pdml(const std::string& xml) {
    std::vector<std::vector<PdmlField>> packets;
    size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        size_t end = xml.find('>', at);
        if (end == std::string::npos)
            break;
        std::string tag = xml.substr(at, end - at + 1);
        at = end;
        if (tag.compare(0, 7, "<packet") == 0) {
            packets.emplace_back();
        } else if (!packets.empty() &&
                   (tag.compare(0, 6, "<field") == 0 || tag.compare(0, 6, "<proto") == 0)) {
            PdmlField f;
            f.name = attr(tag, "name");
            f.show = attr(tag, "show");
            f.showname = attr(tag, "showname");
            f.pos = std::strtoul(attr(tag, "pos").c_str(), nullptr, 10);
            f.size = std::strtoul(attr(tag, "size").c_str(), nullptr, 10);
            packets.back().push_back(f);
        }
    }
    return packets;
}

bool have_tshark() {
    return std::system("tshark --version >/dev/null 2>&1") == 0;
}

std::string run_tshark(const std::string& pcap) {
    std::string out;
    run_command("tshark -n -r '" + pcap + "' -T pdml 2>/dev/null", &out);
    return out;
}

bool parse_number(const std::string& s, unsigned long long& v) {
    if (s.empty())
        return false;
    char* end = nullptr;
    v = std::strtoull(s.c_str(), &end, 0);
    return end && *end == '\0';
}

std::vector<std::vector<PdmlField>> tshark_dissect(
    const std::vector<std::vector<uint8_t>>& frames) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp ? tmp : "/tmp") + "/ozr_dissect_XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0)
        return {};
    close(fd);
    PcapWriter w;
    if (w.open(path, 1u << 30)) {
        for (const auto& f : frames)
            w.write(f.data(), f.size());
        w.close();
    }
    auto packets = parse_pdml(run_tshark(path));
    std::remove(path.c_str());
    return packets;
}

std::vector<std::string> expert_complaints(const std::vector<PdmlField>& fields) {
    std::vector<std::string> out;
    for (const auto& f : fields) {
        if ((f.name == "_ws.expert" || f.name == "_ws.malformed") &&
            f.showname.find("(Note/") == std::string::npos &&
            f.showname.find("(Chat/") == std::string::npos)
            out.push_back(f.showname.empty() ? f.name : f.showname);
    }
    return out;
}
