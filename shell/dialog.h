// The program's small dialog framework on the plain dialog functions: one
// object per dialog window, its messages routed to a virtual handler, and the
// default dialog behaviour for whatever the handler leaves.
#pragma once

#include "platform/win32.h"

class Dialog {
public:
    Dialog(HINSTANCE instance, WORD templateId);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Makes the dialog from its template and runs it modally on the calling
    // thread; answers what EndDialog ended it with, or -1 when it could not
    // be made. The window is bound to this object by its first WM_INITDIALOG
    // during the making, and by nothing else; it stays bound until the run
    // has ended, whatever messages arrive (a WM_DESTROY posted by another
    // program included).
    INT_PTR DoModal(HWND owner);

    // Ends the modal run with `result`, once its loop next looks; nothing
    // while no window is bound.
    void End(INT_PTR result);

    // Null before WM_INITDIALOG and once the run has ended.
    HWND window() const { return window_; }
    HINSTANCE instance() const { return instance_; }

protected:
    // One message for this dialog, in the manner of a dialog procedure: TRUE
    // when handled, FALSE to leave it to the platform's default handling. The
    // base answers with Default().
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The framework's default: WM_INITDIALOG lets the platform set the focus;
    // the OK and Cancel commands (a button, Enter, Escape, or the platform's
    // own close handling) end the modal run with their identifier.
    INT_PTR Default(UINT message, WPARAM wParam, LPARAM lParam);

    // The run has ended and `window`, which was this object's, is gone.
    virtual void OnEnded(HWND) {}

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    WORD template_;
    HWND window_ = nullptr;
    bool ending_ = false; // End was called: the window's destruction is near
};
