#include "platform/net/UrlConnection.h"

#include <curl/curl.h>
#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Text.h"
#include "platform/net/CookieStore.h"

namespace quorbit::platform {

namespace {

constexpr long kMaxRedirects = 16;

using Clock = RunLoop::Clock;

// A piece of the load waiting to be reported: libcurl's callbacks only queue, and the queue
// goes to the delegate once libcurl has returned (its own calls may not be made from inside
// its callbacks, and a delegate may cancel).
struct Event {
    bool isResponse = false;
    UrlResponse response;
    std::string data;
};

class Engine;

}  // namespace

struct UrlConnection::Impl {
    std::weak_ptr<UrlConnection> self;
    UrlRequest request;
    UrlConnectionDelegate delegate;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // The header block being read.
    long blockStatus = 0;
    std::vector<std::pair<std::string, std::string>> blockHeaders;

    std::vector<Event> events;
    std::size_t bodyBytes = 0;
    bool tooLarge = false;
    std::string refusedRedirect;  // the target of a redirect the request does not allow
    // Where the answer being read sends the load next (its body is dropped), by which status.
    std::string redirectTo;
    long redirectStatus = 0;
    long redirects = 0;        // followed so far
    bool bodyDropped = false;  // a redirect turned the load into a GET

    curl_off_t lastDownloaded = 0, lastUploaded = 0;
    Clock::time_point lastActivity;
    Clock::time_point started;
    RunLoopHandle timeoutTimer;

    bool loading = false;
    bool completed = false;  // libcurl is done with it; result holds how
    CURLcode result = CURLE_OK;

    ~Impl() {
        if (headerList) curl_slist_free_all(headerList);
        if (easy) curl_easy_cleanup(easy);
    }

    void touch() { lastActivity = Clock::now(); }
    // When the load times out unless something moves first: the idle limit after the last
    // activity, or the deadline, whichever comes first.
    Clock::time_point due() const {
        auto idle = std::chrono::duration_cast<Clock::duration>(request.timeoutInterval);
        Clock::time_point at = lastActivity + idle;
        if (request.deadline.count() > 0)
            at = std::min(at,
                          started + std::chrono::duration_cast<Clock::duration>(request.deadline));
        return at;
    }
    // False when the block is a redirect the request does not allow.
    bool endOfHeaderBlock();
};

namespace {

bool schemeAndHost(const std::string& url, std::string& scheme, std::string& host);
std::string originOf(const std::string& url);
void setHeaders(UrlConnection::Impl& impl, bool own, bool withBody);

UrlError codeFor(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return UrlError::TimedOut;
        case CURLE_URL_MALFORMAT:
            return UrlError::BadUrl;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return UrlError::UnsupportedUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return UrlError::CannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return UrlError::CannotConnectToHost;
        case CURLE_TOO_MANY_REDIRECTS:
            return UrlError::HttpTooManyRedirects;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return UrlError::NetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
            return UrlError::BadServerResponse;
        case CURLE_FILESIZE_EXCEEDED:
            return UrlError::DataLengthExceedsMaximum;
        case CURLE_PEER_FAILED_VERIFICATION:
            return UrlError::ServerCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_USE_SSL_FAILED:
            return UrlError::SecureConnectionFailed;
        default:
            return UrlError::Unknown;
    }
}

const char* describe(UrlError code) {
    switch (code) {
        case UrlError::Cancelled:
            return "The load was cancelled";
        case UrlError::BadUrl:
            return "The URL is not valid";
        case UrlError::TimedOut:
            return "The request timed out";
        case UrlError::UnsupportedUrl:
            return "The URL's scheme is not supported";
        case UrlError::CannotFindHost:
            return "The server's name could not be found";
        case UrlError::CannotConnectToHost:
            return "Could not connect to the server";
        case UrlError::NetworkConnectionLost:
            return "The network connection was lost";
        case UrlError::HttpTooManyRedirects:
            return "Too many redirects";
        case UrlError::RedirectRefused:
            return "A redirect was refused";
        case UrlError::InsecureConnectionRefused:
            return "A secure connection is required";
        case UrlError::BadServerResponse:
            return "The server's answer is not valid";
        case UrlError::FileDoesNotExist:
            return "The file does not exist";
        case UrlError::DataLengthExceedsMaximum:
            return "The answer is too large";
        case UrlError::SecureConnectionFailed:
            return "A secure connection failed";
        case UrlError::ServerCertificateUntrusted:
            return "The server's certificate is not trusted";
        case UrlError::Unknown:
            break;
    }
    return "The load failed";
}

Error errorFor(const UrlConnection::Impl& impl) {
    if (!impl.refusedRedirect.empty()) {
        return makeUrlError(UrlError::RedirectRefused,
                            "A redirect was refused: " + impl.refusedRedirect +
                                " is on another host or not secure; nothing was sent there");
    }
    UrlError code = impl.tooLarge ? UrlError::DataLengthExceedsMaximum : codeFor(impl.result);
    std::string detail = impl.errorBuffer[0] ? impl.errorBuffer : curl_easy_strerror(impl.result);
    std::string description = describe(code);
    if (code == UrlError::DataLengthExceedsMaximum) {
        description += format(" (more than %zu bytes)", impl.request.maximumBodySize);
    } else if (!detail.empty()) {
        description += ": " + detail;
    }
    // A body that ended before the length its answer announced.
    if (impl.result == CURLE_PARTIAL_FILE)
        description += format(" (cut off after %zu bytes)", impl.bodyBytes);
    Error error = makeUrlError(code, description);
    if (impl.result != CURLE_OK) {
        error.underlying = std::make_shared<Error>(
            Error::make("quorbit.curl", static_cast<long>(impl.result), std::move(detail)));
    }
    return error;
}

// The one libcurl multi handle of the process, driven by the main run loop: libcurl says
// which sockets to watch and when to call it back; the loop's watches and timers do so.
class Engine {
  public:
    struct Active {
        std::shared_ptr<UrlConnection> connection;
        UrlConnection::Impl* impl;
    };

