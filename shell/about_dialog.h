// The About box: made from its template each time it is shown, closed by its
// OK button or Escape; it has no handlers of its own.
#pragma once

#include "shell/dialog.h"
#include "shell/resource.h"

class AboutDialog : public Dialog {
public:
    explicit AboutDialog(HINSTANCE instance) : Dialog(instance, IDD_ABOUTBOX) {}
};
