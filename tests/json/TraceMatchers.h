#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/JsonError.h"

namespace quorbit::json::testing {

using TraceLines = std::vector<std::pair<unsigned, std::string>>;

// The codes and messages of a trace, innermost first.
inline TraceLines linesOf(const ErrorTrace& trace) {
    TraceLines lines;
    for (const JsonErrorPtr& error : trace) {
        lines.emplace_back(error->code(), error->localizedDescription());
    }
    return lines;
}

// Every error is in the JSON domain and wraps the one before it; the first wraps nothing.
inline ::testing::AssertionResult isChained(const ErrorTrace& trace) {
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i]->domain() != kJsonErrorDomain) {
            return ::testing::AssertionFailure() << "error " << i << " has another domain";
        }
        const JsonErrorPtr& expected = i == 0 ? nullptr : trace[i - 1];
        if (trace[i]->underlyingError() != expected) {
            return ::testing::AssertionFailure()
                   << "error " << i << " does not wrap error " << i - 1;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace quorbit::json::testing
