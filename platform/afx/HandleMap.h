// The framework's map from a handle to the C++ object that wraps it, for menus and image lists.
//
// An object that attached a handle is found from any thread (the permanent map). A handle that nobody attached
// gets a temporary wrapper that belongs to the asking thread and lives until the thread ends; such a wrapper
// never destroys its handle, because its class destroys only handles whose permanent entry is the object itself.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

template <class Handle, class Object> class CHandleMap {
public:
    // One map per kind of object for the whole process. Never destroyed: objects may be destroyed by threads
    // still running at exit.
    static CHandleMap& Instance() {
        static CHandleMap* map = new CHandleMap;
        return *map;
    }

    Object* LookupPermanent(Handle handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_permanent.find(handle);
        return it == m_permanent.end() ? nullptr : it->second;
    }

    void SetPermanent(Handle handle, Object* object) {
        std::lock_guard lock(m_mutex);
        m_permanent[handle] = object;
    }

    // Forgets the entry only when it still names `object` (another object may have attached the handle since).
    void RemovePermanent(Handle handle, const Object* object) {
        std::lock_guard lock(m_mutex);
        auto it = m_permanent.find(handle);
        if (it != m_permanent.end() && it->second == object)
            m_permanent.erase(it);
    }

    std::vector<Object*> PermanentObjects() {
        std::lock_guard lock(m_mutex);
        std::vector<Object*> all;
        for (auto& [handle, object] : m_permanent)
            all.push_back(object);
        return all;
    }

    // The permanent object of the handle, else this thread's temporary wrapper, made by `wrap(handle)` on first
    // use. Null for a null handle.
    template <class Wrap> Object* FromHandle(Handle handle, Wrap wrap) {
        if (!handle)
            return nullptr;
        if (Object* permanent = LookupPermanent(handle))
            return permanent;
        auto& slot = Temporary()[handle];
        if (!slot)
            slot = wrap(handle);
        return slot.get();
    }

private:
    static std::unordered_map<Handle, std::unique_ptr<Object>>& Temporary() {
        thread_local std::unordered_map<Handle, std::unique_ptr<Object>> temporary;
        return temporary;
    }

    std::mutex m_mutex;
    std::unordered_map<Handle, Object*> m_permanent;
};
