// The REST server against a real TCP client: framing, keep-alive, pipelining,
// CORS, errors, routing and the limits that protect the daemon.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <memory>
#include <vector>

#include "rest/json_writer.h"
#include "rest/setter.h"
#include "rest_test_support.h"

namespace {

// Connections, URI, header count and bytes, body, idle and linger ms, pending write bytes.
const RestLimits kLimits{4, 256, 16, 2048, 4096, 5000, 300, 64 * 1024};

rapidjson::Document parse(const std::string& body) {
    rapidjson::Document d;
    d.Parse(body.c_str());
    return d;
}

// Routes of the tests: a body echoed, a large document, a failing handler, a
// document that cannot be rendered, and components and query echoed.
void add_test_routes(DispatchTable& t, const Logger* log) {
    t.add(REST_POST | REST_PUT, "/t/echo",
          [](Context&, ClientContext&, const HttpRequest& req, HttpResponse& r) {
              JSONObjectRenderer out(r.document);
              rapidjson::Value copy(req.body, out.allocator());
              out.add_bool("had-body", !req.body.IsNull()).add_value("body", copy);
              r.status = 201;
              return 0;
          });
    t.add(REST_GET, "/t/big", [](Context&, ClientContext&, const HttpRequest&, HttpResponse& r) {
        JSONObjectRenderer(r.document).add_string("data", std::string(100000, 'z'));
        r.status = 200;
        return 0;
    });
    t.add(REST_GET, "/t/fail", [](Context&, ClientContext&, const HttpRequest&, HttpResponse& r) {
        r.status = 503;
        return -3;
    });
    t.add(REST_GET, "/t/nan", [](Context&, ClientContext&, const HttpRequest&, HttpResponse& r) {
        JSONObjectRenderer(r.document).add_float("x", std::nanf(""));
        r.status = 200;
        return 0;
    });
    t.add(REST_DELETE, "/t/del", [](Context&, ClientContext&, const HttpRequest&, HttpResponse& r) {
        r.status = 204;
        return 0;
    });
    t.add(REST_PUT | REST_POST, "/t/setter",
          [log](Context&, ClientContext& client, const HttpRequest& req, HttpResponse& r) {
              int value = 0;
              bool flag = false;
              if (!rest_body_int(client, req, r, "value", value, log))
                  return 0;
              if (!rest_body_bool(client, req, r, "flag", flag, log))
                  return 0;
              if (value < 0)
                  return rest_reject(r, log, "btm disassoc time must be >= 0");
              if (value == 99)
                  return rest_unavailable(r, log, "Cannot find data minder");
              return rest_accepted(r);
          });
    // Last: with "*" second it would take every other "/t/..." route.
    t.add(REST_GET, "/t/*/x/*",
          [](Context&, ClientContext&, const HttpRequest& req, HttpResponse& r) {
              JSONObjectRenderer out(r.document);
              rapidjson::Value comps(rapidjson::kArrayType);
              for (const auto& c : req.components)
                  comps.PushBack(rapidjson::Value(c.c_str(), out.allocator()), out.allocator());
              rapidjson::Value query(rapidjson::kObjectType);
              for (const auto& kv : req.query)
                  query.AddMember(rapidjson::Value(kv.first.c_str(), out.allocator()),
                                  rapidjson::Value(kv.second.c_str(), out.allocator()),
                                  out.allocator());
              out.add_value("components", comps).add_value("query", query);
              r.status = 200;
              return 0;
          });
}

class RestServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_unique<ServerHarness>(kLimits);
        add_test_routes(server->table(), &server->logger());
        ASSERT_TRUE(server->start());
        port = server->port();
    }
    void TearDown() override { server.reset(); }

    HttpAnswer get(const std::string& uri, const std::string& headers = "") {
        return http_request(port, get_request(uri, headers));
    }

    // RAW sent on a new connection of C: the answer, whose head starts with STATUS_LINE.
    HttpAnswer first_answer(TestClient& c, const std::string& raw, const char* status_line) {
        HttpAnswer a;
        EXPECT_TRUE(c.connect(port) && c.send(raw) && c.read_answer(a)) << raw;
        EXPECT_EQ(a.head.rfind(status_line, 0), 0u) << a.head;
        return a;
    }

    LogCapture log;
    std::unique_ptr<ServerHarness> server;
    int port = 0;
};

const char kCorsStar[] =
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: POST, OPTIONS\r\n"
    "Access-Control-Allow-Headers: Content-Type\r\n";

