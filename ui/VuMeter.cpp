#include "VuMeter.h"

#include <cmath>
#include <cstring>

#include "ControlIds.h"
#include "SharedResources.h"
#include "Window.h"

namespace {

const int kMeterClientWidth = 300;
const int kMeterClientHeight = 56;
const int kRowTop[2] = {11, 34};
const int kRowHeight = 12;
const int kFirstSegmentX = 65;
const int kSegmentPitch = 5;
const int kSegmentWidth = 4;

HWND inputMeter;
HWND outputMeter;

class VuMeterWindow : public Window {
public:
    int lit[2] = {0, 0};
    bool moved = false;
    POINT position = {0, 0};

    // New peaks; the changed segments are drawn at once when the window is visible.
    // Drawn straight into the window's own DC rather than invalidated and painted:
    // under Wine each invalidation and each paint is a round trip to its server, and
    // this runs on every tick for both meters.
    void show(float left, float right) {
        const int wanted[2] = {litSegments(left), litSegments(right)};
        if (wanted[0] == lit[0] && wanted[1] == lit[1]) return;
        const int before[2] = {lit[0], lit[1]};
        lit[0] = wanted[0];
        lit[1] = wanted[1];
        if (!IsWindowVisible(hwnd())) return;
        HDC dc = GetDC(hwnd());
        if (!dc) {
            InvalidateRect(hwnd(), nullptr, FALSE);
            return;
        }
        for (int row = 0; row < 2; ++row) {
            // Only the segments between the old and the new level change colour.
            const int first = wanted[row] < before[row] ? wanted[row] : before[row];
            const int last = wanted[row] < before[row] ? before[row] : wanted[row];
            drawSegments(dc, row, first, last);
        }
        ReleaseDC(hwnd(), dc);
    }

protected:
    LRESULT onPaint() override {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        for (int row = 0; row < 2; ++row) {
            if (kRowTop[row] >= paint.rcPaint.bottom || kRowTop[row] + kRowHeight <= paint.rcPaint.top) continue;
            // The segments the painted area meets, each drawn whole.
            const int first = (paint.rcPaint.left - kFirstSegmentX) / kSegmentPitch - 1;
            const int last = (paint.rcPaint.right - kFirstSegmentX) / kSegmentPitch + 1;
            drawSegments(dc, row, first < 0 ? 0 : first, last > kMeterSegments ? kMeterSegments : last);
        }
        EndPaint(hwnd(), &paint);
        return 0;
    }

    // Segments first to last - 1 of a row, lit or unlit as they are now.
    void drawSegments(HDC dc, int row, int first, int last) const {
        const SharedResources& shared = sharedResources();
        for (int k = first; k < last; ++k) {
            HBRUSH brush = shared.meterUnlit;
            if (k < lit[row]) brush = k < kMeterHotSegment ? shared.meterLit : shared.meterHot;
            if (!brush) continue;
            const int x = kFirstSegmentX + kSegmentPitch * k;
            RECT segment = {x, kRowTop[row], x + kSegmentWidth, kRowTop[row] + kRowHeight};
            FillRect(dc, &segment, brush);
        }
    }

    // The window's own top-left corner, not the client origin that WM_MOVE reports:
    // the shell moves the window back to this point at start-up, and a client origin
    // would creep down by the caption's height on every run.
    LRESULT onMove(int, int) override {
        RECT window;
        GetWindowRect(hwnd(), &window);
        position = POINT{window.left, window.top};
        moved = true;
        return 0;
    }
};

VuMeterWindow* meterOf(HWND meter) { return Window::ofClass<VuMeterWindow>(meter, kVuMeterClassName); }

HWND createMeter(HWND frame, HINSTANCE instance, const char* title) {
    const int width = kMeterClientWidth + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = kMeterClientHeight + GetSystemMetrics(SM_CYSMCAPTION) + 2 * GetSystemMetrics(SM_CYDLGFRAME);
    return CreateWindowExA(WS_EX_TOOLWINDOW, kVuMeterClassName, title, WS_POPUP | WS_CAPTION, CW_USEDEFAULT,
                           CW_USEDEFAULT, width, height, frame, nullptr, instance, nullptr);
}

}  // namespace

int litSegments(float peak) {
    const double db = peak > 0.0f ? 20.0 * std::log10(static_cast<double>(peak)) : -80.0;
    // Limited before the conversion: an infinite peak must not reach the cast.
    const double segments = (db + 80.0) * 0.5375;
    if (!(segments > 0.0)) return 0;
    if (segments >= kMeterSegments) return kMeterSegments;
    return static_cast<int>(segments);
}

bool registerVuMeterClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    // Its own DC: the meters draw on every tick, and a DC of their own is kept ready.
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // The class keeps the brush, and the brush its bitmap, for the program's lifetime.
    HBITMAP pattern = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_METER_BACKGROUND));
    windowClass.hbrBackground = pattern ? CreatePatternBrush(pattern) : nullptr;
    windowClass.lpszClassName = kVuMeterClassName;
    return Window::registerClass<VuMeterWindow>(windowClass);
}

bool createVuMeters(HWND frame, HINSTANCE instance) {
    inputMeter = createMeter(frame, instance, "Input VU Meter");
    outputMeter = createMeter(frame, instance, "Output VU Meter");
    return inputMeter && outputMeter;
}

HWND inputMeterWindow() { return inputMeter; }
HWND outputMeterWindow() { return outputMeter; }

void showMeters() {
    if (inputMeter) ShowWindow(inputMeter, SW_SHOWNOACTIVATE);
    if (outputMeter) ShowWindow(outputMeter, SW_SHOWNOACTIVATE);
}

void hideMeters() {
    if (inputMeter) ShowWindow(inputMeter, SW_HIDE);
    if (outputMeter) ShowWindow(outputMeter, SW_HIDE);
}

void updateMeters(float inputLeft, float inputRight, float outputLeft, float outputRight) {
    if (VuMeterWindow* meter = meterOf(inputMeter)) meter->show(inputLeft, inputRight);
    if (VuMeterWindow* meter = meterOf(outputMeter)) meter->show(outputLeft, outputRight);
}

int meterLitSegments(HWND meter, int row) {
    const VuMeterWindow* window = meterOf(meter);
    return window && (row == 0 || row == 1) ? window->lit[row] : -1;
}

bool meterPosition(HWND meter, POINT& position) {
    const VuMeterWindow* window = meterOf(meter);
    if (!window || !window->moved) return false;
    position = window->position;
    return true;
}
