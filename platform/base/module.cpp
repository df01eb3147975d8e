#include "platform/base/module.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {

std::atomic<PathMapper> g_pathMapper{nullptr};
std::atomic<ReversePathMapper> g_reverseMapper{nullptr};

// The modules this layer has handed out: dlopen handles with their host path and how many times LoadLibrary
// took them. A module found by GetModuleHandleW but loaded by the host's loader has a count of zero and is never
// closed here. Only handles in this table are ever passed back to the host, so a bad HMODULE is an error, not
// a crash.
struct Module {
    std::string path;
    int loads = 0;
};

struct Modules {
    std::mutex mutex;
    std::map<void*, Module> byHandle;
};

Modules& GetModules() {
    static auto* modules = new Modules;
    return *modules;
}

std::string ProgramPath() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path;
}

void* ProgramHandle() {
    static void* handle = dlopen(nullptr, RTLD_NOW);
    return handle;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::u16string BaseNameW(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// As on Windows, a module name without an extension gets ".dll"; a trailing dot means "no extension".
std::u16string WithDefaultExtension(std::u16string name) {
    const std::u16string base = BaseNameW(name);
    if (!base.empty() && base.back() == u'.') {
        name.pop_back();
        return name;
    }
    if (base.find(u'.') == std::u16string::npos)
        name += u".dll";
    return name;
}

// Host path of a loaded object found by its base name among everything the host's loader has mapped.
std::string FindLoaded(const std::u16string& baseName) {
    struct Search {
        std::u16string name;
        std::string found;
    } search{baseName, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name)
                return 0;
            if (EqualsNoCase(Utf8ToUtf16(BaseName(info->dlpi_name)), s->name)) {
                s->found = info->dlpi_name;
                return 1;
            }
            return 0;
        },
        &search);
    return search.found;
}

// The system's own modules. Their functions are the layer's, linked into the process by whichever layer offers
// them; only the names listed here are found through them, so that nothing else of the process leaks out under a
// system module's name. Each function is looked up by its C name and by its symbol as the layer declares it.
struct SystemExport {
    const char* name;
    const char* symbol;
    uintptr_t ordinal = 0; // 0: found by name only
};

struct SystemModule {
    const char16_t* name; // with its extension
    std::vector<SystemExport> exports;
};

const std::vector<SystemModule>& SystemModules() {
    static const auto* modules = new std::vector<SystemModule>{
        {u"USER32.DLL",
         {{"SetLayeredWindowAttributes", "_Z26SetLayeredWindowAttributesP6HWND__jhj"},
          {"GetLayeredWindowAttributes", "_Z26GetLayeredWindowAttributesP6HWND__PjPhS1_"}}},
        {u"KERNEL32.DLL", {{"GetUserDefaultUILanguage", "_Z24GetUserDefaultUILanguagev"}}},
        {u"FMIFS.DLL",
         {{"FormatEx", "FormatEx"}, {"EnableVolumeCompression", "EnableVolumeCompression"}, {"ChkdskEx", "ChkdskEx"}}},
        // The shell's change notifications are found by their ordinals, as programs take them.
        {u"SHELL32.DLL",
         {{"SHChangeNotifyRegister", "_Z22SHChangeNotifyRegisterP6HWND__iijiPK19SHChangeNotifyEntry", 2},
          {"SHChangeNotifyDeregister", "_Z24SHChangeNotifyDeregisterj", 4}}},
    };
    return *modules;
}

// The system module of that name (any case, with or without ".dll", a folder ignored), or null.
const SystemModule* FindSystemModule(const std::u16string& name) {
    const std::u16string wanted = WithDefaultExtension(BaseNameW(name));
    for (const SystemModule& module : SystemModules()) {
        if (EqualsNoCase(wanted, module.name))
            return &module;
    }
    return nullptr;
}

const SystemModule* SystemModuleOf(void* handle) {
    for (const SystemModule& module : SystemModules()) {
        if (handle == &module)
            return &module;
    }
    return nullptr;
}

std::mutex g_registeredLock;
std::vector<std::pair<std::string, void*>>& RegisteredExports() {
    static auto* exports = new std::vector<std::pair<std::string, void*>>();
    return *exports;
}

