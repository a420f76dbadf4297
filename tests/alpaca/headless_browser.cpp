#include "headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>

namespace tarnscsi::alpaca_test {
namespace {

using nlohmann::json;

// How long one answer may take: generous, for a loaded machine. Only a
// bound: no test depends on how quickly anything happens.
constexpr int kAnswerMilliseconds = 60000;
constexpr int kChromiumInput = 3;
constexpr int kChromiumOutput = 4;

// The last lines a program wrote to `file`.
std::string Tail(const std::string& file) {
    constexpr std::streamoff kTail = 2000;
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    in.seekg(size > kTail ? size - kTail : 0);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

HeadlessBrowser::~HeadlessBrowser() {
    if (pid > 0) {
        Call("Browser.close", json::object(), true);
        if (toBrowser >= 0) close(toBrowser);
        if (fromBrowser >= 0) close(fromBrowser);
        // Browser.close ends it; a browser that hangs is ended here.
        for (int tries = 0; tries < 100; ++tries) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;
            usleep(50000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::string HeadlessBrowser::Start(const std::string& chromium, const std::filesystem::path& profile) {
    // A browser that dies makes a write to its pipe fail with EPIPE, which
    // the calls report, instead of ending the test program with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
    const std::string profileOption = "--user-data-dir=" + profile.string();
    const std::string logPath = (profile / "browser-output.log").string();
    std::vector<std::string> arguments = {chromium,
                                          "--headless",
                                          "--no-sandbox",
                                          "--disable-gpu",
                                          "--no-first-run",
                                          "--no-default-browser-check",
                                          "--disable-background-networking",
                                          "--disable-component-update",
                                          "--disable-default-apps",
                                          "--disable-extensions",
                                          "--disable-sync",
                                          "--hide-scrollbars",
                                          "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                                          "--remote-debugging-pipe",
                                          profileOption,
                                          "about:blank"};
    // Everything the child needs is made before the fork: the server's
    // threads run on, so the child may only call what is safe after one.
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        // The pipes at the descriptors Chromium expects, kept across exec.
        dup2(in[0], kChromiumInput);
        dup2(out[1], kChromiumOutput);
        // Its own words, for a browser that will not start, in its profile.
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toBrowser = in[1];
    fromBrowser = out[0];
    const json target = Call("Target.createTarget", {{"url", "about:blank"}}, true);
    if (!target.contains("targetId")) return "no page: " + target.dump() + "; the browser said: " + Tail(logPath);
    const json attached = Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, true);
    if (!attached.contains("sessionId")) return "cannot attach to the page: " + attached.dump();
    session = attached["sessionId"];
    for (const char* domain : {"Page.enable", "Network.enable", "Runtime.enable"}) {
        if (Call(domain).contains("error")) return std::string(domain) + " failed";
    }
    return {};
}

bool HeadlessBrowser::Send(const json& message) {
    const std::string text = message.dump() + '\0';
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = write(toBrowser, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

json HeadlessBrowser::Receive() {
    for (;;) {
        if (const std::size_t end = pending.find('\0'); end != std::string::npos) {
            json message = json::parse(pending.substr(0, end), nullptr, false);
            pending.erase(0, end + 1);
            return message;
        }
        pollfd ready{fromBrowser, POLLIN, 0};
        if (poll(&ready, 1, kAnswerMilliseconds) <= 0) return nullptr;
        std::array<char, 65536> chunk{};
        const ssize_t n = read(fromBrowser, chunk.data(), chunk.size());
        if (n <= 0) return nullptr;
        pending.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

json HeadlessBrowser::Call(const std::string& method, const json& params, bool toBrowserItself) {
    const int id = nextId++;
    json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!toBrowserItself) message["sessionId"] = session;
    if (!Send(message)) return {{"error", "the browser is gone"}};
    // Events that arrive before the answer are kept; the answer ends the
    // wait. Each message comes within the bound or the call fails.
    for (;;) {
        json got = Receive();
        if (got.is_null()) return {{"error", method + ": no answer from the browser"}};
        if (got.contains("id") && got["id"] == id) {
            if (got.contains("error")) return {{"error", got["error"]}};
            return got.value("result", json::object());
        }
        if (got.contains("method")) events.push_back(std::move(got));
    }
}

std::string HeadlessBrowser::Open(const std::string& url) {
    const std::size_t seen = events.size();
    const json navigated = Call("Page.navigate", {{"url", url}});
    if (navigated.contains("error")) return navigated.dump();
    if (navigated.contains("errorText")) return navigated["errorText"];
    for (std::size_t i = seen;; ++i) {
        while (i >= events.size()) {
            json got = Receive();
            if (got.is_null()) return "no load event for " + url;
            if (got.contains("method")) events.push_back(std::move(got));
        }
        if (events[i].value("method", "") == "Page.loadEventFired") return {};
    }
}

json HeadlessBrowser::Evaluate(const std::string& expression) {
    const json answer =
        Call("Runtime.evaluate", {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}});
    if (answer.contains("error")) return answer;
    if (answer.contains("exceptionDetails")) return {{"error", answer["exceptionDetails"]}};
    return answer["result"].value("value", json());
}

bool HeadlessBrowser::WaitFor(const std::string& condition, int tries) {
    for (int i = 0; i < tries; ++i) {
        if (Evaluate("Boolean(" + condition + ")") == true) return true;
        Evaluate("new Promise((done) => setTimeout(done, 50))");
    }
    return false;
}

std::string HeadlessBrowser::Screenshot(int width, bool mobile) {
    const json metrics = {{"width", width}, {"height", 800}, {"deviceScaleFactor", 1}, {"mobile", mobile}};
    Call("Emulation.setDeviceMetricsOverride", metrics);
    // The layout at this width, then the whole page's height.
    Evaluate("new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)))");
    const json layout = Call("Page.getLayoutMetrics");
    const int height =
        layout.contains("cssContentSize") ? static_cast<int>(layout["cssContentSize"].value("height", 800.0)) : 800;
    json full = metrics;
    full["height"] = height;
    Call("Emulation.setDeviceMetricsOverride", full);
    const json shot = Call("Page.captureScreenshot", {{"format", "png"}});
    return DecodeBase64(shot.value("data", ""));
}

std::string DecodeBase64(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= 'A' && c <= 'Z') digit = c - 'A';
        if (c >= 'a' && c <= 'z') digit = c - 'a' + 26;
        if (c >= '0' && c <= '9') digit = c - '0' + 52;
        if (c == '+') digit = 62;
        if (c == '/') digit = 63;
        if (digit < 0) continue;
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

}  // namespace tarnscsi::alpaca_test
