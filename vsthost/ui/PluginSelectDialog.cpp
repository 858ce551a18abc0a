#include "PluginSelectDialog.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "EffectHost.h"
#include "EffectIds.h"
#include "FailedPlugins.h"
#include "MessageBoxes.h"
#include "PathNames.h"
#include "PluginScan.h"
#include "StringIds.h"

namespace {

struct Selection {
    EffectHost* host;
    int32_t value;
};

HTREEITEM insertItem(HWND tree, HTREEITEM parent, const char* text, LPARAM data) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text);
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

// A plug-in as listed: its name and its format beside it, so that one plug-in in two
// formats shows as two items; one that failed before says so, and that it now runs
// in a process of its own.
void itemText(const PluginEntry& entry, char* text, size_t size) {
    char name[48];
    baseNameOf(entry.path, name, 32);
    // The other width's plug-in is listed by its width: it runs in that width's bridge.
    if (entry.otherWidth)
        std::snprintf(name + std::strlen(name), sizeof name - std::strlen(name), " %s",
                      sizeof(void*) == 8 ? "32-bit" : "64-bit");
    char how[32];
    const bool failed = failedBefore(entry.path, how, sizeof how);
    if (failed && !how[0])
        std::snprintf(how, sizeof how, "%s", "failed");
    if (entry.format[0] && failed)
        std::snprintf(text, size, "%s (%s, %s once: own process)", name, entry.format, how);
    else if (entry.format[0])
        std::snprintf(text, size, "%s (%s)", name, entry.format);
    else if (failed)
        std::snprintf(text, size, "%s (%s once: own process)", name, how);
    else
        std::snprintf(text, size, "%s", name);
}

// The favourites in list order, the rest sorted by name; a favourite is shown once.
void fillTree(HWND dialog, Selection& selection) {
    selection.value = 0;
    HWND tree = GetDlgItem(dialog, IDC_SELECT_TREE);
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    HTREEITEM favourites = insertItem(tree, TVI_ROOT, "Favourites", 0);
    HTREEITEM plugins = insertItem(tree, TVI_ROOT, "Plugins", 0);
    int32_t k = 1;
    for (const PluginEntry* entry = selection.host->pluginList(); entry; entry = entry->next, ++k) {
        char name[32 + PluginEntry::kFormatSize + 64];
        itemText(*entry, name, sizeof name);
        if (entry->favourite)
            insertItem(tree, favourites, name, -k);
        else
            insertItem(tree, plugins, name, k);
    }
    SendMessageA(tree, TVM_SORTCHILDREN, 0, reinterpret_cast<LPARAM>(plugins));
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(favourites));
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(plugins));
}

void onSelectionChanged(HWND dialog, Selection& selection, int32_t data) {
    selection.value = data;
    HWND button = GetDlgItem(dialog, IDC_SELECT_FAVOURITE);
    if (data > 0)
        SetWindowTextA(button, "Add to Favourites");
    else if (data < 0)
        SetWindowTextA(button, "Remove from Favourites");
    EnableWindow(button, data != 0);
}

void toggleFavourite(HWND dialog, Selection& selection) {
    if (selection.value > 0) {
        if (!addFavourite(*selection.host, selection.value - 1)) {
            showError(kStrAddFavouriteFailed);
            return;
        }
    } else if (selection.value < 0) {
        if (!removeFavourite(*selection.host, -selection.value - 1)) {
            showError(kStrRemoveFavouriteFailed);
            return;
        }
    } else {
        return;
    }
    fillTree(dialog, selection);
    onSelectionChanged(dialog, selection, 0);
}

INT_PTR CALLBACK selectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* selection = reinterpret_cast<Selection*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        selection = reinterpret_cast<Selection*>(lParam);
        fillTree(dialog, *selection);
        return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_SELECT_TREE && (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)) {
            const auto* change = reinterpret_cast<const NMTREEVIEWA*>(lParam);
            onSelectionChanged(dialog, *selection, int32_t(change->itemNew.lParam));
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_SELECT_FAVOURITE:
            toggleFavourite(dialog, *selection);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

int32_t runPluginSelectDialog(HINSTANCE instance, HWND owner, EffectHost& host) {
    Selection selection{&host, 0};
    const INT_PTR ended = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SELECT_PLUGIN), owner, selectDialogProc,
                                          reinterpret_cast<LPARAM>(&selection));
    return ended == 1 ? selection.value : 0;
}
