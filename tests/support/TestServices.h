#pragma once
// Services of the tests' own, installed into the test prefix. Wine's service manager runs
// them for real; it ends them when the prefix's last ordinary process ends, so a test keeps
// itself running while it needs one.

#include <windows.h>

#include <string>
#include <vector>

namespace tarnwick::test {

// The fixture service, made with CreateServiceW to hold heldPath while it runs, and stopped
// and removed with the object. Its name carries the test's process id, so that test programs
// running side by side do not meet each other's services.
class FixtureService {
public:
    FixtureService(const std::wstring& stem, const std::wstring& heldPath,
                   const std::vector<std::wstring>& dependencies = {});
    ~FixtureService();
    FixtureService(const FixtureService&) = delete;
    FixtureService& operator=(const FixtureService&) = delete;

    bool installed() const { return installed_; }
    const std::wstring& name() const { return name_; }
    const std::wstring& displayName() const { return displayName_; }
    // Starts it and waits until the manager reports it running; false when it does not run.
    bool Start();
    // The state the manager reports (SERVICE_RUNNING, SERVICE_STOPPED, ...), 0 when it cannot say.
    DWORD State() const;
    // The process it runs in; 0 when it runs in none.
    DWORD Pid() const;

private:
    std::wstring name_, displayName_;
    bool installed_ = false;
};

}  // namespace tarnwick::test
