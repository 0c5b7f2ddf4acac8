#include "rest/listen_address.h"

#include <rapidjson/document.h>
#include <uv.h>

#include <cstring>

#include "core/log.h"

RestListenAddress rest_listen_address(int rc, const char* buffer, const Logger* logger) {
    RestListenAddress out;
    bool ok = false;
    if (rc == 0 && buffer) {
        rapidjson::Document doc;
        doc.Parse<rapidjson::kParseIterativeFlag>(buffer);
        if (!doc.HasParseError() && doc.IsObject()) {
            ok = true;
            // Each key replaces its own default; one that is absent or unusable leaves it.
            struct sockaddr_in sa;
            auto ip = doc.FindMember("rest-ipv4");
            if (ip != doc.MemberEnd() && ip->value.IsString() &&
                uv_ip4_addr(ip->value.GetString(), 0, &sa) == 0)
                out.address = ip->value.GetString();
            auto port = doc.FindMember("rest-port");
            if (port != doc.MemberEnd() && port->value.IsInt() && port->value.GetInt() > 0 &&
                port->value.GetInt() <= 65535)
                out.port = port->value.GetInt();
            OZR_DEBUG(logger, "nal_getMeshRestListenAddress {} {} ", out.address, out.port);
        }
    }
    if (!ok)
        OZR_ERROR(logger, "Error in nal_getMeshRestListenAddress use defualt values");
    OZR_INFO(logger, "listen_addr  {} _listen_port {} ", out.address, out.port);
    return out;
}
