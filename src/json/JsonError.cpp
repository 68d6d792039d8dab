#include "json/JsonError.h"

namespace quorbit::json {

JsonError::JsonError(unsigned code, std::shared_ptr<const std::string> description,
                     JsonErrorPtr underlying)
    : _code(code), _description(std::move(description)), _underlyingError(std::move(underlying)) {}

JsonError::~JsonError() {
    // Releasing the chain recursively could exhaust the stack for very long traces: unlink
    // the errors that nothing else holds one at a time instead.
    JsonErrorPtr next = std::move(_underlyingError);
    while (next && next.use_count() == 1) {
        JsonErrorPtr after = std::move(next->_underlyingError);
        next = std::move(after);
    }
}

std::string describeTrace(const ErrorTrace& trace) {
    std::string text = "[";
    for (const JsonErrorPtr& error : trace) {
        if (text.size() > 1) text += ", ";
        text += std::to_string(error->code());
        text += " \"";
        text += error->localizedDescription();
        text += '"';
    }
    text += ']';
    return text;
}

}  // namespace quorbit::json
