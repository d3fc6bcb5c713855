#pragma once

#include <string>
#include <vector>

#include "ports/Log.h"

namespace tessaly::testing {

/// A log that keeps every message, for tests to read back.
class CapturingLog : public Log {
public:
    struct Entry {
        std::string category;
        LogLevel level;
        std::string message;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    void write(std::string_view category, LogLevel level, std::string_view message) override {
        entries.push_back({std::string(category), level, std::string(message)});
    }

    /// The messages of one category, in order.
    std::vector<std::string> messages(std::string_view category) const {
        std::vector<std::string> result;
        for (const auto& entry : entries) {
            if (entry.category == category) result.push_back(entry.message);
        }
        return result;
    }

    std::vector<Entry> entries;
};

}  // namespace tessaly::testing
