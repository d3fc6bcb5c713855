#pragma once

#include <string>

class QWidget;

namespace tessaly {

/// The setup window's modal alerts. Both return only when the user has answered, running a nested
/// event loop meanwhile; tests put in a presenter that answers at once.
class SetupAlerts {
public:
    virtual ~SetupAlerts() = default;

    /// "Tessaly couldn't complete that action" with the failure's sentence and one "OK" button.
    virtual void showError(QWidget* parent, const std::string& message) = 0;
    /// The uninstall confirmation; true only when the user chose "Uninstall" (Cancel is the default).
    virtual bool confirmUninstall(QWidget* parent) = 0;
};

}  // namespace tessaly