TEST_F(RestServerTest, GetAnswersPrettyJsonWithExactHead) {
    HttpAnswer a = get("/debug/rest");
    ASSERT_EQ(a.status, 200);
    const std::string body = "{\n    \"returnval\": \"hello world\"\n}";
    EXPECT_EQ(a.body, body);
    EXPECT_EQ(a.head, std::string("HTTP/1.1 200 OK\r\n") + kCorsStar +
                          "Content-Type: application/json\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n");
    EXPECT_TRUE(log.contains("Received request from 127.0.0.1:"));
    EXPECT_TRUE(log.contains("\"GET /debug/rest\""));
    EXPECT_TRUE(log.contains("New REST API connection from 127.0.0.1:"));
}

// A request that cannot be parsed or whose body is no JSON: 400 with the reason, and the
// same connection goes on.
TEST_F(RestServerTest, BadRequestsAnswer400AndKeepTheConnection) {
    const struct {
        std::string raw;
        const char* error;  // the answer's text, when it is known
        std::vector<const char*> logged;
    } cases[] = {
        {body_request("POST", "/t/echo", "{\"a\": "),
         "Invalid value.",
         {"Request body parse error, offset 6: Invalid value. (3)"}},
        {"BREW /pot HTCPCP/1.0\r\n\r\n", nullptr, {"Parse failed: "}},
        {get_request("/debug/rest", "X-Long: " + std::string(600, 'v') + "\r\n"),
         nullptr,
         {"[parser] HTTP Header Value too long at X-Long", "Parse failed: ", "Failed to parse "}},
    };
    for (const auto& row : cases) {
        TestClient c;
        HttpAnswer a = first_answer(c, row.raw, "HTTP/1.1 400 Bad Request\r\n");
        rapidjson::Document d = parse(a.body);
        ASSERT_TRUE(d.IsObject()) << row.raw;
        EXPECT_EQ(d.MemberCount(), 1u);
        ASSERT_TRUE(d["error"].IsString());
        if (row.error) {
            EXPECT_STREQ(d["error"].GetString(), row.error);
        }
        for (const char* line : row.logged)
            EXPECT_TRUE(log.contains(line)) << line;
        ASSERT_TRUE(c.send(body_request("POST", "/t/echo", R"({"a": [1, 2]})")));
        ASSERT_TRUE(c.read_answer(a));
        EXPECT_EQ(a.head.rfind("HTTP/1.1 201 Created\r\n", 0), 0u) << row.raw;
        EXPECT_TRUE(json_has(parse(a.body), R"({"had-body": true, "body": {"a": [1, 2]}})"));
    }
}

TEST_F(RestServerTest, DeeplyNestedBodyIsHandledWithoutRecursion) {
    std::string deep(2000, '[');
    deep += std::string(2000, ']');
    HttpAnswer a = http_request(port, body_request("POST", "/debug/rest", deep));
    EXPECT_EQ(a.status, 400);
    deep = std::string(4000, '[');
    a = http_request(port, body_request("POST", "/debug/rest", deep));
    EXPECT_EQ(a.status, 400);
    EXPECT_TRUE(parse(a.body)["error"].IsString());
}

TEST_F(RestServerTest, OptionsAnswers204WithCorsAndNoBody) {
    HttpAnswer a = http_request(port, "OPTIONS /debug/graph HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_EQ(a.status, 204);
    EXPECT_EQ(a.head,
              std::string("HTTP/1.1 204 No Content\r\n") + kCorsStar + "Content-Length: 0\r\n");
    EXPECT_EQ(a.body, "");

    a = http_request(port, "OPTIONS /anything HTTP/1.1\r\nOrigin: http://ui.local:8080\r\n\r\n");
    EXPECT_EQ(a.status, 204);
    EXPECT_EQ(a.head,
              "HTTP/1.1 204 No Content\r\n"
              "Access-Control-Allow-Origin: http://ui.local:8080\r\n"
              "Access-Control-Allow-Methods: POST, OPTIONS\r\n"
              "Access-Control-Allow-Headers: Content-Type\r\n"
              "Content-Length: 0\r\n");
}

TEST_F(RestServerTest, OriginIsEchoedCaseInsensitivelyAndOnlyForThatRequest) {
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.send(get_request("/debug/rest", "origin: https://a.example\r\n")));
    HttpAnswer a;
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_NE(a.head.find("Access-Control-Allow-Origin: https://a.example\r\n"
                          "Access-Control-Allow-Methods: POST, OPTIONS\r\n"
                          "Access-Control-Allow-Headers: Content-Type\r\n"),
              std::string::npos);
    // A header merely starting like "Origin" is not one, and the next request
    // on the connection has no Origin of its own.
    ASSERT_TRUE(c.send(get_request("/debug/rest", "Origin-X: nope\r\nOri: nope\r\n")));
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.headers["access-control-allow-origin"], "*");
}

