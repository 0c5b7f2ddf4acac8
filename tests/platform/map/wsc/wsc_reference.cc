#include "wsc_reference.h"

#include <rapidjson/document.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/map/transport/transport_test_util.h"

namespace wsc_ref {

bool run(const std::string& mode, const std::map<std::string, std::string>& strings,
         const std::map<std::string, long long>& numbers, Object& out, std::string* why) {
    std::string req = "{";
    for (const auto& kv : strings)
        req += (req.size() > 1 ? "," : "") + ("\"" + kv.first + "\":\"" + kv.second + "\"");
    for (const auto& kv : numbers)
        req += (req.size() > 1 ? "," : "") + ("\"" + kv.first + "\":" + std::to_string(kv.second));
    req += "}";
    char in_path[] = "/tmp/wsc_ref_in_XXXXXX";
    int fd = mkstemp(in_path);
    if (fd < 0) {
        *why = "no temporary file";
        return false;
    }
    (void)!write(fd, req.data(), req.size());
    close(fd);
    // Debian's interpreter first: python3-cryptography (installed by scripts/setup.sh) is
    // its package, whatever other python3 comes first on PATH.
    const std::string python =
        access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const std::string cmd =
        python + " " + WSC_REFERENCE_SCRIPT + " " + mode + " < " + in_path + " 2>&1";
    std::string text;
    const int status = run_command(cmd, &text);
    unlink(in_path);
    if (status == -1 || status == 127) {
        *why = "python3 is not installed";
        return false;
    }
    if (status == 77) {
        *why = "python3-cryptography is not installed (scripts/setup.sh installs it)";
        return false;
    }
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    if (status != 0 || doc.HasParseError() || !doc.IsObject()) {
        *why = "reference script failed: " + text;
        return false;
    }
    out = Object();
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        const std::string k = it->name.GetString();
        if (it->value.IsString())
            out.strings[k] = it->value.GetString();
        else if (it->value.IsInt64())
            out.numbers[k] = it->value.GetInt64();
        else if (it->value.IsBool() && k == "ok")
            out.ok = it->value.GetBool();
        else if (it->value.IsArray())
            for (const auto& v : it->value.GetArray())
                out.attributes.push_back(v.GetInt64());
    }
    return true;
}

}  // namespace wsc_ref
