#include "CpuDisplay.h"

#include <cstdio>
#include <cstring>

#include "SharedResources.h"

namespace {
const char kLabel[] = "CPU Usage:";
const int kBarMaxWidth = 100;
const int kStripHeight = 25;
long lastShownTenths = -1;  // what updateCpuUsage drew last, -1 before it drew
}  // namespace

double cpuLoadPercent(long load) {
    double percent = load * 0.1;
    if (percent < 0.0) percent = 0.0;
    if (percent > 100.0) percent = 100.0;
    return percent;
}

void formatCpuLoad(long load, char* text, int size) {
    if (!text || size <= 0) return;
    std::snprintf(text, static_cast<size_t>(size), "%.1f %%", cpuLoadPercent(load));
}

int cpuBarWidth(long load) {
    const int width = static_cast<int>(cpuLoadPercent(load));
    return width > kBarMaxWidth ? kBarMaxWidth : width;
}

void paintCpuUsage(HDC dc, int y, long load) {
    const SharedResources& shared = sharedResources();
    if (!shared.textFont) return;
    const int saved = SaveDC(dc);
    SelectObject(dc, shared.textFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    const int labelLength = static_cast<int>(std::strlen(kLabel));
    TextOutA(dc, 10, y, kLabel, labelLength);
    SIZE label = {0, 0};
    GetTextExtentPoint32A(dc, kLabel, labelLength, &label);
    const int w = label.cx;

    RECT frame = {w + 15, y, w + 117, y + 16};
    DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
    const int bar = cpuBarWidth(load);
    // ImageList_DrawEx takes a width of 0 as "the whole image", so an empty bar draws nothing.
    if (bar > 0 && shared.valueBar)
        ImageList_DrawEx(shared.valueBar, 0, dc, w + 16, y + 1, bar, 14, CLR_NONE, CLR_NONE, ILD_NORMAL);
    RECT rest = {w + 16 + bar, y + 1, w + 116, y + 15};
    if (shared.blackBrush && rest.left < rest.right) FillRect(dc, &rest, shared.blackBrush);

    // The trailing blanks wipe a longer text of the previous paint.
    char text[48];
    formatCpuLoad(load, text, 32);
    std::strcat(text, "               ");
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    TextOutA(dc, w + 121, y - 1, text, static_cast<int>(std::strlen(text)));
    RestoreDC(dc, saved);
}

bool updateCpuUsage(HWND frame, long load) {
    const long tenths = long(cpuLoadPercent(load) * 10.0 + 0.5);
    if (!frame || tenths == lastShownTenths) return false;
    RECT client;
    GetClientRect(frame, &client);
    HDC dc = GetDC(frame);
    if (!dc) return false;
    paintCpuUsage(dc, client.bottom - kStripHeight, load);
    ReleaseDC(frame, dc);
    lastShownTenths = tenths;
    return true;
}
