#pragma once

#include "SetupAlerts.h"

namespace tessaly {

/// The setup window's alerts as modal Qt message boxes.
class MessageBoxAlerts : public SetupAlerts {
public:
    void showError(QWidget* parent, const std::string& message) override;
    bool confirmUninstall(QWidget* parent) override;
};

}  // namespace tessaly
