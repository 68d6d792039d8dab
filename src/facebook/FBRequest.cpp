#include "facebook/FBRequest.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "facebook/FBConfiguration.h"
#include "facebook/FBUrl.h"
#include "json/JsonConveniences.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Text.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::facebook {

using platform::Error;
using platform::Log;

namespace {

constexpr const char* kFalseMessage = "This operation can not be completed";

// The integer value of an "error_code": numbers (fractions cut off) and texts that start
// with digits; any other value has none.
std::optional<long> errorCodeOf(const json::Value& value) {
    if (auto integer = value.asInt64()) {
        return static_cast<long>(std::clamp<std::int64_t>(
            *integer, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()));
    }
    if (auto real = value.asDouble()) {
        if (!std::isfinite(*real)) return std::nullopt;
        double clamped = std::clamp(*real, double(std::numeric_limits<long>::min()),
                                    double(std::numeric_limits<long>::max()));
        return static_cast<long>(clamped);
    }
    if (value.isString()) {
        std::string_view text = value.asString();
        size_t i = 0;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
        long long code = FBUrl::integerValue(text);
        return static_cast<long>(std::clamp<long long>(code, std::numeric_limits<long>::min(),
                                                       std::numeric_limits<long>::max()));
    }
    return std::nullopt;
}

// An answer that is not one the client takes: says what came back (the status, the type,
// the size and the first characters of the body).
Error unacceptableAnswer(const char* why, const platform::UrlResponse& response,
                         const std::string& body) {
    constexpr size_t kShown = 64;
    std::string type = response.mimeType();
    std::string shown;
    for (char c : std::string_view(body).substr(0, kShown)) {
        auto byte = static_cast<unsigned char>(c);
        shown += byte >= 0x20 && byte < 0x7f ? c : '?';
    }
    std::string description = platform::format(
        "The server's answer is not valid: %s (HTTP %ld, %s, %zu bytes", why, response.statusCode,
        type.empty() ? "no content type" : type.c_str(), body.size());
    if (!body.empty()) description += ": \"" + shown + (body.size() > kShown ? "...\"" : "\"");
    description += ")";
    return platform::makeUrlError(platform::UrlError::BadServerResponse, description);
}

FBRequest::Limits& currentDefaultLimits() {
    static FBRequest::Limits limits;
    return limits;
}

}  // namespace

FBRequest::Limits FBRequest::defaultLimits() {
    return currentDefaultLimits();
}

void FBRequest::setDefaultLimits(const Limits& limits) {
    currentDefaultLimits() = limits;
}

std::shared_ptr<FBRequest> FBRequest::getRequestWithParams(
    std::shared_ptr<FBParams> params, const std::string& httpMethod,
    std::weak_ptr<FBRequestDelegate> delegate, const std::string& requestURL) {
    std::shared_ptr<FBRequest> request(new FBRequest());
    request->_delegate = std::move(delegate);
    request->_url = requestURL;
    request->_httpMethod = httpMethod;
    request->_params = params ? std::move(params) : std::make_shared<FBParams>();
    return request;
}

FBRequest::~FBRequest() {
    if (_connection) _connection->cancel();
}

void FBRequest::cancel() {
    if (!_connection) return;
    // The connection's callbacks may hold the last reference to this request.
    auto keep = weak_from_this().lock();
    auto connection = std::move(_connection);
    _responseText.reset();
    _response.reset();
    connection->cancel();
}

std::string FBRequest::serializeURL(const std::string& baseUrl, const FBParams& params,
                                    const std::string& httpMethod) {
    std::string query;
    for (const auto& [key, value] : params.entries()) {
        if (FBParams::isFile(value)) {
            if (httpMethod == "GET") Log::info("can not use GET to upload a file");
            continue;
        }
        if (!query.empty()) query += '&';
        query += key + "=" + platform::percentEncode(std::get<std::string>(value));
    }
    return baseUrl + (FBUrl::hasQuery(baseUrl) ? "&" : "?") + query;
}