TEST_F(RestServerTest, HeaderValueLimitIs512Bytes) {
    HttpAnswer a = get("/debug/rest", "X-Long: " + std::string(512, 'v') + "\r\n");
    EXPECT_EQ(a.status, 200);
    // An Origin is echoed only when shorter than 512 bytes; one of 512 is present but
    // has no value to echo.
    a = get("/debug/rest", "Origin: " + std::string(511, 'o') + "\r\n");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.headers["access-control-allow-origin"], std::string(511, 'o'));
    a = get("/debug/rest", "Origin: " + std::string(512, 'o') + "\r\n");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.head.find("Access-Control-Allow-Origin: \r\nAccess-Control-Allow-Methods"),
              std::string::npos)
        << a.head;
}

TEST_F(RestServerTest, RoutingRules) {
    EXPECT_EQ(get("/debug/rest/").status, 200);       // one trailing "/" dropped
    EXPECT_EQ(get("/debug/rest/extra").status, 404);  // more components than the route
    EXPECT_EQ(get("/debug/restx").status, 404);       // components compare whole
    EXPECT_EQ(get("/debug").status, 404);             // one component never reaches two
    EXPECT_EQ(get("/Debug/rest").status, 404);        // byte for byte
    EXPECT_EQ(http_request(port, body_request("POST", "/debug/array", "{}")).status, 404);
    EXPECT_EQ(http_request(port, "DELETE /t/del HTTP/1.1\r\n\r\n").status, 204);
    EXPECT_EQ(http_request(port, "PATCH /t/echo HTTP/1.1\r\n\r\n").status, 404);
    EXPECT_TRUE(log.contains("Could not find a match for /debug/rest/extra\n"));
    HttpAnswer a = get("/nope");
    EXPECT_EQ(a.head.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_TRUE(parse(a.body)["error"].IsString());

    // "*" accepts any one component; fewer request components than the
    // pattern still match once two agree.
    // The query: %XX decoded, a bad escape kept as typed, the last of a repeated key.
    a = get("/t/abc/x/def?k=a%3Ab&&flag&x=1&x=2&bad=%zz%4");
    ASSERT_EQ(a.status, 200);
    rapidjson::Document d = parse(a.body);
    EXPECT_TRUE(json_has(d, R"({"components": ["t", "abc", "x", "def"],
        "query": {"k": "a:b", "x": "2", "bad": "%zz%4", "flag": ""}})"));
    EXPECT_EQ(d["query"].MemberCount(), 4u);
    a = get("/t/abc");
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(parse(a.body)["components"].Size(), 2u);
    // Matching stops at the first disagreement ("y" is not "x").
    a = get("/t/abc/y/def");
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(parse(a.body)["components"].Size(), 2u);
    EXPECT_EQ(get("/t/abc/x/def/more").status, 404);
}

TEST_F(RestServerTest, HeadMatchesNoRouteAndCarriesNoBody) {
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.send("HEAD /debug/rest HTTP/1.1\r\n\r\n" + get_request("/debug/rest")));
    HttpAnswer a;
    ASSERT_TRUE(c.read_answer(a, 5000, true));
    EXPECT_EQ(a.status, 404);
    EXPECT_NE(a.headers["content-length"], "0");
    // Were the body sent, it would stand where the next answer begins.
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.status, 200);
    EXPECT_STREQ(parse(a.body)["returnval"].GetString(), "hello world");
}

TEST_F(RestServerTest, HandlerFailuresAreLoggedAndAnswered) {
    HttpAnswer a = get("/t/fail");
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.head.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u);
    EXPECT_TRUE(log.contains("Return code -3 from dispatch_uri"));
    a = get("/t/nan");
    EXPECT_EQ(a.status, 500);
    EXPECT_EQ(a.head.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u);
    EXPECT_EQ(a.body, "");
    EXPECT_TRUE(log.contains("Could not render response content in JSON"));
}

