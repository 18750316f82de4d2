// Power actions asked of the system's login manager (logind) over the system D-Bus: power off,
// hibernate, suspend, reboot and ending the user's session. Tests put a recorder in its place.
#pragma once

#include <memory>
#include <string>

namespace platform {

enum class PowerAction { PowerOff, Hibernate, Suspend, Reboot, LogOff };

class PowerControl {
public:
    virtual ~PowerControl() = default;
    // True when the request was accepted; false (with a reason in *error) otherwise.
    virtual bool Request(PowerAction action, std::string* error) = 0;
};

// Talks to org.freedesktop.login1 on the system bus; every call is bounded in time.
std::unique_ptr<PowerControl> MakeLogindPowerControl();

// The control in use: the one installed, else a logind control made on first use.
PowerControl& GetPowerControl();
// Installs a control (null: back to logind). The caller keeps ownership.
void SetPowerControl(PowerControl* control);

}  // namespace platform