std::string FBRequest::generatePostBody() const {
    const std::string boundary = kBoundary;
    const std::string separator = "\r\n--" + boundary + "\r\n";
    std::string body;
    utfAppendBody(body, "--" + boundary + "\r\n");
    std::vector<const FBParams::Entry*> files;
    for (const FBParams::Entry& entry : _params->entries()) {
        if (FBParams::isFile(entry.second)) {
            files.push_back(&entry);
            continue;
        }
        utfAppendBody(body, "Content-Disposition: form-data; name=\"" + entry.first + "\"\r\n\r\n");
        utfAppendBody(body, std::get<std::string>(entry.second));
        utfAppendBody(body, separator);
    }
    for (const FBParams::Entry* entry : files) {
        std::string bytes;
        std::string typeLine;
        if (const auto* image = std::get_if<FBParams::Image>(&entry->second)) {
            auto png = *image ? platform::ImageCodec::encodePng(**image)
                              : platform::Result<std::string>(
                                    Error::make(platform::ImageError::EmptyImage, "no image"));
            if (!png) {
                Log::warn("the image \"" + entry->first +
                          "\" is left out of the upload: " + png.error().localizedDescription());
                continue;
            }
            bytes = std::move(png.value());
            typeLine = "Content-Type: image/png\r\n\r\n";
        } else {
            bytes = std::get<FBData>(entry->second).bytes;
            typeLine = "Content-Type: content/unknown\r\n\r\n";
        }
        // Both a name and a file name: multipart parsers drop file parts without a name.
        utfAppendBody(body, "Content-Disposition: form-data; name=\"" + entry->first +
                                "\"; filename=\"" + entry->first + "\"\r\n");
        utfAppendBody(body, typeLine);
        body.append(bytes);
        utfAppendBody(body, separator);
    }
    // The last separator line becomes the closing delimiter: "--", the boundary, "--".
    body.replace(body.size() - 2, 2, "--\r\n");
    return body;
}

void FBRequest::connect() {
    if (auto d = _delegate.lock(); d && d->requestLoading) d->requestLoading(*this);

    platform::UrlRequest request(serializeURL(_url, *_params, _httpMethod));
    request.timeoutInterval = _limits.idle;
    request.lowSpeedBytesPerSecond = _limits.lowSpeedBytesPerSecond;
    request.lowSpeedWindow = _limits.lowSpeedWindow;
    request.maximumBodySize = kMaxResponseSize;
    // The token travels in the URL and the body: never to another host, never in the clear.
    request.redirectsWithinHostOnly = true;
    request.setValue(kUserAgent, "User-Agent");
    request.httpMethod = _httpMethod;
    if (_httpMethod == "POST") {
        request.setValue(std::string("multipart/form-data; boundary=") + kBoundary, "Content-Type");
        request.body = generatePostBody();
    }
    request.deadline = _limits.deadlineFor(request.body.size());

    auto self = shared_from_this();
    if (!FBConfiguration::isAllowedEndpoint(_url)) {
        // Tokens travel only over HTTPS (plain HTTP is for the loopback address alone).
        Error error = platform::makeUrlError(platform::UrlError::InsecureConnectionRefused,
                                             "Facebook requests need an HTTPS URL");
        platform::RunLoop::main().post([self, error] { self->failWithError(error); });
        return;
    }
    platform::UrlConnectionDelegate callbacks;
    callbacks.didReceiveResponse = [self](platform::UrlConnection&,
                                          const platform::UrlResponse& response) {
        self->connectionDidReceiveResponse(response);
    };
    callbacks.didReceiveData = [self](platform::UrlConnection&, std::string_view data) {
        self->connectionDidReceiveData(data);
    };
    callbacks.didFinishLoading = [self](platform::UrlConnection&) {
        self->connectionDidFinishLoading();
    };
    callbacks.didFailWithError = [self](platform::UrlConnection&, const Error& error) {
        self->connectionDidFailWithError(error);
    };
    _connection = platform::UrlConnection::start(std::move(request), std::move(callbacks));
}

void FBRequest::connectionDidReceiveResponse(const platform::UrlResponse& response) {
    _responseText = std::string();
    _response = response;
    if (auto d = _delegate.lock(); d && d->didReceiveResponse)
        d->didReceiveResponse(*this, response);
}

void FBRequest::connectionDidReceiveData(std::string_view data) {
    if (!_responseText) _responseText = std::string();
    _responseText->append(data);
}

void FBRequest::connectionDidFinishLoading() {
    std::string body = _responseText.value_or(std::string());
    handleResponseData(body);
    _responseText.reset();
    _response.reset();
    _connection.reset();
}

