#include "rest/setter.h"

#include "core/log.h"
#include "rest/http_server.h"

namespace {

// The member KEY of the body object, or null after answering 400.
const rapidjson::Value* body_member(const ClientContext& client, const HttpRequest& request,
                                    HttpResponse& response, const char* key, const Logger* logger) {
    if (!request.body.IsObject()) {
        OZR_ERROR(logger, "Parse Error: Invalid request body: {}", client.get_body());
        set_json_error(response, 400, "Invalid request body");
        return nullptr;
    }
    auto it = request.body.FindMember(key);
    if (it == request.body.MemberEnd()) {
        OZR_ERROR(logger, "Parse Error: Invalid request parameter");
        set_json_error(response, 400, "Invalid request parameter");
        return nullptr;
    }
    return &it->value;
}

bool wrong_type(HttpResponse& response, const Logger* logger) {
    OZR_ERROR(logger, "Parse Error: Invalid request parameter");
    set_json_error(response, 400, "Invalid request parameter");
    return false;
}

}  // namespace

bool rest_body_bool(const ClientContext& client, const HttpRequest& request, HttpResponse& response,
                    const char* key, bool& value, const Logger* logger) {
    const rapidjson::Value* v = body_member(client, request, response, key, logger);
    if (!v)
        return false;
    if (!v->IsBool())
        return wrong_type(response, logger);
    value = v->GetBool();
    return true;
}

bool rest_body_int(const ClientContext& client, const HttpRequest& request, HttpResponse& response,
                   const char* key, int& value, const Logger* logger) {
    const rapidjson::Value* v = body_member(client, request, response, key, logger);
    if (!v)
        return false;
    if (!v->IsInt())
        return wrong_type(response, logger);
    value = v->GetInt();
    return true;
}

bool rest_body_int64(const ClientContext& client, const HttpRequest& request,
                     HttpResponse& response, const char* key, int64_t& value,
                     const Logger* logger) {
    const rapidjson::Value* v = body_member(client, request, response, key, logger);
    if (!v)
        return false;
    if (!v->IsInt64())
        return wrong_type(response, logger);
    value = v->GetInt64();
    return true;
}

bool rest_body_double(const ClientContext& client, const HttpRequest& request,
                      HttpResponse& response, const char* key, double& value,
                      const Logger* logger) {
    const rapidjson::Value* v = body_member(client, request, response, key, logger);
    if (!v)
        return false;
    if (!v->IsNumber())
        return wrong_type(response, logger);
    value = v->GetDouble();
    return true;
}

bool rest_body_string(const ClientContext& client, const HttpRequest& request,
                      HttpResponse& response, const char* key, std::string& value,
                      const Logger* logger) {
    const rapidjson::Value* v = body_member(client, request, response, key, logger);
    if (!v)
        return false;
    if (!v->IsString())
        return wrong_type(response, logger);
    value.assign(v->GetString(), v->GetStringLength());
    return true;
}

int rest_reject(HttpResponse& response, const Logger* logger, const std::string& message) {
    OZR_ERROR(logger, "{}", message);
    set_json_error(response, 400, message);
    return 0;
}

std::string rest_printable(const std::string& text, size_t max) {
    std::string out;
    const size_t n = text.size() < max ? text.size() : max;
    out.reserve(n + 3);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        out.push_back(ch < 0x20 || ch == 0x7f ? '?' : static_cast<char>(ch));
    }
    if (text.size() > max)
        out += "...";
    return out;
}

int rest_accepted(HttpResponse& response) {
    rapidjson::Document fresh;
    response.document.Swap(fresh);
    response.status = 200;
    return 0;
}

int rest_unavailable(HttpResponse& response, const Logger* logger, const std::string& message) {
    OZR_ERROR(logger, "{}", message);
    set_json_error(response, 503, message);
    return 0;
}
