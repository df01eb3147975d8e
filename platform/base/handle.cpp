#include "platform/base/handle.h"

#include "platform/base/errors.h"
#include "platform/base/thread_state.h"
#include "platform/base/waiter.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {

struct KernelObject::WaiterList {
    std::vector<Waiter*> waiters;
};

KernelObject::KernelObject() = default;

KernelObject::~KernelObject() = default;

void KernelObject::AddWaiter(Waiter* waiter) {
    if (!m_waiters)
        m_waiters = std::make_unique<WaiterList>();
    m_waiters->waiters.push_back(waiter);
}

void KernelObject::RemoveWaiter(Waiter* waiter) {
    if (!m_waiters)
        return;
    auto& list = m_waiters->waiters;
    auto it = std::find(list.begin(), list.end(), waiter);
    if (it != list.end())
        list.erase(it);
}

void KernelObject::WakeWaiters() {
    if (!m_waiters)
        return;
    for (Waiter* waiter : m_waiters->waiters)
        waiter->Wake();
}

std::vector<Waiter*> KernelObject::Waiters() const {
    if (!m_waiters)
        return {};
    return m_waiters->waiters;
}

namespace {

// Handle values are (slot + 1) * 4, so they are never null, never INVALID_HANDLE_VALUE and look like the small
// multiples of four that Windows hands out. Freed slots are reused, lowest first, as Windows tends to.
class HandleTable {
public:
    HANDLE Insert(KernelObjectPtr object) {
        std::lock_guard lock(m_mutex);
        size_t slot;
        if (!m_free.empty()) {
            std::pop_heap(m_free.begin(), m_free.end(), std::greater<>());
            slot = m_free.back();
            m_free.pop_back();
        } else {
            slot = m_slots.size();
            m_slots.emplace_back();
        }
        ++m_handleCounts[object.get()];
        m_slots[slot] = std::move(object);
        return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((slot + 1) * 4));
    }

    KernelObjectPtr Lookup(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        const size_t slot = SlotOf(handle);
        if (slot >= m_slots.size())
            return nullptr;
        return m_slots[slot];
    }

    // Removes the handle; returns the object and whether it was its last handle.
    KernelObjectPtr Remove(HANDLE handle, bool& last) {
        std::lock_guard lock(m_mutex);
        const size_t slot = SlotOf(handle);
        if (slot >= m_slots.size() || !m_slots[slot])
            return nullptr;
        KernelObjectPtr object = std::move(m_slots[slot]);
        m_slots[slot] = nullptr;
        m_free.push_back(slot);
        std::push_heap(m_free.begin(), m_free.end(), std::greater<>());
        auto it = m_handleCounts.find(object.get());
        last = --it->second == 0;
        if (last)
            m_handleCounts.erase(it);
        return object;
    }

private:
    static size_t SlotOf(HANDLE handle) {
        const auto value = reinterpret_cast<uintptr_t>(handle);
        if (value == 0 || value % 4 != 0 || handle == INVALID_HANDLE_VALUE)
            return static_cast<size_t>(-1);
        return value / 4 - 1;
    }

    std::mutex m_mutex;
    std::vector<KernelObjectPtr> m_slots;
    std::vector<size_t> m_free; // min-heap of free slots
    std::unordered_map<KernelObject*, int> m_handleCounts;
};

HandleTable& Table() {
    // Never destroyed: threads may still close handles while the process exits.
    static auto* table = new HandleTable;
    return *table;
}

} // namespace

HANDLE InsertHandle(KernelObjectPtr object) {
    return Table().Insert(std::move(object));
}

KernelObjectPtr LookupHandle(HANDLE handle) {
    if (reinterpret_cast<intptr_t>(handle) == kCurrentThreadPseudoHandle)
        return CurrentThreadObject();
    return Table().Lookup(handle);
}

void SetLastErrorInvalidHandle() {
    SetLastError(ERROR_INVALID_HANDLE);
}

} // namespace platform

BOOL CloseHandle(HANDLE handle) {
    // Closing the pseudo-handle of the current thread or process does nothing and succeeds.
    if (reinterpret_cast<intptr_t>(handle) == platform::kCurrentThreadPseudoHandle ||
        reinterpret_cast<intptr_t>(handle) == platform::kCurrentProcessPseudoHandle)
        return TRUE;
    bool last = false;
    platform::KernelObjectPtr object = platform::Table().Remove(handle, last);
    if (!object) {
        platform::SetLastErrorInvalidHandle();
        return FALSE;
    }
    if (last)
        object->OnLastHandleClosed();
    return TRUE;
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target, DWORD /*access*/,
                     BOOL /*inherit*/, DWORD options) {
    // Handles live in one process here; the only process a handle can be duplicated from or into is this one.
    const auto self = reinterpret_cast<HANDLE>(platform::kCurrentProcessPseudoHandle);
    if (sourceProcess != self || targetProcess != self) {
        platform::SetLastErrorInvalidHandle();
        return FALSE;
    }
    platform::KernelObjectPtr object = platform::LookupHandle(source);
    if (!object) {
        platform::SetLastErrorInvalidHandle();
        return FALSE;
    }
    if (target)
        *target = platform::InsertHandle(object);
    if (options & DUPLICATE_CLOSE_SOURCE)
        CloseHandle(source);
    return TRUE;
}
