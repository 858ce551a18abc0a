#include "SharedResources.h"

#include "ControlIds.h"

namespace {

SharedResources resources;
HBITMAP panelBitmap;  // the pattern brush's bitmap, kept while the brush lives

HIMAGELIST loadImageList(HINSTANCE instance, int bitmapId, int width, int height, int count) {
    HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId));
    if (!bitmap) return nullptr;
    HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR24, count, 0);
    if (list && ImageList_Add(list, bitmap, nullptr) < 0) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    DeleteObject(bitmap);
    return list;
}

void destroyImageList(HIMAGELIST& list) {
    if (list) ImageList_Destroy(list);
    list = nullptr;
}

template <class Handle>
void deleteGdiObject(Handle& object) {
    if (object) DeleteObject(object);
    object = nullptr;
}

}  // namespace

void createSharedResources(HINSTANCE instance) {
    deleteSharedResources();
    resources.textFont = CreateFontA(8, 8, 0, 0, 400, FALSE, FALSE, FALSE, 1, 2, 0, 2, 0, "MS Sans Serif");
    resources.tagFont = CreateFontA(8, 5, 0, 0, 400, FALSE, FALSE, FALSE, 1, 2, 0, 2, 0, "MS Sans Serif");
    resources.blackBrush = CreateSolidBrush(RGB(0, 0, 0));
    resources.facePen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    resources.meterLit = CreateSolidBrush(RGB(0x0F, 0xEA, 0x4E));
    resources.meterHot = CreateSolidBrush(RGB(0xFF, 0x4E, 0x2B));
    resources.meterUnlit = CreateSolidBrush(RGB(0x2E, 0x30, 0x33));
    panelBitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_FX_PANEL));
    resources.panelBrush = panelBitmap ? CreatePatternBrush(panelBitmap) : nullptr;

    resources.parameterHeader = loadImageList(instance, IDB_PARAMETER_HEADER, 346, 21, 1);
    resources.programsButton = loadImageList(instance, IDB_PROGRAMS_BUTTON, 17, 17, 1);
    resources.transportButtons = loadImageList(instance, IDB_TRANSPORT_BUTTONS, 35, 35, 6);
    resources.valueBar = loadImageList(instance, IDB_VALUE_BAR, 166, 16, 1);
    resources.knobFrames = loadImageList(instance, IDB_KNOB_FRAMES, 27, 27, 89);
    resources.switchStates = loadImageList(instance, IDB_SWITCH_STATES, 33, 16, 2);
    resources.toolbarActive = loadImageList(instance, IDB_TOOLBAR_ACTIVE, 48, 39, 10);
    resources.toolbarNormal = loadImageList(instance, IDB_TOOLBAR_NORMAL, 48, 39, 10);
    resources.positionThumb = loadImageList(instance, IDB_POSITION_THUMB, 14, 30, 2);
}

void deleteSharedResources() {
    deleteGdiObject(resources.textFont);
    deleteGdiObject(resources.tagFont);
    deleteGdiObject(resources.blackBrush);
    deleteGdiObject(resources.facePen);
    deleteGdiObject(resources.meterLit);
    deleteGdiObject(resources.meterHot);
    deleteGdiObject(resources.meterUnlit);
    deleteGdiObject(resources.panelBrush);
    deleteGdiObject(panelBitmap);
    destroyImageList(resources.parameterHeader);
    destroyImageList(resources.programsButton);
    destroyImageList(resources.transportButtons);
    destroyImageList(resources.valueBar);
    destroyImageList(resources.knobFrames);
    destroyImageList(resources.switchStates);
    destroyImageList(resources.toolbarActive);
    destroyImageList(resources.toolbarNormal);
    destroyImageList(resources.positionThumb);
}

const SharedResources& sharedResources() { return resources; }