void* RegisteredExport(const char* name) {
    std::lock_guard lock(g_registeredLock);
    for (const auto& [n, address] : RegisteredExports()) {
        if (n == name)
            return address;
    }
    return nullptr;
}

void* SystemExportAddress(const SystemModule& module, const char* procName) {
    const auto ordinal = reinterpret_cast<uintptr_t>(procName);
    for (const SystemExport& e : module.exports) {
        if (ordinal <= 0xFFFF ? e.ordinal != ordinal : std::strcmp(e.name, procName) != 0)
            continue;
        if (void* registered = RegisteredExport(e.name))
            return registered;
        if (void* symbol = dlsym(RTLD_DEFAULT, e.name))
            return symbol;
        return dlsym(RTLD_DEFAULT, e.symbol);
    }
    return nullptr;
}

// Host path of the object that offers a system module's functions in this process (empty when none does).
std::string SystemModulePath(const SystemModule& module) {
    for (const SystemExport& e : module.exports) {
        Dl_info info{};
        void* symbol = SystemExportAddress(module, e.name);
        if (symbol && dladdr(symbol, &info) && info.dli_fname)
            return info.dli_fname;
    }
    return {};
}

void* Load(const std::string& hostPath, std::string& loadedPath) {
    void* handle = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    loadedPath = hostPath;
    if (hostPath.find('/') == std::string::npos) {
        // Loaded by the host's search rules: ask the loader where it found it.
        const std::string found = FindLoaded(Utf8ToUtf16(hostPath));
        if (!found.empty())
            loadedPath = found;
    }
    return handle;
}

} // namespace

void RegisterSystemExport(const char* name, void* address) {
    std::lock_guard lock(g_registeredLock);
    RegisteredExports().emplace_back(name, address);
}

void SetPathMapper(PathMapper mapper) {
    g_pathMapper = mapper;
}

void SetReversePathMapper(ReversePathMapper mapper) {
    g_reverseMapper = mapper;
}

std::string ModuleHostPath(HMODULE module) {
    void* handle = reinterpret_cast<void*>(module);
    if (!handle || handle == ProgramHandle())
        return ProgramPath();
    if (const SystemModule* system = SystemModuleOf(handle))
        return SystemModulePath(*system);
    Modules& modules = GetModules();
    std::lock_guard lock(modules.mutex);
    auto it = modules.byHandle.find(handle);
    return it == modules.byHandle.end() ? std::string() : it->second.path;
}

} // namespace platform

using namespace platform;

