// CTrayDialogApp: an application that follows which dialog the user works in. The main program's variant of the
// tray dialog tells it when a dialog has gone to the tray; an application that is not one is told nothing.
#pragma once

class CTrayDialog;

class CTrayDialogApp {
public:
    virtual void OnTrayDialogMinimized(CTrayDialog* pDialog) = 0;

protected:
    CTrayDialogApp() = default;
    CTrayDialogApp(const CTrayDialogApp&) = default;
    CTrayDialogApp& operator=(const CTrayDialogApp&) = default;
    ~CTrayDialogApp() = default;
};
