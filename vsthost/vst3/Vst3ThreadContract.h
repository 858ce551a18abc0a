#pragma once
// The format's call-sequence rules as the host keeps them, checked where our code
// calls the plug-in: the edit controller only from the UI thread, processing only
// while the component is active and processing. A breach is reported to the breach
// handler (tests install one that fails the test) and the call is not made. Portable.
#include <atomic>
#include <thread>

class Vst3ThreadContract {
public:
    using BreachHandler = void (*)(const char* rule);
    // The handler for every instance; null restores the default (a line on stderr).
    static void setBreachHandler(BreachHandler handler);
    static int breachCount();

    // The thread that loads the plug-in is its UI thread.
    Vst3ThreadContract() : uiThread_(std::this_thread::get_id()) {}
    bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }
    // True when holds; otherwise reports rule and answers false.
    static bool expect(bool holds, const char* rule);
    // Before every call of the edit controller.
    bool controllerCall() const { return expect(onUiThread(), "edit controller called off the UI thread"); }
    // Before a call that must be made on the UI thread.
    bool uiCall(const char* rule) const { return expect(onUiThread(), rule); }

private:
    std::thread::id uiThread_;
};
