// The pattern of the routes that set one value from a JSON body: read the key,
// reject what is not usable with 400, answer 200 without a body once the
// owner took the value.
#pragma once

#include <string>

#include "rest/dispatch.h"

class ClientContext;
class Logger;

// Each reads KEY from the request body into VALUE and returns true. Otherwise
// it answers 400 and returns false: a body that is not a JSON object logs
// "Parse Error: Invalid request body: {}" with the body text, a missing key or
// one of another JSON type logs "Parse Error: Invalid request parameter".
bool rest_body_bool(const ClientContext& client, const HttpRequest& request, HttpResponse& response,
                    const char* key, bool& value, const Logger* logger);
bool rest_body_int(const ClientContext& client, const HttpRequest& request, HttpResponse& response,
                   const char* key, int& value, const Logger* logger);
bool rest_body_int64(const ClientContext& client, const HttpRequest& request,
                     HttpResponse& response, const char* key, int64_t& value, const Logger* logger);
// Any JSON number.
bool rest_body_double(const ClientContext& client, const HttpRequest& request,
                      HttpResponse& response, const char* key, double& value, const Logger* logger);
bool rest_body_string(const ClientContext& client, const HttpRequest& request,
                      HttpResponse& response, const char* key, std::string& value,
                      const Logger* logger);

// A value outside its range: logs MESSAGE (the route's own text) and answers
// 400 with {"error": MESSAGE}. Returns 0 for the handler to return.
int rest_reject(HttpResponse& response, const Logger* logger, const std::string& message);
// TEXT from a request as it may appear in a log line or an error answer: control
// bytes become '?', and only the first MAX bytes are kept ("..." marks the cut).
std::string rest_printable(const std::string& text, size_t max = 64);
// The value was taken: 200 without a body.
int rest_accepted(HttpResponse& response);
// The minder a route needs is not there: logs MESSAGE (e.g. "Cannot find data
// minder") and answers 503.
int rest_unavailable(HttpResponse& response, const Logger* logger, const std::string& message);
