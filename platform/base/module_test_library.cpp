// A small shared object for the module tests: two exports by name and a value set when it is loaded.

namespace {
int g_loaded = 0;
struct OnLoad {
    OnLoad() { g_loaded = 1; }
} g_onLoad;
} // namespace

extern "C" __attribute__((visibility("default"))) int AddNumbers(int a, int b) {
    return a + b;
}

extern "C" __attribute__((visibility("default"))) int WasInitialised() {
    return g_loaded;
}