TEST_F(RestServerTest, OneByteWritesAreReassembled) {
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.send_bytewise(
        body_request("PUT", "/t/echo", R"({"k": "v", "n": [1, 2, 3]})", "Origin: http://o\r\n")));
    HttpAnswer a;
    ASSERT_TRUE(c.read_answer(a));
    ASSERT_EQ(a.status, 201);
    EXPECT_EQ(a.headers["access-control-allow-origin"], "http://o");
    EXPECT_TRUE(json_has(parse(a.body), R"({"body": {"k": "v", "n": [1, 2, 3]}})"));
    // Chunked bodies arrive byte by byte too.
    ASSERT_TRUE(
        c.send_bytewise("POST /t/echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                        "4\r\n{\"a\"\r\n3\r\n: 1\r\n1\r\n}\r\n0\r\n\r\n"));
    ASSERT_TRUE(c.read_answer(a));
    ASSERT_EQ(a.status, 201);
    EXPECT_EQ(parse(a.body)["body"]["a"].GetInt(), 1);
}

TEST_F(RestServerTest, PipelinedRequestsAreAnsweredInOrder) {
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    std::string batch = get_request("/debug/query?n=1") +
                        body_request("POST", "/t/echo", R"({"n": 2})") + get_request("/nope") +
                        "OPTIONS / HTTP/1.1\r\n\r\n" + get_request("/debug/query?n=5");
    ASSERT_TRUE(c.send(batch));
    HttpAnswer a;
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_STREQ(parse(a.body)["report"].GetString(), "Query string: (k='n' v='1')");
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(parse(a.body)["body"]["n"].GetInt(), 2);
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.status, 404);
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.status, 204);
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_STREQ(parse(a.body)["report"].GetString(), "Query string: (k='n' v='5')");
}

TEST_F(RestServerTest, PipelinedLargeAnswersWaitForTheReader) {
    // Twenty 100 kB answers are more than the server queues at once: it must
    // stop reading, resume as the client reads, and answer every request.
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    std::string batch;
    for (int i = 0; i < 20; ++i)
        batch += get_request("/t/big");
    batch += get_request("/debug/rest");
    ASSERT_TRUE(c.send(batch));
    HttpAnswer a;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(c.read_answer(a)) << i;
        ASSERT_EQ(a.status, 200);
        ASSERT_GT(a.body.size(), 100000u);
    }
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_STREQ(parse(a.body)["returnval"].GetString(), "hello world");
}

TEST_F(RestServerTest, HalfClosedClientStillGetsEveryAnswer) {
    // The client sends its requests and its FIN at once; answers still queued
    // when the server sees the end of input are delivered before it closes.
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    std::string batch;
    for (int i = 0; i < 5; ++i)
        batch += get_request("/t/big");
    ASSERT_TRUE(c.send(batch));
    c.shutdown_send();
    HttpAnswer a;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(c.read_answer(a)) << i;
        EXPECT_EQ(a.status, 200);
    }
    EXPECT_TRUE(c.wait_closed());
    EXPECT_FALSE(log.contains("Read error"));

    // The same after a closing answer.
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.send("POST /t/echo HTTP/1.1\r\nContent-Length: 999999\r\n\r\n"));
    c.shutdown_send();
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.status, 413);
    EXPECT_TRUE(c.wait_closed());
}

TEST_F(RestServerTest, KeepAliveAndConnectionClose) {
    TestClient c;
    ASSERT_TRUE(c.connect(port));
    HttpAnswer a;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(c.send(get_request("/debug/rest")));
        ASSERT_TRUE(c.read_answer(a));
        EXPECT_EQ(a.status, 200);
    }
    ASSERT_TRUE(c.send(get_request("/debug/rest", "Connection: close\r\n")));
    ASSERT_TRUE(c.read_answer(a));
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(c.wait_closed());

    // HTTP/1.0 without keep-alive: one answer, then the server closes.
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.send("GET /debug/rest HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(c.read_answer(a) || a.head.rfind("HTTP/1.1 200", 0) == 0);
    EXPECT_TRUE(c.wait_closed());
}

TEST_F(RestServerTest, LimitsAreInclusive) {
    std::string body = "\"" + std::string(4094, 'b') + "\"";
    ASSERT_EQ(body.size(), 4096u);
    EXPECT_EQ(http_request(port, body_request("PUT", "/t/echo", body)).status, 201);
    EXPECT_EQ(http_request(port, body_request("PUT", "/t/echo", body + " ")).status, 413);
    std::string uri = "/debug/query?q=";
    uri += std::string(256 - uri.size(), 'q');
    EXPECT_EQ(get(uri).status, 200);
    EXPECT_EQ(get(uri + "q").status, 400);
    std::string sixteen;
    for (int i = 0; i < 15; ++i)
        sixteen += "X-H" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(get("/debug/rest", sixteen).status, 200);  // with Host: 16 lines
    EXPECT_EQ(get("/debug/rest", sixteen + "X-Last: 1\r\n").status, 400);
}