HMODULE LoadLibraryW(LPCWSTR fileName) {
    return LoadLibraryExW(fileName, nullptr, 0);
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD) {
    // A module loaded "as a data file" is loaded as code here too: its resources are compiled into it, and the
    // host has no way to map a shared object without loading it.
    if (!fileName || !*fileName) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::u16string name = WithDefaultExtension(fileName);
    std::vector<std::string> candidates;
    if (name.find_first_of(u"\\/") != std::u16string::npos) {
        std::string host;
        if (PathMapper mapper = g_pathMapper.load()) {
            if (!mapper(name, host)) {
                Fail(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
        } else {
            host = Utf16ToUtf8(name);
        }
        candidates.push_back(host);
    } else {
        const std::string program = ProgramPath();
        const std::string narrow = Utf16ToUtf8(name);
        const std::string beside = program.substr(0, program.find_last_of('/') + 1) + narrow;
        // A system module is the layer's own, unless a module of that name lies beside the program or was loaded
        // already (those take precedence, as a program's own copy does on Windows).
        if (const SystemModule* system = FindSystemModule(name); system && !IsFile(beside)) {
            if (HMODULE loaded = GetModuleHandleW(name.c_str());
                loaded && loaded != reinterpret_cast<HMODULE>(const_cast<SystemModule*>(system))) {
                Modules& modules = GetModules();
                std::lock_guard lock(modules.mutex);
                auto it = modules.byHandle.find(reinterpret_cast<void*>(loaded));
                if (it != modules.byHandle.end() && it->second.loads > 0) {
                    dlopen(it->second.path.c_str(), RTLD_NOW | RTLD_NOLOAD); // the reference this load takes
                    ++it->second.loads;
                    return loaded;
                }
            }
            return reinterpret_cast<HMODULE>(const_cast<SystemModule*>(system));
        }
        candidates.push_back(beside);
        candidates.push_back(narrow); // the host loader's own search
    }

    for (size_t i = 0; i < candidates.size(); ++i) {
        const std::string& candidate = candidates[i];
        const bool searched = i + 1 == candidates.size() && candidate.find('/') == std::string::npos;
        if (!searched && !IsFile(candidate))
            continue;
        std::string loadedPath;
        void* handle = Load(candidate, loadedPath);
        if (!handle) {
            if (searched) {
                Fail(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            // The file is there but is not a loadable shared object for this host.
            Fail(ERROR_BAD_FORMAT);
            return nullptr;
        }
        Modules& modules = GetModules();
        std::lock_guard lock(modules.mutex);
        Module& module = modules.byHandle[handle];
        module.path = loadedPath;
        ++module.loads;
        return reinterpret_cast<HMODULE>(handle);
    }
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    void* handle = module ? reinterpret_cast<void*>(module) : ProgramHandle();
    if (const SystemModule* system = SystemModuleOf(handle)) {
        void* symbol = procName ? SystemExportAddress(*system, procName) : nullptr;
        if (!symbol) {
            Fail(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(symbol);
    }
    if (handle != ProgramHandle()) {
        Modules& modules = GetModules();
        std::lock_guard lock(modules.mutex);
        if (!modules.byHandle.count(handle)) {
            Fail(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    // Exports are found by name only; shared objects have no ordinals.
    if (!procName || reinterpret_cast<uintptr_t>(procName) <= 0xFFFF) {
        Fail(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(handle, procName);
    if (!symbol) {
        Fail(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    void* handle = reinterpret_cast<void*>(module);
    if (handle && (handle == ProgramHandle() || SystemModuleOf(handle)))
        return TRUE; // neither the program nor a system module is ever unloaded
    Modules& modules = GetModules();
    std::unique_lock lock(modules.mutex);
    auto it = modules.byHandle.find(handle);
    if (it == modules.byHandle.end() || it->second.loads == 0) {
        Fail(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second.loads == 0)
        modules.byHandle.erase(it);
    lock.unlock();
    dlclose(handle);
    return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (!moduleName)
        return reinterpret_cast<HMODULE>(ProgramHandle());
    const std::u16string wanted = WithDefaultExtension(BaseNameW(moduleName));
    if (EqualsNoCase(wanted, WithDefaultExtension(Utf8ToUtf16(BaseName(ProgramPath())))))
        return reinterpret_cast<HMODULE>(ProgramHandle());
    Modules& modules = GetModules();
    std::lock_guard lock(modules.mutex);
    for (const auto& [handle, module] : modules.byHandle) {
        if (module.loads > 0 && EqualsNoCase(Utf8ToUtf16(BaseName(module.path)), wanted))
            return reinterpret_cast<HMODULE>(handle);
    }
    // The system modules are always there.
    if (const SystemModule* system = FindSystemModule(wanted))
        return reinterpret_cast<HMODULE>(const_cast<SystemModule*>(system));
    // Modules the host's loader brought in with the program (linked at load time).
    const std::string path = FindLoaded(wanted);
    if (!path.empty()) {
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            // GetModuleHandle takes no reference: drop the one RTLD_NOLOAD took; the module stays loaded.
            dlclose(handle);
            auto& module = modules.byHandle[handle];
            module.path = path;
            return reinterpret_cast<HMODULE>(handle);
        }
    }
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    const std::string host = ModuleHostPath(module);
    if (host.empty()) {
        Fail(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::u16string path;
    ReversePathMapper reverse = g_reverseMapper.load();
    if (!reverse || !reverse(host, path))
        path = Utf8ToUtf16(host);
    if (!fileName || size == 0) {
        Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As on Windows: a name that does not fit is cut, terminated, and reported with the buffer's size.
    CopyTruncated(fileName, size, path);
    if (path.size() >= size) {
        Fail(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

void OutputDebugStringW(LPCWSTR text) {
    if (!text || !std::getenv("WINLAYER_DEBUG"))
        return;
    const std::string narrow = Utf16ToUtf8(text);
    std::fwrite(narrow.data(), 1, narrow.size(), stderr);
    std::fflush(stderr);
}

void OutputDebugStringA(LPCSTR text) {
    if (!text || !std::getenv("WINLAYER_DEBUG"))
        return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}
