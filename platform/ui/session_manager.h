// The desktop's session manager, as the window layer's session end sees it: a connection of the X session
// management protocol (XSMP, libSM) private to the window layer.
#pragma once

#include "platform/base/types.h"

#include <functional>
#include <memory>

namespace platform::ui {

class SessionManagerClient {
public:
    // What the session end needs of the windows: asking them (TRUE when all agreed) and telling them the outcome.
    struct Handlers {
        std::function<bool()> query;
        std::function<void(bool ending)> end;
    };

    // Connects to the session manager that SESSION_MANAGER names; null when there is none or it cannot be reached.
    static std::unique_ptr<SessionManagerClient> Connect(Handlers handlers);
    virtual ~SessionManagerClient() = default;

    // The descriptor to wait on; Process handles what arrived. False once the connection is gone.
    virtual int Descriptor() const = 0;
    virtual bool Process() = 0;
};

} // namespace platform::ui
