#pragma once
#include "WinInclude.h"

// Every message box of the program is shown through showMessageBox, so that one
// place decides how boxes appear and tests can see each box without a person
// clicking it.

struct MessageBoxRequest {
    HWND owner;
    const char* text;
    const char* caption;
    UINT flags;  // MB_ICON... and MB_... buttons
};

// An observer replaces the real box and returns the button "pressed" (IDOK, IDYES,
// IDNO...). It may be called from any thread.
using MessageBoxObserver = int (*)(const MessageBoxRequest& request, void* context);
void setMessageBoxObserver(MessageBoxObserver observer, void* context);

// A box whose owner window belongs to another thread (the built-in driver's streaming
// thread reporting to the main window) is not shown on the calling thread: showing
// it there would make that thread wait for the owner's thread, which may itself be
// waiting for it to end. It is posted to the owner instead, which shows it when it
// handles postedMessageBoxMessage (showPostedMessageBox), and the call returns IDOK
// at once. A box that cannot be posted is shown without an owner.
int showMessageBox(HWND owner, const char* text, const char* caption, UINT flags);
UINT postedMessageBoxMessage();
// Shows and releases a box posted to a window of this thread (lParam of the message).
void showPostedMessageBox(LPARAM posted);

// The program's error box. id 0 shows nothing; a positive id shows string-table
// entry id with the caption "Error #<id>" and the error icon; a negative id shows
// entry -id with the caption "Talvenor Live" and the information icon. The box is
// owned by the MDI client window once it exists.
void showError(int id);
// The same box with a detail after the entry's text (a path, the system's reason),
// separated by a blank line. A null or empty detail shows the entry alone.
void showErrorWithDetail(int id, const char* detail);
void setErrorBoxOwner(HWND owner);
HWND errorBoxOwner();

// Reads string-table entry id of the program (at most size - 1 characters).
bool loadStringText(int id, char* text, int size);
