// The REST listen address: what the platform reports, or the defaults.
#pragma once

#include <string>

class Logger;

struct RestListenAddress {
    std::string address = "127.0.0.1";
    int port = 8090;
};

// RC and BUFFER are the result and the filled buffer of
// nal_getMeshRestListenAddress (0 = success): a JSON object whose "rest-ipv4"
// (string) and "rest-port" (integer 1..65535) replace the defaults. Logs
// "nal_getMeshRestListenAddress {} {} " (debug) on success, "Error in
// nal_getMeshRestListenAddress use defualt values" (error) when the call failed
// or its answer is unusable, and the chosen pair "listen_addr  {} _listen_port
// {} " (info).
RestListenAddress rest_listen_address(int rc, const char* buffer, const Logger* logger);
