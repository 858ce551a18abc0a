#pragma once
#include <atomic>

// The rig runs in a console: every message box the program would show is printed
// instead (and answered Yes/OK), and Ctrl+C asks the session to end.
class RigConsole {
public:
    RigConsole();
    virtual ~RigConsole();
    RigConsole(const RigConsole&) = delete;
    RigConsole& operator=(const RigConsole&) = delete;

    bool stopRequested() const { return stop_.load(); }
    // How many error boxes were printed.
    int errorsShown() const { return errors_.load(); }

private:
    static std::atomic<bool> stop_;
    static std::atomic<int> errors_;
    static int printBox(const struct MessageBoxRequest& request, void* context);
    static int __stdcall onControl(unsigned long type);
};
