#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "facebook/FBError.h"
#include "facebook/FBParams.h"
#include "json/Value.h"
#include "platform/core/Error.h"
#include "platform/net/UrlConnection.h"

namespace quorbit::facebook {

class FBRequest;

// What a finished request hands to didLoad: the interpreted answer, an object or an array
// ("true" becomes {"result": "true"}).
struct FBResult {
    std::optional<json::Value> value;

    bool isJson() const { return value.has_value(); }
};

// The callbacks of a request; an empty member is not implemented. All on the main thread.
struct FBRequestDelegate {
    // The load finished; the body before any interpretation.
    std::function<void(FBRequest&, const std::string& bytes)> didLoadRawResponse;
    // The transfer completed with a 2xx status and a body that is a JSON object or array
    // carrying no error.
    std::function<void(FBRequest&, const FBResult& result)> didLoad;
    // Anything else: the connection failed, the body carried the service's error, or the
    // answer was not one (another status, a body that is not JSON; the error says what came).
    std::function<void(FBRequest&, const platform::Error& error)> didFailWithError;
    // The server's response header arrived.
    std::function<void(FBRequest&, const platform::UrlResponse& response)> didReceiveResponse;
    // connect() is about to start the connection.
    std::function<void(FBRequest&)> requestLoading;
};

// Whether error is the service saying that the sign-in is no longer good: an expired,
// revoked or invalid access token or session (its authentication error codes, as
// "error_code" or as the code of an "error" object). Network failures, time-outs and
// server faults are not.
bool isSignInRejected(const platform::Error& error);

// One HTTP call to Facebook: a URL, a method and parameters turned into a request (the text
// parameters in the query string for every method; for POST also a multipart/form-data
// body with the files), run on a URL connection, the answer collected and interpreted
// ("true", "false", JSON objects and arrays, the service's error objects) and reported to
// the delegate. A running request keeps itself alive until it ends. Main thread only.
class FBRequest : public std::enable_shared_from_this<FBRequest> {
  public:
    static constexpr const char* kBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";
    static constexpr const char* kUserAgent = "FacebookConnect";
    static constexpr std::chrono::duration<double> kTimeout{180.0};

    // How long a request may take. A request fails as timed out when nothing moves for
    // idle; when the whole request takes longer than its deadline, which is deadlineFloor,
    // or for a body larger than deadlineFloor at bodyBytesPerSecond the time to send it at
    // that rate (5 MB: about 20 minutes); or when fewer than lowSpeedBytesPerSecond bytes a
    // second move for lowSpeedWindow on end (an answer that trickles).
    struct Limits {
        std::chrono::duration<double> idle = kTimeout;
        std::chrono::duration<double> deadlineFloor{300.0};
        double bodyBytesPerSecond = 4096;
        long lowSpeedBytesPerSecond = 16;
        std::chrono::seconds lowSpeedWindow{180};

        std::chrono::duration<double> deadlineFor(std::size_t bodySize) const {
            return std::max(deadlineFloor,
                            std::chrono::duration<double>(double(bodySize) / bodyBytesPerSecond));
        }
    };
    // The limits new requests start with (tests shorten them).
    static Limits defaultLimits();
    static void setDefaultLimits(const Limits& limits);
    // Larger answers are refused (DataLengthExceedsMaximum in the URL error domain).
    static constexpr std::size_t kMaxResponseSize = 32u << 20;

    static std::shared_ptr<FBRequest> getRequestWithParams(
        std::shared_ptr<FBParams> params, const std::string& httpMethod,
        std::weak_ptr<FBRequestDelegate> delegate, const std::string& requestURL);
    ~FBRequest();
    FBRequest(const FBRequest&) = delete;
    FBRequest& operator=(const FBRequest&) = delete;

    // The full URL: the base, "?" (or "&" when the base has a query already) and the text
    // parameters as "key=escaped value" joined with "&". Files are left out, with the log
    // line "can not use GET to upload a file" for a GET.
    static std::string serializeURL(const std::string& baseUrl, const FBParams& params,
                                    const std::string& httpMethod = "GET");

    // Starts the request; once per request.
    void connect();
    bool loading() const { return _connection != nullptr; }
    // Stops the load; the delegate hears nothing more of this request. Nothing happens once
    // it has ended. Main thread only, as the connection.
    void cancel();

    // The multipart body: all text parts, then the files (images as PNG), ending in the
    // closing delimiter.
    std::string generatePostBody() const;
    static void utfAppendBody(std::string& body, std::string_view text) { body.append(text); }

    // Interprets a finished body (under the response header last received, or as a 200
    // when none came) and tells the delegate.
    void handleResponseData(const std::string& data);
    // The answer's value; error, when given, receives the error the body carries.
    std::optional<json::Value> parseJsonResponse(const std::string& data,
                                                 std::optional<platform::Error>* error) const;
    // An error in the Facebook domain; userInfo's members become texts (strings as they
    // are, other values as compact JSON).
    static platform::Error formError(long code, const json::Value& userInfo);
    void failWithError(const platform::Error& error);

    std::weak_ptr<FBRequestDelegate> delegate() const { return _delegate; }
    void setDelegate(std::weak_ptr<FBRequestDelegate> delegate) { _delegate = std::move(delegate); }
    const std::string& url() const { return _url; }
    void setUrl(std::string url) { _url = std::move(url); }
    const std::string& httpMethod() const { return _httpMethod; }
    void setHttpMethod(std::string method) { _httpMethod = std::move(method); }
    const std::shared_ptr<FBParams>& params() const { return _params; }
    void setParams(std::shared_ptr<FBParams> params) { _params = std::move(params); }
    const std::shared_ptr<platform::UrlConnection>& connection() const { return _connection; }
    const std::optional<std::string>& responseText() const { return _responseText; }

    // How long the load may stand still before it fails (limits().idle), and all the limits;
    // set before connect().
    std::chrono::duration<double> timeoutInterval() const { return _limits.idle; }
    void setTimeoutInterval(std::chrono::duration<double> interval) { _limits.idle = interval; }
    const Limits& limits() const { return _limits; }
    void setLimits(const Limits& limits) { _limits = limits; }

    // The URL connection's callbacks (the request is its delegate): a response header
    // starts the body again empty; data is appended; the end interprets the body; a failure
    // is passed on unchanged. The connection and the body are let go after the last two.
    void connectionDidReceiveResponse(const platform::UrlResponse& response);
    void connectionDidReceiveData(std::string_view data);
    void connectionDidFinishLoading();
    void connectionDidFailWithError(const platform::Error& error);

  private:
    FBRequest() = default;

    std::weak_ptr<FBRequestDelegate> _delegate;
    std::string _url;
    std::string _httpMethod;
    std::shared_ptr<FBParams> _params;
    std::shared_ptr<platform::UrlConnection> _connection;
    std::optional<std::string> _responseText;
    std::optional<platform::UrlResponse> _response;
    Limits _limits = defaultLimits();
};

}  // namespace quorbit::facebook
