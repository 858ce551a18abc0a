#include "DialogPlacement.h"

void centreOnOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT ownerRect, dialogRect;
    if (!owner || !GetWindowRect(owner, &ownerRect) || !GetWindowRect(dialog, &dialogRect))
        return;
    const int width = dialogRect.right - dialogRect.left;
    const int height = dialogRect.bottom - dialogRect.top;
    int x = (ownerRect.left + ownerRect.right - width) / 2;
    int y = (ownerRect.top + ownerRect.bottom - height) / 2;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    x = x + width > screenWidth ? screenWidth - width : x;
    y = y + height > screenHeight ? screenHeight - height : y;
    SetWindowPos(dialog, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
