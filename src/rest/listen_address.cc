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
        struct sockaddr_in sa;
        if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("rest-ipv4") &&
            doc["rest-ipv4"].IsString() && doc.HasMember("rest-port") && doc["rest-port"].IsInt() &&
            doc["rest-port"].GetInt() > 0 && doc["rest-port"].GetInt() <= 65535 &&
            uv_ip4_addr(doc["rest-ipv4"].GetString(), 0, &sa) == 0) {
            out.address = doc["rest-ipv4"].GetString();
            out.port = doc["rest-port"].GetInt();
            ok = true;
            OZR_DEBUG(logger, "nal_getMeshRestListenAddress {} {} ", out.address, out.port);
        }
    }
    if (!ok)
        OZR_ERROR(logger, "Error in nal_getMeshRestListenAddress use defualt values");
    OZR_INFO(logger, "listen_addr  {} _listen_port {} ", out.address, out.port);
    return out;
}
