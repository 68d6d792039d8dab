#pragma once

#include <cstdint>
#include <memory>

#include "platform/web/WebEngineModule.h"

namespace quorbit::platform {

class WebEngine;

// A page of the started engine for client, at a size in points.
std::shared_ptr<WebPage> makeEnginePage(WebEngine& engine, WebPageClient& client,
                                        std::uint32_t width, std::uint32_t height);

}  // namespace quorbit::platform
