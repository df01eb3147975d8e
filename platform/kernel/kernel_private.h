// Internals shared by the kernel layer's sources: kernel handles, object references and the namespace.
#pragma once

#include "platform/kernel/iomanager.h"
#include "platform/kernel/kernel.h"

#include <memory>
#include <mutex>
#include <string>

namespace platform::kernel {

// Anything a kernel handle can name, or ObReferenceObject can hold.
class KObject : public std::enable_shared_from_this<KObject> {
public:
    virtual ~KObject() = default;
    // The last kernel handle naming the object was closed.
    virtual void OnLastHandleClosed() {}
    // The last reference counted by ObReferenceObject went (shared owners may still hold the object).
    virtual void OnLastReferenceReleased() {}
    // The FILE_OBJECT a kernel handle of a file or device names, or null for other objects.
    virtual PVOID FileObjectBody() { return nullptr; }
};
using KObjectPtr = std::shared_ptr<KObject>;

HANDLE InsertKernelHandle(const KObjectPtr& object);
KObjectPtr LookupKernelHandle(HANDLE handle);
template <class T> std::shared_ptr<T> LookupKernelHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupKernelHandle(handle));
}
NTSTATUS CloseKernelHandle(HANDLE handle);

// Objects that drivers hold by address (threads, file objects, devices) are registered under that address so
// that ObReferenceObject and ObDereferenceObject find their owner.
void RegisterObjectAddress(const void* address, const std::weak_ptr<KObject>& owner);
void UnregisterObjectAddress(const void* address);
// The owner registered for an address, or null.
KObjectPtr LookupObjectAddress(const void* address);

// Upper-case fold of a name, for the case-insensitive namespace.
std::u16string FoldName(std::u16string_view name);

// The client identity of the calling thread (null for the host itself) and the thread's impersonation.
const ClientIdentity* CurrentClient();
const SECURITY_CLIENT_CONTEXT* CurrentImpersonation();

// Writes a line to the kernel debug log.
void DebugLogWrite(const std::string& text);

} // namespace platform::kernel
