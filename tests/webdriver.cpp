#include "webdriver.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace varnu::testing {

namespace {

constexpr const char* kBrowser = "/usr/bin/chromium";
constexpr const char* kDriver = "/usr/bin/chromedriver";
constexpr const char* kElement = "element-6066-11e4-a52e-4f735466cecf";  // the W3C key

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first string value of `key` in a reply, or empty. (Not a regex: a
// screenshot's value is megabytes long.)
std::string StringOf(const std::string& json, const std::string& key) {
    std::size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return "";
    at = json.find_first_not_of(" \t\r\n", at + key.size() + 2);
    if (at == std::string::npos || json[at] != ':') return "";
    at = json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || json[at] != '"') return "";
    const std::size_t end = json.find('"', at + 1);
    return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
}

std::string Base64Decode(const std::string& text) {
    static const std::string digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const std::size_t v = digits.find(c);
        if (v == std::string::npos) continue;  // padding, escaped line ends
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    return out;
}

}  // namespace

std::string MissingBrowser() {
    for (const char* program : {kBrowser, kDriver})
        if (access(program, X_OK) != 0) return program;
    return "";
}

WebDriver::~WebDriver() {
    Stop();
}

bool WebDriver::Start(const std::filesystem::path& dir, int port, std::string* error) {
    dir_ = dir;
    port_ = port;
    std::filesystem::create_directories(dir_ / "profile");
    std::filesystem::create_directories(dir_ / "home");
    driver_ = fork();
    if (driver_ == 0) {
        const std::string portArg = "--port=" + std::to_string(port_);
        const std::string log = (dir_ / "chromedriver.log").string();
        const std::string logArg = "--log-path=" + log;
        freopen(log.c_str(), "a", stdout);  // its banner, out of the test's output
        // The browser's config, cache and crash reports under `dir` too.
        for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            setenv(variable, (dir_ / "home").c_str(), 1);
        execl(kDriver, kDriver, portArg.c_str(), logArg.c_str(), nullptr);
        _exit(127);
    }
    std::string json;
    for (int i = 0; i < 100 && StringOf(json, "message").find("ready") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        json = Call("GET", "/status", "", error);
    }
    error->clear();
    // As root the browser runs only without its sandbox.
    const std::string capabilities =
        std::string(R"({"capabilities":{"alwaysMatch":{"browserName":"chrome",)") +
        R"("goog:chromeOptions":{"binary":")" + kBrowser +
        R"(","args":["--headless=new","--no-sandbox","--disable-gpu",)" +
        R"("--disable-dev-shm-usage","--window-size=1200,1500","--user-data-dir=)" +
        (dir_ / "profile").string() + R"("]}}}})";
    json = Call("POST", "/session", capabilities, error);
    session_ = StringOf(json, "sessionId");
    if (session_.empty() && error->empty()) *error = "no session: " + json;
    return !session_.empty();
}

bool WebDriver::Go(const std::string& url, std::string* error) {
    Call("POST", "/url", R"({"url":")" + url + "\"}", error);
    return error->empty();
}

bool WebDriver::Screenshot(const std::string& png, std::string* error) {
    const std::string json = Call("GET", "/screenshot", "", error);
    const std::string bytes = Base64Decode(StringOf(json, "value"));
    if (!error->empty()) return false;
    std::ofstream(png, std::ios::binary) << bytes;
    return bytes.rfind("\x89PNG", 0) == 0;
}

bool WebDriver::Click(const std::string& css, std::string* error) {
    const std::string json =
        Call("POST", "/element", R"({"using":"css selector","value":")" + css + "\"}", error);
    const std::string element = StringOf(json, kElement);
    if (!error->empty()) return false;
    Call("POST", "/element/" + element + "/click", "{}", error);
    return error->empty();
}

std::string WebDriver::Source() {
    std::string error;
    return Call("GET", "/source", "", &error);
}

std::string WebDriver::Call(const std::string& method, const std::string& path,
                            const std::string& body, std::string* error) {
    const std::filesystem::path request = dir_ / "request.json", reply = dir_ / "reply.json";
    std::ofstream(request) << body;
    const std::string url =
        "http://127.0.0.1:" + std::to_string(port_) +
        (path == "/status" || path == "/session" ? "" : "/session/" + session_) + path;
    const std::string data = method != "POST" ? ""
                                              : " -H 'Content-Type: application/json' "
                                                "--data-binary @" +
                                                    request.string();
    const std::string command =
        "curl -s -m 60 -X " + method + data + " " + url + " > " + reply.string();
    std::filesystem::remove(reply);
    const int status = std::system(command.c_str());
    const std::string json = ReadFile(reply);
    const std::string failure = StringOf(json, "error");
    if (status != 0 || !failure.empty())
        *error = method + " " + path + ": " +
                 (failure.empty() ? "no answer" : failure + ", " + StringOf(json, "message"));
    return json;
}

void WebDriver::Stop() {
    if (!session_.empty()) {
        std::string error;
        Call("DELETE", "", "", &error);  // ends the browser
        session_.clear();
    }
    if (driver_ > 0) {
        kill(driver_, SIGTERM);
        waitpid(driver_, nullptr, 0);
        driver_ = -1;
    }
}

}  // namespace varnu::testing
