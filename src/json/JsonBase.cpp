#include "json/JsonBase.h"

namespace quorbit::json {

void JsonBase::addErrorWithCode(unsigned code, std::string description,
                                std::optional<TextPosition> position) {
    addErrorWithCode(code, std::make_shared<const std::string>(std::move(description)), position);
}

void JsonBase::addErrorWithCode(unsigned code,
                                const std::shared_ptr<const std::string>& description,
                                std::optional<TextPosition> position) {
    JsonErrorPtr underlying = _errorTrace.empty() ? nullptr : _errorTrace.back();
    _errorTrace.push_back(
        std::make_shared<const JsonError>(code, description, std::move(underlying), position));
}

}  // namespace quorbit::json