    static Engine& shared() {
        static Engine* engine = new Engine();  // lives as long as the process
        return *engine;
    }

    size_t activeCount() const { return _active.size(); }

    bool add(std::shared_ptr<UrlConnection> connection, UrlConnection::Impl& impl) {
        if (curl_multi_add_handle(_multi, impl.easy) != CURLM_OK) return false;
        _active[impl.easy] = Active{std::move(connection), &impl};
        return true;
    }

    // Takes the handle out of the multi and forgets the connection (the caller holds it).
    void remove(UrlConnection::Impl& impl) {
        curl_multi_remove_handle(_multi, impl.easy);
        _active.erase(impl.easy);
    }

  private:
    Engine() {
        CookieStore::shared();  // libcurl's global set-up happens there
        _multi = curl_multi_init();
        curl_multi_setopt(_multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
        curl_multi_setopt(_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(_multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
        curl_multi_setopt(_multi, CURLMOPT_TIMERDATA, this);
    }

    static int onSocket(CURL*, curl_socket_t socket, int what, void* userp, void*) {
        auto* engine = static_cast<Engine*>(userp);
        RunLoop& loop = RunLoop::main();
        engine->_watches.erase(socket);
        if (what == CURL_POLL_REMOVE) return 0;
        short events = 0;
        if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) events |= RunLoop::Readable;
        if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) events |= RunLoop::Writable;
        engine->_watches[socket] = loop.watch(socket, events, [engine, socket](short revents) {
            int flags = 0;
            if (revents & (POLLIN | POLLHUP)) flags |= CURL_CSELECT_IN;
            if (revents & POLLOUT) flags |= CURL_CSELECT_OUT;
            if (revents & POLLERR) flags |= CURL_CSELECT_ERR;
            engine->act(socket, flags);
        });
        return 0;
    }

    static int onTimer(CURLM*, long timeoutMs, void* userp) {
        auto* engine = static_cast<Engine*>(userp);
        RunLoop& loop = RunLoop::main();
        engine->_timer.reset();
        if (timeoutMs >= 0) {
            engine->_timer = loop.timer(std::chrono::milliseconds(timeoutMs),
                                        [engine] { engine->act(CURL_SOCKET_TIMEOUT, 0); });
        }
        return 0;
    }

    void act(curl_socket_t socket, int flags);
    bool followRedirect(const std::shared_ptr<UrlConnection>& connection,
                        UrlConnection::Impl& impl);

    CURLM* _multi = nullptr;
    std::map<CURL*, Active> _active;
    std::map<curl_socket_t, RunLoopHandle> _watches;
    RunLoopHandle _timer;
};

// Ends a load: the connection leaves the engine, and the delegate hears the outcome and is
// then let go (with whatever its callbacks hold).
void finish(UrlConnection& connection, UrlConnection::Impl& impl, const Error* error) {
    impl.loading = false;
    impl.timeoutTimer.reset();
    Engine::shared().remove(impl);
    impl.events.clear();
    UrlConnectionDelegate delegate = std::move(impl.delegate);
    impl.delegate = {};
    if (error) {
        if (delegate.didFailWithError) delegate.didFailWithError(connection, *error);
    } else if (delegate.didFinishLoading) {
        delegate.didFinishLoading(connection);
    }
}

// Starts the load again at the redirect's target once its answer has been read; false (with
// the reason in impl) when it cannot be followed. The request's own header fields go only to
// the origin it names; 303, and 301 or 302 after a POST, turn the load into a GET.
bool Engine::followRedirect(const std::shared_ptr<UrlConnection>& connection,
                            UrlConnection::Impl& impl) {
    std::string target = std::move(impl.redirectTo);
    impl.redirectTo.clear();
    std::string scheme, host;
    if (++impl.redirects > kMaxRedirects) {
        impl.result = CURLE_TOO_MANY_REDIRECTS;
        std::snprintf(impl.errorBuffer, sizeof impl.errorBuffer, "more than %ld redirects",
                      kMaxRedirects);
        return false;
    }
    if (!schemeAndHost(target, scheme, host) || (scheme != "http" && scheme != "https")) {
        impl.result = CURLE_UNSUPPORTED_PROTOCOL;
        std::snprintf(impl.errorBuffer, sizeof impl.errorBuffer, "a redirect to %s",
                      target.c_str());
        return false;
    }
    char* current = nullptr;
    curl_easy_getinfo(impl.easy, CURLINFO_EFFECTIVE_URL, &current);
    bool sameOrigin = originOf(current ? current : impl.request.url) == originOf(target);
    remove(impl);
    curl_easy_setopt(impl.easy, CURLOPT_URL, target.c_str());
    const std::string& method = impl.request.httpMethod;
    if ((impl.redirectStatus == 303 && method != "HEAD") ||
        ((impl.redirectStatus == 301 || impl.redirectStatus == 302) && method == "POST")) {
        curl_easy_setopt(impl.easy, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(impl.easy, CURLOPT_HTTPGET, 1L);
        impl.bodyDropped = true;
    }
    setHeaders(impl, sameOrigin && originOf(impl.request.url) == originOf(target),
               !impl.bodyDropped);
    impl.completed = false;
    impl.blockHeaders.clear();
    impl.bodyBytes = 0;
    impl.errorBuffer[0] = '\0';
    if (!add(connection, impl)) {
        impl.result = CURLE_FAILED_INIT;
        std::snprintf(impl.errorBuffer, sizeof impl.errorBuffer, "libcurl cannot start a transfer");
        return false;
    }
    return true;
}

void Engine::act(curl_socket_t socket, int flags) {
    int running = 0;
    curl_multi_socket_action(_multi, socket, flags, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(_multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        auto it = _active.find(message->easy_handle);
        if (it == _active.end()) continue;
        it->second.impl->completed = true;
        it->second.impl->result = message->data.result;
    }

    // Report what libcurl queued, connection by connection, in order. A delegate may cancel
    // its own or another connection, or start new ones, on the way.
    std::vector<Active> pending;
    for (auto& [easy, active] : _active) {
        if (!active.impl->events.empty() || active.impl->completed) pending.push_back(active);
    }
    for (Active& active : pending) {
        UrlConnection::Impl& impl = *active.impl;
        std::vector<Event> events = std::move(impl.events);
        impl.events.clear();
        for (Event& event : events) {
            if (!impl.loading) break;
            if (event.isResponse) {
                auto call = impl.delegate.didReceiveResponse;
                if (call) call(*active.connection, event.response);
            } else {
                auto call = impl.delegate.didReceiveData;
                if (call) call(*active.connection, event.data);
            }
        }
        if (!impl.loading || !impl.completed) continue;
        if (impl.result == CURLE_OK && !impl.redirectTo.empty() &&
            followRedirect(active.connection, impl))
            continue;
        if (impl.result == CURLE_OK) {
            finish(*active.connection, impl, nullptr);
        } else {
            Error error = errorFor(impl);
            finish(*active.connection, impl, &error);
        }
    }
}

// libcurl's callbacks. They only record and queue.

size_t onHeader(char* buffer, size_t size, size_t count, void* userdata) {
    auto& impl = *static_cast<UrlConnection::Impl*>(userdata);
    size_t length = size * count;
    std::string line(buffer, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    impl.touch();
    if (line.rfind("HTTP/", 0) == 0) {
        impl.blockHeaders.clear();
        size_t space = line.find(' ');
        impl.blockStatus = space == std::string::npos ? 0 : std::atol(line.c_str() + space + 1);
    } else if (line.empty()) {
        if (!impl.endOfHeaderBlock()) return 0;  // libcurl ends the transfer, following nothing
    } else if ((line[0] == ' ' || line[0] == '\t') && !impl.blockHeaders.empty()) {
        std::string& value = impl.blockHeaders.back().second;  // a folded continuation
        value += ' ';
        value += trim(line);
    } else if (size_t colon = line.find(':'); colon != std::string::npos) {
        impl.blockHeaders.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return length;
}

size_t onData(char* buffer, size_t size, size_t count, void* userdata) {
    auto& impl = *static_cast<UrlConnection::Impl*>(userdata);
    size_t length = size * count;
    impl.touch();
    if (!impl.redirectTo.empty()) return length;  // a redirect's own body is nobody's
    if (impl.request.maximumBodySize && impl.bodyBytes + length > impl.request.maximumBodySize) {
        impl.tooLarge = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    impl.bodyBytes += length;
    if (!impl.events.empty() && !impl.events.back().isResponse) {
        impl.events.back().data.append(buffer, length);
    } else {
        Event event;
        event.data.assign(buffer, length);
        impl.events.push_back(std::move(event));
    }
    return length;
}

int onProgress(void* userdata, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto& impl = *static_cast<UrlConnection::Impl*>(userdata);
    if (downloaded != impl.lastDownloaded || uploaded != impl.lastUploaded) {
        impl.lastDownloaded = downloaded;
        impl.lastUploaded = uploaded;
        impl.touch();
    }
    return 0;
}

void scheduleTimeout(const std::shared_ptr<UrlConnection>& connection, UrlConnection::Impl& impl,
                     Clock::time_point due) {
    std::weak_ptr<UrlConnection> weak = connection;
    UrlConnection::Impl* target = &impl;
    impl.timeoutTimer = RunLoop::main().timer(due - Clock::now(), [weak, target] {
        auto connection = weak.lock();
        if (!connection || !target->loading) return;
        Clock::time_point due = target->due();
        Clock::time_point now = Clock::now();
        if (now < due) {
            scheduleTimeout(connection, *target, due);
            return;
        }
        target->result = CURLE_OPERATION_TIMEDOUT;
        const UrlRequest& r = target->request;
        if (r.deadline.count() > 0 &&
            now >= target->started + std::chrono::duration_cast<Clock::duration>(r.deadline)) {
            std::snprintf(target->errorBuffer, sizeof target->errorBuffer,
                          "no complete answer within the deadline of %g seconds",
                          r.deadline.count());
        } else {
            std::snprintf(target->errorBuffer, sizeof target->errorBuffer,
                          "nothing moved for %g seconds", r.timeoutInterval.count());
        }
        Error error = errorFor(*target);
        finish(*connection, *target, &error);
    });
}

// The scheme and host of an absolute URL, lower case; false when it does not parse.
bool schemeAndHost(const std::string& url, std::string& scheme, std::string& host) {
    CURLU* parsed = curl_url();
    char* part = nullptr;
    bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
              curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK;
    if (ok) scheme = part;
    curl_free(part);
    part = nullptr;
    ok = ok && curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK;
    if (ok) host = part;
    curl_free(part);
    curl_url_cleanup(parsed);
    scheme = lower(scheme);
    host = lower(host);
    return ok;
}

// Where a Location leads from the URL being loaded (a relative one resolved against it).
std::string resolve(const std::string& base, const std::string& location) {
    CURLU* parsed = curl_url();
    char* resolved = nullptr;
    std::string target;
    if (curl_url_set(parsed, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(parsed, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
        target = resolved;
    }
    curl_free(resolved);
    curl_url_cleanup(parsed);
    return target.empty() ? location : target;
}

// "scheme://host:port" of an absolute URL (the port spelled out), lower case; empty when it
// does not parse.
std::string originOf(const std::string& url) {
    CURLU* parsed = curl_url();
    char* port = nullptr;
    std::string scheme, host, origin;
    if (schemeAndHost(url, scheme, host) &&
        curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        origin = scheme + "://" + host + ":" + port;
    }
    curl_free(port);
    curl_url_cleanup(parsed);
    return origin;
}

// The header fields sent. Only the origin the request names gets all of the request's own;
// another gets the User-Agent, and the Content-Type where the body goes along too
// (credentials and the rest are for the named origin only).
void setHeaders(UrlConnection::Impl& impl, bool own, bool withBody) {
    if (impl.headerList) curl_slist_free_all(impl.headerList);
    // No "Expect: 100-continue" round trip before a large body.
    impl.headerList = curl_slist_append(nullptr, "Expect:");
    for (const auto& [name, value] : impl.request.headers) {
        bool kept = own || strcasecmp(name.c_str(), "User-Agent") == 0 ||
                    (withBody && strcasecmp(name.c_str(), "Content-Type") == 0);
        if (!kept) continue;
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        impl.headerList = curl_slist_append(impl.headerList, line.c_str());
    }
    curl_easy_setopt(impl.easy, CURLOPT_HTTPHEADER, impl.headerList);
}

}  // namespace

bool UrlConnection::isRedirectWithinHost(const std::string& original, const std::string& target) {
    std::string fromScheme, fromHost, toScheme, toHost;
    if (!schemeAndHost(original, fromScheme, fromHost) || !schemeAndHost(target, toScheme, toHost))
        return false;
    if (toScheme != "https" && !(toScheme == "http" && fromScheme == "http")) return false;
    return fromHost == toHost;
}

bool UrlConnection::Impl::endOfHeaderBlock() {
    long status = blockStatus;
    std::string location;
    for (auto& [name, value] : blockHeaders) {
        if (strcasecmp(name.c_str(), "Location") == 0 && !value.empty() && location.empty())
            location = value;
    }
    // Informational answers and redirects (followed once their answer has been read) are not
    // the final answer.
    bool followed = !location.empty() && (status == 301 || status == 302 || status == 303 ||
                                          status == 307 || status == 308);
    if (followed) {
        char* current = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
        std::string target = resolve(current ? current : request.url, location);
        if (request.redirectsWithinHostOnly &&
            !UrlConnection::isRedirectWithinHost(request.url, target)) {
            refusedRedirect = target;
            return false;
        }
        redirectTo = std::move(target);
        redirectStatus = status;
        return true;
    }
    if (status < 200) return true;
    Event event;
    event.isResponse = true;
    event.response.statusCode = status;
    event.response.headers = std::move(blockHeaders);
    char* url = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
        event.response.url = url;
    blockHeaders.clear();
    bodyBytes = 0;
    events.push_back(std::move(event));
    return true;
}

UrlConnection::UrlConnection() : _impl(std::make_unique<Impl>()) {}

UrlConnection::~UrlConnection() = default;

std::shared_ptr<UrlConnection> UrlConnection::start(UrlRequest request,
                                                    UrlConnectionDelegate delegate) {
    std::shared_ptr<UrlConnection> connection(new UrlConnection());
    Impl& impl = *connection->_impl;
    impl.self = connection;
    impl.request = std::move(request);
    impl.delegate = std::move(delegate);
    impl.loading = true;
    impl.touch();
    impl.started = impl.lastActivity;

    CURL* easy = impl.easy = curl_easy_init();
    const UrlRequest& r = impl.request;
    if (easy) {
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &impl);
        curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, impl.errorBuffer);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects are followed here rather than by libcurl, which would send the request's
        // own header fields on to any origin (see followRedirect).
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy, CURLOPT_SHARE, CookieStore::shared().share());
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine, in memory
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &impl);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onData);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &impl);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &impl);
        auto timeoutMs = static_cast<long>(r.timeoutInterval.count() * 1000);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, timeoutMs));
        if (r.lowSpeedBytesPerSecond > 0 && r.lowSpeedWindow.count() > 0) {
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, r.lowSpeedBytesPerSecond);
            curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                             static_cast<long>(r.lowSpeedWindow.count()));
        }
        if (r.maximumBodySize)
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(r.maximumBodySize));

        bool hasBody = !r.body.empty();
        if (r.httpMethod == "POST" || (hasBody && r.httpMethod != "HEAD")) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(r.body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, r.body.data());
            if (r.httpMethod != "POST")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.httpMethod.c_str());
        } else if (r.httpMethod == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (r.httpMethod != "GET") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.httpMethod.c_str());
        }
        setHeaders(impl, true, true);
    }

    if (!easy || !Engine::shared().add(connection, impl)) {
        // Reported from the run loop, as every other outcome is.
        std::snprintf(impl.errorBuffer, sizeof impl.errorBuffer, "libcurl cannot start a transfer");
        impl.result = CURLE_FAILED_INIT;
        RunLoop::main().post([connection] {
            if (!connection->_impl->loading) return;
            Impl& impl = *connection->_impl;
            impl.loading = false;
            Error error = errorFor(impl);
            UrlConnectionDelegate delegate = std::move(impl.delegate);
            impl.delegate = {};
            if (delegate.didFailWithError) delegate.didFailWithError(*connection, error);
        });
        return connection;
    }
    scheduleTimeout(connection, impl, impl.due());
    return connection;
}

void UrlConnection::cancel() {
    Impl& impl = *_impl;
    if (!impl.loading) return;
    impl.loading = false;
    impl.timeoutTimer.reset();
    impl.events.clear();
    // This may run inside one of the delegate's own callbacks: the callbacks (and what they
    // hold) go on the run loop's next turn rather than from under the caller.
    auto keep = shared_from_this();
    Engine::shared().remove(impl);
    RunLoop::main().post([delegate = std::move(impl.delegate), keep]() mutable { delegate = {}; });
    impl.delegate = {};
}

bool UrlConnection::isLoading() const {
    return _impl->loading;
}

const UrlRequest& UrlConnection::originalRequest() const {
    return _impl->request;
}

size_t UrlConnection::activeCount() {
    return Engine::shared().activeCount();
}

}  // namespace quorbit::platform