// Requests past a limit, and upgrades (what follows is not HTTP and is never parsed):
// one answer, then the server closes.
TEST_F(RestServerTest, HostileRequestsAreAnsweredThenClosed) {
    std::string many, large,
        chunked = "POST /t/echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 17; ++i)
        many += "X-H" + std::to_string(i) + ": 1\r\n";
    for (int i = 0; i < 6; ++i)
        large += "X-H" + std::to_string(i) + ": " + std::string(400, 'x') + "\r\n";
    for (int i = 0; i < 5; ++i)  // cut off once the received body passes the cap
        chunked += "400\r\n" + std::string(1024, ' ') + "\r\n";
    const struct {
        std::string raw;
        const char* status_line;
    } cases[] = {
        {get_request("/debug/rest", "Connection: Upgrade\r\nUpgrade: websocket\r\n") +
             get_request("/debug/array"),
         "HTTP/1.1 200 OK\r\n"},
        {"CONNECT example.com:443 HTTP/1.1\r\n\r\n\x16\x03\x01garbage", "HTTP/1.1 404 "},
        {get_request("/debug/query?q=" + std::string(300, 'a')), "HTTP/1.1 400 Bad Request\r\n"},
        {get_request("/debug/rest", many), "HTTP/1.1 400 "},
        {get_request("/debug/rest", large), "HTTP/1.1 400 "},
        // Declared too large: answered before the body is read.
        {"POST /t/echo HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n{",
         "HTTP/1.1 413 Payload Too Large\r\n"},
        {chunked, "HTTP/1.1 413 "},
    };
    for (const auto& row : cases) {
        TestClient c;
        HttpAnswer a = first_answer(c, row.raw, row.status_line);
        if (a.status >= 400 && row.raw[0] != 'C') {
            EXPECT_EQ(a.headers["connection"], "close") << a.head;
        }
        EXPECT_TRUE(c.wait_closed()) << row.status_line;
    }
}

TEST_F(RestServerTest, ConnectionsBeyondTheCapAreClosedAtOnce) {
    std::vector<std::unique_ptr<TestClient>> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(held.back()->connect(port));
        HttpAnswer a;
        ASSERT_TRUE(held.back()->send(get_request("/debug/rest")));
        ASSERT_TRUE(held.back()->read_answer(a));
    }
    TestClient extra;
    ASSERT_TRUE(extra.connect(port));
    extra.send(get_request("/debug/rest"));
    EXPECT_TRUE(extra.wait_closed());
    // The held ones still work.
    HttpAnswer a;
    ASSERT_TRUE(held[0]->send(get_request("/debug/rest")));
    ASSERT_TRUE(held[0]->read_answer(a));
    EXPECT_EQ(a.status, 200);
    // Once one leaves, a new client gets in (the server notices the close
    // asynchronously, so a refused attempt is retried).
    held[3]->close();
    bool served = false;
    for (int attempt = 0; attempt < 50 && !served; ++attempt) {
        TestClient again;
        ASSERT_TRUE(again.connect(port));
        served = again.send(get_request("/debug/rest")) && again.read_answer(a) && a.status == 200;
    }
    EXPECT_TRUE(served);
}

TEST_F(RestServerTest, SetterPattern) {
    HttpAnswer a =
        http_request(port, body_request("PUT", "/t/setter", R"({"value": 3, "flag": true})"));
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "");
    EXPECT_EQ(a.headers.count("content-type"), 0u);
    EXPECT_EQ(a.headers["content-length"], "0");

    a = http_request(port, "PUT /t/setter HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(a.status, 400);
    for (const char* b : {"[1]", R"({"flag": true})", R"({"value": "3", "flag": true})",
                          R"({"value": 3.5, "flag": true})", R"({"value": 3, "flag": 1})",
                          R"({"value": 5000000000, "flag": true})"})
        EXPECT_EQ(http_request(port, body_request("PUT", "/t/setter", b)).status, 400) << b;
    EXPECT_TRUE(log.contains("Parse Error: Invalid request body: [1]"));
    EXPECT_TRUE(log.contains("Parse Error: Invalid request parameter"));
    a = http_request(port, body_request("POST", "/t/setter", R"({"value": -1, "flag": false})"));
    EXPECT_EQ(a.status, 400);
    EXPECT_STREQ(parse(a.body)["error"].GetString(), "btm disassoc time must be >= 0");
    a = http_request(port, body_request("POST", "/t/setter", R"({"value": 99, "flag": false})"));
    EXPECT_EQ(a.status, 503);
    EXPECT_TRUE(log.contains("Cannot find data minder"));
}