void FBRequest::connectionDidFailWithError(const Error& error) {
    failWithError(error);
    _responseText.reset();
    _response.reset();
    _connection.reset();
}

void FBRequest::handleResponseData(const std::string& data) {
    if (auto d = _delegate.lock(); d && d->didLoadRawResponse) d->didLoadRawResponse(*this, data);

    {
        auto d = _delegate.lock();
        if (!d || (!d->didLoad && !d->didFailWithError)) return;
    }
    platform::UrlResponse response;
    if (_response) {
        response = *_response;
    } else {
        response.statusCode = 200;
    }
    std::optional<Error> error;
    std::optional<json::Value> result = parseJsonResponse(data, &error);
    // The service's own error wins whatever the status: it says why (and whether the
    // sign-in is still good).
    if (error) {
        failWithError(*error);
        return;
    }
    if (response.statusCode < 200 || response.statusCode > 299) {
        failWithError(unacceptableAnswer("not a success", response, data));
        return;
    }
    if (!result) {
        const char* why = data.empty()                ? "an empty body"
                          : !FBUrl::isValidUtf8(data) ? "not UTF-8"
                                                      : "not a JSON object or array";
        failWithError(unacceptableAnswer(why, response, data));
        return;
    }
    if (auto d = _delegate.lock(); d && d->didLoad) {
        FBResult delivered;
        delivered.value = std::move(result);
        d->didLoad(*this, delivered);
    }
}

std::optional<json::Value> FBRequest::parseJsonResponse(const std::string& data,
                                                        std::optional<Error>* error) const {
    auto fail = [error](long code, json::Value userInfo) {
        if (error) *error = formError(code, userInfo);
    };
    if (!FBUrl::isValidUtf8(data)) return std::nullopt;
    if (data == "true") return json::Value::object({{"result", "true"}});
    if (data == "false") {
        fail(static_cast<long>(FacebookError::Generic),
             json::Value::object({{"error_msg", kFalseMessage}}));
        return std::nullopt;
    }
    std::optional<json::Value> value = json::JSONValue(data);
    if (!value || value->isArray()) return value;

    const long generic = static_cast<long>(FacebookError::Generic);
    if (value->contains("error")) {
        fail(generic, *value);
        return std::nullopt;
    }
    if (const json::Value* code = value->find("error_code")) {
        fail(errorCodeOf(*code).value_or(generic), *value);
        return std::nullopt;
    }
    if (value->contains("error_msg")) fail(generic, *value);
    if (value->contains("error_reason")) fail(generic, *value);
    return value;
}

bool isSignInRejected(const Error& error) {
    if (error.domain != kFacebookErrorDomain) return false;
    // 102: session key invalid; 190: access token invalid or expired; 450, 452: session
    // expired or invalid; 458: the user took the application's permission back; 459, 460,
    // 464: the user must sign in again (checkpoint, password changed, unconfirmed); 463:
    // session expired; 467: access token invalid.
    auto authentication = [](long code) {
        switch (code) {
            case 102:
            case 190:
            case 450:
            case 452:
            case 458:
            case 459:
            case 460:
            case 463:
            case 464:
            case 467:
                return true;
            default:
                return false;
        }
    };
    if (authentication(error.code)) return true;
    // A Graph error object: {"error": {"type": ..., "code": ..., "error_subcode": ...}}.
    auto it = error.userInfo.find("error");
    if (it == error.userInfo.end() || !it->second.starts_with("{")) return false;
    std::optional<json::Value> object = json::JSONFragmentValue(it->second);
    if (!object || !object->isObject()) return false;
    for (const char* key : {"code", "error_subcode"}) {
        if (const json::Value* code = object->find(key)) {
            if (auto number = errorCodeOf(*code); number && authentication(*number)) return true;
        }
    }
    return false;
}

Error FBRequest::formError(long code, const json::Value& userInfo) {
    Error error{kFacebookErrorDomain, code, {}, {}, nullptr};
    for (const auto& member : userInfo.members()) {
        const json::Value& v = member.value();
        std::string text = v.isString() ? std::string(v.asString())
                                        : json::JSONFragment(v).value_or(std::string());
        error.userInfo[std::string(member.key())] = std::move(text);
    }
    return error;
}

void FBRequest::failWithError(const Error& error) {
    if (auto d = _delegate.lock(); d && d->didFailWithError) d->didFailWithError(*this, error);
}

}  // namespace quorbit::facebook
