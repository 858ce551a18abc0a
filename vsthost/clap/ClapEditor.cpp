#include "ClapEditor.h"

bool ClapEditor::usable(const clap_plugin_gui_t* gui) {
    return gui && gui->is_api_supported && gui->create && gui->destroy && gui->get_size && gui->set_parent;
}

bool ClapEditor::available() const { return gui_ && gui_->is_api_supported(plugin_, CLAP_WINDOW_API_WIN32, false); }

bool ClapEditor::currentSize(int32_t* width, int32_t* height) const {
    uint32_t w = 0, h = 0;
    if (!gui_->get_size(plugin_, &w, &h) || !saneSide(w) || !saneSide(h))
        return false;
    *width = int32_t(w);
    *height = int32_t(h);
    return true;
}

bool ClapEditor::open(void* parent, int32_t* width, int32_t* height) {
    if (!parent || !width || !height || !available())
        return false;
    if (open_)
        return currentSize(width, height);
    if (!gui_->create(plugin_, CLAP_WINDOW_API_WIN32, false))
        return false;
    clap_window_t window;
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = parent;
    if (!currentSize(width, height) || !gui_->set_parent(plugin_, &window)) {
        gui_->destroy(plugin_);
        return false;
    }
    if (gui_->show)
        gui_->show(plugin_);
    open_ = true;
    return true;
}

void ClapEditor::close() {
    if (!open_)
        return;
    if (gui_->hide)
        gui_->hide(plugin_);
    gui_->destroy(plugin_);
    open_ = false;
}

bool ClapEditor::resize(int32_t* width, int32_t* height) {
    if (!open_ || !width || !height)
        return false;
    const bool resizable = gui_->can_resize && gui_->set_size && gui_->can_resize(plugin_);
    if (resizable && *width > 0 && *height > 0) {
        uint32_t w = uint32_t(*width) < kMaxSide ? uint32_t(*width) : kMaxSide;
        uint32_t h = uint32_t(*height) < kMaxSide ? uint32_t(*height) : kMaxSide;
        uint32_t adjustedW = w, adjustedH = h;
        if (gui_->adjust_size && gui_->adjust_size(plugin_, &adjustedW, &adjustedH) && saneSide(adjustedW) &&
            saneSide(adjustedH)) {
            w = adjustedW;
            h = adjustedH;
        }
        if (gui_->set_size(plugin_, w, h)) {
            *width = int32_t(w);
            *height = int32_t(h);
            return true;
        }
    }
    currentSize(width, height);  // the size it keeps
    return false;
}
