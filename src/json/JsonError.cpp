#include "json/JsonError.h"

namespace quorbit::json {

TextPosition TextPosition::in(std::string_view text, std::size_t offset) {
    TextPosition position;
    position.offset = offset;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        char c = text[i];
        // A carriage return followed by a line feed ends its line at the line feed.
        if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++position.line;
            lineStart = i + 1;
        }
    }
    // Every byte that does not continue a UTF-8 sequence starts a character.
    std::size_t characters = 0;
    for (std::size_t i = lineStart; i < offset && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++characters;
    }
    position.column = characters + 1;
    return position;
}

JsonError::JsonError(unsigned code, std::shared_ptr<const std::string> description,
                     JsonErrorPtr underlying, std::optional<TextPosition> position)
    : _code(code),
      _description(std::move(description)),
      _underlyingError(std::move(underlying)),
      _position(position) {}

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
