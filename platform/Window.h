#pragma once
// A small base for the program's own window classes: one C++ object per window,
// created when the window is created and deleted when it is destroyed, with one
// virtual handler per message the class cares about. Everything else goes to the
// default window processing.
#include "WinInclude.h"

class Window {
public:
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND hwnd() const { return hwnd_; }

    // The object of a window of one of these classes, or null (a foreign window, or
    // one being destroyed: its user data is cleared before the object is deleted).
    static Window* fromHandle(HWND hwnd);
    // The T of a window of the class named className, or null for any other window:
    // the class is checked before the user data is believed.
    template <class T>
    static T* ofClass(HWND hwnd, const char* className) {
        return hasClassName(hwnd, className) ? static_cast<T*>(fromHandle(hwnd)) : nullptr;
    }
    static bool hasClassName(HWND hwnd, const char* className);

    // Registers a class whose windows each get a new T. The class's window procedure
    // and its extra bytes (none) are filled in here; the rest comes from the caller.
    template <class T>
    static bool registerClass(WNDCLASSEXA windowClass) {
        windowClass.lpfnWndProc = &Window::procedureFor<T>;
        return registerFilledClass(windowClass);
    }

protected:
    Window();

    // The handlers. Each returns what the window procedure returns; the default
    // versions pass the message on to DefWindowProcA.
    virtual LRESULT onCreate(CREATESTRUCTA* create);
    virtual void onDestroy();
    virtual LRESULT onPaint();
    virtual LRESULT onEraseBackground(HDC dc);
    virtual LRESULT onMouseMove(int x, int y, WPARAM keys);
    virtual LRESULT onLeftButtonDown(int x, int y, WPARAM keys);
    virtual LRESULT onLeftButtonUp(int x, int y, WPARAM keys);
    virtual LRESULT onLeftDoubleClick(int x, int y, WPARAM keys);
    virtual LRESULT onRightButtonDown(int x, int y, WPARAM keys);
    virtual LRESULT onRightDoubleClick(int x, int y, WPARAM keys);
    virtual LRESULT onTimer(UINT_PTR id);
    virtual LRESULT onMove(int x, int y);
    // WM_USER, the program's own set-value message.
    virtual LRESULT onUser(WPARAM wParam, LPARAM lParam);
    // Any other message.
    virtual LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam);

private:
    template <class T>
    static LRESULT CALLBACK procedureFor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) attach(hwnd, new T);
        return dispatch(hwnd, message, wParam, lParam);
    }
    static bool registerFilledClass(WNDCLASSEXA& windowClass);
    static void attach(HWND hwnd, Window* window);
    static LRESULT dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_;
    // The last message being passed to DefWindowProcA by the default handlers.
    UINT message_;
    WPARAM wParam_;
    LPARAM lParam_;
};
