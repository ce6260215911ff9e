#include "shell/dialog.h"

namespace {
// The window property that leads from a dialog window to its object.
constexpr const char* kObjectProperty = "Cardwell.Dialog";
} // namespace

Dialog::Dialog(HINSTANCE instance, WORD templateId) : instance_(instance), template_(templateId) {}

INT_PTR Dialog::DoModal(HWND owner) {
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(template_), owner, &Dialog::Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return Default(message, wParam, lParam); }

INT_PTR Dialog::Default(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window_, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        // The object comes with the first message it needs; what arrives
        // before (fonts, sizes) is the platform's alone.
        self = reinterpret_cast<Dialog*>(lParam);
        self->window_ = window;
        SetPropA(window, kObjectProperty, self);
    } else {
        self = static_cast<Dialog*>(GetPropA(window, kObjectProperty));
    }
    if (!self)
        return FALSE;
    INT_PTR result = self->OnMessage(message, wParam, lParam);
    if (message == WM_DESTROY) {
        RemovePropA(window, kObjectProperty);
        self->window_ = nullptr;
    }
    return result;
}
