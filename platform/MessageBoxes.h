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

int showMessageBox(HWND owner, const char* text, const char* caption, UINT flags);

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