TEST_F(RestServerTest, QuitStopsTheLoop) {
    EXPECT_EQ(get("/quit/").status, 200);
    EXPECT_TRUE(server->loop_stopped_within(5000));
}

TEST(RestServerIdle, IdleAndTricklingConnectionsAreClosed) {
    RestLimits l = kLimits;
    l.idle_timeout_ms = 100;
    ServerHarness server(l);
    ASSERT_TRUE(server.start());
    TestClient silent;
    ASSERT_TRUE(silent.connect(server.port()));
    EXPECT_TRUE(silent.wait_closed(5000));

    // Half a request does not keep the connection open either.
    TestClient partial;
    ASSERT_TRUE(partial.connect(server.port()));
    ASSERT_TRUE(partial.send("GET /debug/rest HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(partial.wait_closed(5000));

    // Nor does a request trickling in: bytes keep coming, the connection
    // still ends once no whole request arrived for the idle time.
    TestClient trickle;
    ASSERT_TRUE(trickle.connect(server.port()));
    std::string slow = get_request("/debug/rest", "X-Pad: " + std::string(400, 'p') + "\r\n");
    bool closed = false;
    size_t sent = 0;
    while (sent < slow.size() && !closed) {
        if (!trickle.send(slow.substr(sent++, 1))) {
            closed = true;  // already gone
            break;
        }
        closed = trickle.wait_closed(20);
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(sent, slow.size());

    // A connection that is answered stays usable until it idles.
    TestClient used;
    ASSERT_TRUE(used.connect(server.port()));
    HttpAnswer a;
    ASSERT_TRUE(used.send(get_request("/debug/rest")));
    ASSERT_TRUE(used.read_answer(a));
    EXPECT_EQ(a.status, 200);
    EXPECT_TRUE(used.wait_closed(5000));
}

TEST(RestServerShutdown, ForeignHandleWalkLeavesNothingBehind) {
    // The daemon's context closes every loop handle itself at the end, with
    // callbacks of its own, while connections are open and answers queued.
    ServerHarness server;
    ASSERT_TRUE(server.start());
    TestClient answered, partial, piped;
    HttpAnswer a;
    ASSERT_TRUE(answered.connect(server.port()));
    ASSERT_TRUE(answered.send(get_request("/debug/rest")));
    ASSERT_TRUE(answered.read_answer(a));
    ASSERT_TRUE(partial.connect(server.port()));
    ASSERT_TRUE(partial.send("POST /debug/rest HTTP/1.1\r\nContent-Length: 100\r\n\r\n{"));
    ASSERT_TRUE(piped.connect(server.port()));
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += get_request("/debug/array");
    ASSERT_TRUE(piped.send(many));
    ASSERT_TRUE(piped.read_answer(a));
    EXPECT_TRUE(server.shutdown_by_handle_walk());
    EXPECT_TRUE(answered.wait_closed());
    EXPECT_TRUE(partial.wait_closed());
}

TEST(RestServerStart, BadAddressOrBusyPortFailsToStart) {
    LogCapture log;
    ServerHarness first;
    ASSERT_TRUE(first.start());
    Logger logger(nullptr, "rest", "[REST]", 7);
    uv_loop_t loop;
    uv_loop_init(&loop);
    DispatchTable table(&logger);
    Context ctx;
    {
        HttpServer s(&loop, &logger, ctx, table);
        EXPECT_NE(s.start("127.0.0.1", first.port()), 0);
        EXPECT_TRUE(log.contains("Could not start REST server"));
        s.close();
        uv_run(&loop, UV_RUN_DEFAULT);
        EXPECT_TRUE(s.closed());
    }
    {
        HttpServer s(&loop, &logger, ctx, table);
        EXPECT_NE(s.start("not-an-address", 0), 0);
        s.close();
        uv_run(&loop, UV_RUN_DEFAULT);
    }
    EXPECT_EQ(uv_loop_close(&loop), 0);
}

}  // namespace
