#include "RigConsole.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "MessageBoxes.h"

std::atomic<bool> RigConsole::stop_{false};
std::atomic<int> RigConsole::errors_{0};

RigConsole::RigConsole() {
    setMessageBoxObserver(&RigConsole::printBox, this);
    SetConsoleCtrlHandler(&RigConsole::onControl, TRUE);
}

RigConsole::~RigConsole() {
    SetConsoleCtrlHandler(&RigConsole::onControl, FALSE);
    setMessageBoxObserver(nullptr, nullptr);
}

int RigConsole::printBox(const MessageBoxRequest& request, void*) {
    if ((request.flags & MB_ICONMASK) == MB_ICONERROR)
        ++errors_;
    // One line per box: the blank line before a box's detail becomes ": ".
    std::string line(request.text);
    for (size_t at; (at = line.find("\r\n\r\n")) != std::string::npos;)
        line.replace(at, 4, ": ");
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", request.caption, line.c_str());
    std::fflush(stderr);
    // Questions (storing a RAM take) are answered yes: the take is kept.
    return (request.flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

int __stdcall RigConsole::onControl(unsigned long type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        stop_ = true;
        return TRUE;
    }
    return FALSE;
}
