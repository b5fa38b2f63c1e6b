// Headless Chromium driven through chromedriver's WebDriver HTTP API: JSON
// over the loopback, sent with curl. One browser session a driver.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace varnu::testing {

// Where the browser and its driver are (Debian: chromium, chromium-driver);
// empty when either is missing.
std::string MissingBrowser();

class WebDriver {
  public:
    WebDriver() = default;
    ~WebDriver();
    WebDriver(const WebDriver&) = delete;
    WebDriver& operator=(const WebDriver&) = delete;

    // chromedriver on `port`, its files and the browser's profile under
    // `dir`, and a headless browser session; false with `error` saying why.
    bool Start(const std::filesystem::path& dir, int port, std::string* error);
    // Loads `url` and waits until it has loaded.
    bool Go(const std::string& url, std::string* error);
    // The window as a PNG file.
    bool Screenshot(const std::string& png, std::string* error);
    // Clicks the first element `css` selects (an option is selected so).
    bool Click(const std::string& css, std::string* error);
    // The page as the browser has it now.
    std::string Source();

  private:
    // One command; the reply's JSON, `error` set from a WebDriver error.
    std::string Call(const std::string& method, const std::string& path, const std::string& body,
                     std::string* error);
    void Stop();

    std::filesystem::path dir_;
    int port_ = 0;
    pid_t driver_ = -1;
    std::string session_;
};

}  // namespace varnu::testing
