#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SetupAlerts.h"

namespace tessaly::testing {

/// Alerts that answer at once and remember what they were asked.
class FakeAlerts : public SetupAlerts {
public:
    void showError(QWidget*, const std::string& message) override {
        errors.push_back(message);
        if (whileErrorShown) whileErrorShown();
    }

    bool confirmUninstall(QWidget*) override {
        ++confirmations;
        return confirmUninstallAnswer;
    }

    /// The sentences of the error alerts shown so far.
    std::vector<std::string> errors;
    /// Runs while an error alert is "up", as code in its nested event loop would.
    std::function<void()> whileErrorShown;
    /// How many uninstall confirmations were asked for.
    int confirmations = 0;
    /// The user's answer to the uninstall confirmation.
    bool confirmUninstallAnswer = false;
};

}  // namespace tessaly::testing
