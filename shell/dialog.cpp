#include "shell/dialog.h"

namespace {
// The window property that leads from a dialog window to its object.
constexpr const char* kObjectProperty = "Cardwell.Dialog";

// The object whose window this thread is making right now: the only object a
// WM_INITDIALOG may bind. Its lParam proves nothing, since any program on the
// desktop can post the message with a pointer of its choosing.
thread_local Dialog* tBeingCreated = nullptr;
} // namespace

Dialog::Dialog(HINSTANCE instance, WORD templateId) : instance_(instance), template_(templateId) {}

void Dialog::End(INT_PTR result) {
    if (!window_)
        return;
    ending_ = true;
    EndDialog(window_, result);
}

INT_PTR Dialog::DoModal(HWND owner) {
    // Nested runs (an About box over the main window) each set and clear
    // their own; the window's first WM_INITDIALOG comes before the run's loop.
    Dialog* outer = tBeingCreated;
    tBeingCreated = this;
    INT_PTR result = DialogBoxParamA(instance_, MAKEINTRESOURCEA(template_), owner, &Dialog::Procedure,
                                     reinterpret_cast<LPARAM>(this));
    tBeingCreated = outer;
    // Unbound only now: a WM_DESTROY is no proof that the window is going,
    // since any program can post one.
    ending_ = false;
    if (HWND ended = window_) {
        window_ = nullptr;
        OnEnded(ended);
    }
    return result;
}

INT_PTR Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return Default(message, wParam, lParam); }

INT_PTR Dialog::Default(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        End(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = static_cast<Dialog*>(GetPropA(window, kObjectProperty));
    if (message == WM_INITDIALOG) {
        // The object comes with the window's first WM_INITDIALOG, sent while
        // this thread makes it; what arrives before (fonts, sizes) is the
        // platform's alone. Any other WM_INITDIALOG was posted or sent by
        // someone else: ignored, whatever it carries.
        Dialog* creating = tBeingCreated;
        if (self || !creating || creating->window_ || lParam != reinterpret_cast<LPARAM>(creating))
            return FALSE;
        if (!SetPropA(window, kObjectProperty, creating)) {
            // No way back to the object, so no way to close the window
            // later: the run ends as for a dialog that could not be made.
            EndDialog(window, -1);
            return FALSE;
        }
        tBeingCreated = nullptr;
        self = creating;
        self->window_ = window;
    }
    if (!self)
        return FALSE;
    INT_PTR result = self->OnMessage(message, wParam, lParam);
    // The property is taken back in the window's last message, as Windows
    // asks, once the run was ended: a WM_NCDESTROY that anyone posts before
    // then leaves the binding alone.
    if (message == WM_NCDESTROY && self->ending_)
        RemovePropA(window, kObjectProperty);
    return result;
}
