// Headless Chromium driven over the DevTools protocol on a pipe (Chromium's
// --remote-debugging-pipe: commands in on descriptor 3, answers and events
// out on descriptor 4, each a JSON text ended by a NUL). No driver program
// and no debugging port: nothing but the page the test opens talks to the
// network, and host names other than 127.0.0.1 resolve to nothing.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarnscsi::alpaca_test {

class HeadlessBrowser {
public:
    HeadlessBrowser() = default;
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Starts `chromium` with a profile in `profile` and opens one blank
    // page; "" on success, else why not.
    std::string Start(const std::string& chromium, const std::filesystem::path& profile);

    // A command to the page (or to the browser); its result, or a JSON
    // object with "error" when it failed or got no answer in time.
    nlohmann::json Call(const std::string& method, const nlohmann::json& params = nlohmann::json::object(),
                        bool toBrowser = false);
    // Opens `url` and waits for its load event; "" or why it failed.
    std::string Open(const std::string& url);
    // The value of a JavaScript expression in the page, promises awaited;
    // {"error": ...} when it threw.
    nlohmann::json Evaluate(const std::string& expression);
    // Evaluates `condition` until it is true, pausing 50 ms in the page
    // between tries, at most `tries` times; whether it became true.
    bool WaitFor(const std::string& condition, int tries = 400);
    // The page at `width` x its full height as PNG bytes.
    std::string Screenshot(int width, bool mobile);

    // Every event the browser sent so far, oldest first.
    const std::vector<nlohmann::json>& Events() const { return events; }
    void ClearEvents() { events.clear(); }

private:
    bool Send(const nlohmann::json& message);
    // The next message; null when none came within the bound.
    nlohmann::json Receive();

    pid_t pid = -1;
    int toBrowser = -1;
    int fromBrowser = -1;
    std::string pending;
    int nextId = 1;
    std::string session;
    std::vector<nlohmann::json> events;
};

// Standard base64, as the protocol carries screenshots.
std::string DecodeBase64(const std::string& text);

}  // namespace tarnscsi::alpaca_test
