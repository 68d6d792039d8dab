#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <future>

#include "app/IncomingUrl.h"
#include "platform/core/RunLoop.h"
#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

using namespace quorbit::testing;  // with std::filesystem as fs, and the chrono literals

constexpr const char* kScheme = "fb123";
constexpr const char* kUrl = "fb123://authorize#access_token=abc&expires_in=3600";

// A UNIX socket connected to path, or bound there when bind is set; -1 when that fails.
int socketAt(const fs::path& path, bool bind = false) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::strcpy(address.sun_path, path.c_str());
    auto* at = reinterpret_cast<sockaddr*>(&address);
    if ((bind ? ::bind(fd, at, sizeof address) : connect(fd, at, sizeof address)) == 0) return fd;
    return close(fd), -1;
}

// What the peer sends until it closes, or `seconds` pass with nothing.
std::string readAll(int fd, int seconds = 2) {
    timeval wait{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string got;
    char buffer[64];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        got.append(buffer, size_t(n));
    return got;
}

// A private XDG_RUNTIME_DIR for each test.
class IncomingUrlTest : public ::testing::Test {
  protected:
    // Listens for our scheme, taking every URL into got.
    std::unique_ptr<IncomingUrl> listening() {
        auto listener = IncomingUrl::listen(kScheme);
        EXPECT_TRUE(listener) << listener.error().localizedDescription();
        if (!listener) return nullptr;
        listener.value()->start(
            [this](const std::string& url) { return got.push_back(url), true; });
        return std::move(listener.value());
    }
    // Runs work on another thread while the main loop serves the socket.
    template <typename F>
    auto offMain(F work) {
        std::atomic<bool> done = false;
        auto future = std::async(std::launch::async, [&] {
            auto result = work();
            done = true;
            platform::RunLoop::main().post([] {});  // wakes the loop to look again
            return result;
        });
        platform::RunLoop::main().runUntil([&] { return done.load(); }, 10s);
        return future.get();
    }
    // Sends raw bytes on a fresh connection and reads the answer until the server closes.
    std::string exchange(const std::string& bytes, bool endStream) {
        return offMain([&] {
            int fd = socketAt(runtime / "quorbit" / "incoming.sock");
            (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (endStream) shutdown(fd, SHUT_WR);
            std::string answer = fd < 0 ? "<no connection>" : readAll(fd);
            close(fd);
            return answer;
        });
    }
    ScratchDir scratch{"runtime"};
    const fs::path& runtime = scratch.path();
    ScopedEnv env{{{"XDG_RUNTIME_DIR", runtime.string()}}};
    std::vector<std::string> got;
};

TEST_F(IncomingUrlTest, TheFolderIsPrivateToTheUser) {
    auto made = IncomingUrl::folder();
    ASSERT_TRUE(made) << made.error().localizedDescription();
    EXPECT_EQ(made.value(), runtime / "quorbit");
    auto mode = [&] { return fs::status(made.value()).permissions() & fs::perms::all; };
    EXPECT_EQ(mode(), fs::perms::owner_all);
    // A folder that others may enter is closed up; a link in its place is refused.
    chmod(made.value().c_str(), 0755);
    ASSERT_TRUE(IncomingUrl::folder());
    EXPECT_EQ(mode(), fs::perms::owner_all);
    fs::remove(made.value());
    fs::create_directory(runtime / "elsewhere");
    fs::create_directory_symlink(runtime / "elsewhere", made.value());
    EXPECT_FALSE(IncomingUrl::folder());
    if (geteuid() == 0) {
        // Someone else's folder at our name.
        fs::remove(made.value());
        fs::create_directory(made.value());
        ASSERT_EQ(chown(made.value().c_str(), 65534, 65534), 0);
        auto refused = IncomingUrl::folder();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, long(IncomingUrlError::UnsafeFolder));
    }
}

TEST_F(IncomingUrlTest, OnlyOneBoundedUrlOfOurSchemePerConnection) {
    auto listener = listening();
    ASSERT_TRUE(listener);
    // The longest URL there may be, and one a byte longer.
    const std::string longest = "fb123://" + std::string(IncomingUrl::kMaxUrlLength - 8, 'a'),
                      tooLong = longest + "a";
    // Escapes reach the application as they were sent, whatever their case.
    const std::string escaped = "fb123://authorize#access_token=T%2f1%2F";
    // What is sent, the answer and the URLs handled.
    const std::tuple<const char*, std::string, std::string, std::vector<std::string>> cases[] = {
        {"one URL, then the end", kUrl, "ok\n", {kUrl}},
        {"two URLs: the first only", std::string(kUrl) + "\nfb123://#two\n", "ok\n", {kUrl}},
        {"escapes untouched", escaped + "\r\n", "ok\n", {escaped}},
        {"another scheme", "https://evil.example/\n", "no\n", {}},
        {"a scheme we merely start", "fb1234://authorize#access_token=x\n", "no\n", {}},
        {"a control character", "fb123://authorize#a\001b\n", "no\n", {}},
        {"the longest URL", longest, "ok\n", {longest}},
        {"the longest URL, then a newline", longest + "\n", "ok\n", {longest}},
        {"a byte longer", tooLong, "no\n", {}},
        {"a byte longer, then a newline", tooLong + "\n", "no\n", {}},
        {"nothing at all", "", "no\n", {}},
        // A stream the peer never ends is cut off once it is longer than any URL.
        {"no end", "fb123://" + std::string(100000, 'a'), "no\n", {}},
    };
    for (const auto& [name, bytes, answer, handled] : cases) {
        SCOPED_TRACE(name);
        got.clear();
        // The peer ends its stream after what it sends, but for the one far longer than a URL.
        EXPECT_EQ(exchange(bytes, bytes.size() < 20000), answer);
        EXPECT_EQ(got, handled);
    }
}

// Twenty peers that connect and send nothing: a real hand-off is served at once, and each
// silent peer is closed after a second.
TEST_F(IncomingUrlTest, SilentConnectionsHoldUpNobody) {
    auto listener = listening();
    ASSERT_TRUE(listener);
    std::vector<int> silent(20);
    for (int& fd : silent)
        ASSERT_GE(fd = socketAt(listener->socketPath()), 0);
    platform::RunLoop::main().runFor(50ms);  // all of them accepted
    auto started = std::chrono::steady_clock::now();
    auto handed = offMain([] { return IncomingUrl::handOff(kUrl, kScheme); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    ASSERT_TRUE(handed);
    EXPECT_EQ(handed->taken, true);
    EXPECT_EQ(got, std::vector<std::string>{kUrl});
    // The last silent peer, still waiting, is let go after a second.
    auto closed = offMain([last = silent.back()] {
        auto start = std::chrono::steady_clock::now();
        readAll(last, 3);
        return std::chrono::steady_clock::now() - start;
    });
    EXPECT_LT(closed, 1500ms);
    for (int fd : silent)
        close(fd);
}

// An instance that closes the first connections unanswered (busy) is tried again; one that
// never answers is given up on after the wait.
TEST_F(IncomingUrlTest, TheHandOffTriesAgainUntilTheWaitIsOver) {
    auto dir = IncomingUrl::folder();
    ASSERT_TRUE(dir);
    int server = socketAt(dir.value() / "incoming.sock", true);
    ASSERT_EQ(::listen(server, 8), 0);
    for (int unanswered : {2, 1000}) {
        SCOPED_TRACE(unanswered);
        std::atomic<bool> stop = false;
        std::thread instance([server, unanswered, &stop] {
            for (int served = 0; !stop;) {
                pollfd watch{server, POLLIN, 0};
                if (poll(&watch, 1, 50) <= 0) continue;
                int fd = accept(server, nullptr, nullptr);
                if (served++ >= unanswered) {
                    readAll(fd);
                    (void)!send(fd, "ok\n", 3, MSG_NOSIGNAL);
                }
                close(fd);
            }
        });
        auto started = std::chrono::steady_clock::now();
        auto handed = IncomingUrl::handOff(kUrl, kScheme, 1s);
        auto took = std::chrono::steady_clock::now() - started;
        stop = true;
        instance.join();
        ASSERT_EQ(handed.ok(), unanswered == 2);
        EXPECT_TRUE(handed ? handed->taken == true : handed.error().is(IncomingUrlError::NoAnswer));
        // Given up on when the wait is over, not before and not long after.
        EXPECT_TRUE(handed || (took >= 1s && took < 2s)) << took.count();
    }
    close(server);
}

// Taking the URL is the listener's choice; the hand-off says which it made.
TEST_F(IncomingUrlTest, OneInstanceAtATimeAStaleSocketIsReplacedAndTheAnswerSaysIfItTookTheUrl) {
    // A socket left behind by an instance that died: bound, never unlinked, nobody listening.
    ASSERT_TRUE(IncomingUrl::folder());
    close(socketAt(runtime / "quorbit" / "incoming.sock", true));
    ASSERT_TRUE(fs::exists(runtime / "quorbit" / "incoming.sock"));
    // No instance: the caller is handed the listener and becomes the instance.
    auto handed = IncomingUrl::handOff(kUrl, kScheme);
    ASSERT_TRUE(handed) << handed.error().localizedDescription();
    EXPECT_FALSE(handed->taken);
    ASSERT_TRUE(handed->listener);
    bool take = true;
    handed->listener->start([&](const std::string& url) { return got.push_back(url), take; });
    auto second = IncomingUrl::listen(kScheme);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, long(IncomingUrlError::AlreadyRunning));
    for (bool taking : {true, false}) {
        take = taking;
        auto answer = offMain([] { return IncomingUrl::handOff("FB123://authorize#x", kScheme); });
        ASSERT_TRUE(answer) << answer.error().localizedDescription();
        EXPECT_EQ(answer->taken, taking);
        EXPECT_FALSE(answer->listener);
    }
    EXPECT_EQ(got, std::vector<std::string>(2, "FB123://authorize#x"));
}

TEST_F(IncomingUrlTest, AnotherUsersConnectionIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    auto listener = listening();
    ASSERT_TRUE(listener);
    // A folder and socket opened up by mistake: the peer check still keeps others out.
    chmod(runtime.c_str(), 0755);
    chmod((runtime / "quorbit").c_str(), 0755);
    chmod(listener->socketPath().c_str(), 0777);
    // The peer, as nobody, exits 0 when the instance closes on it unanswered.
    int status = offMain([path = listener->socketPath()] {
        pid_t child = fork();
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            int fd = socketAt(path);
            std::string url = std::string(kUrl) + "\n";
            (void)!send(fd, url.data(), url.size(), MSG_NOSIGNAL);  // fails when closed on us
            _exit(fd < 0 ? 3 : readAll(fd).empty() ? 0 : 4);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WEXITSTATUS(status);
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace quorbit::app
