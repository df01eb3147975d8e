// The local server of the COM tests: serves the test object until a client asks it to quit.
#include "platform/com/com_test_object.h"

#include "platform/ui/message.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-Embedding"))
            comtest::TestObject::s_embedding = true;
    // A server that never comes up: the client must not wait for it for ever.
    if (std::getenv("COM_TEST_SERVER_FAILS"))
        return 1;
    if (FAILED(CoInitialize(nullptr)))
        return 2;
    comtest::TestFactory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(comtest::kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        return 3;
    comtest::TestObject::s_quit = [] { PostQuitMessage(0); };
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return 0;
}
