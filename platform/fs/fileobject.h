// Private: the kernel object behind a file handle, and the open routine that CreateFileW and CopyFileExW share.
#pragma once

#include "platform/fs/files.h"
#include "platform/fs/hostfs.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace platform::fs::detail {

class FileObject : public IoObject {
public:
    FileObject(int fd, DWORD access, DWORD flags, bool directory, std::string hostPath);
    ~FileObject() override;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    const char* TypeName() const override { return "File"; }
    void OnLastHandleClosed() override;

    BOOL Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override;
    BOOL Write(LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) override;
    BOOL Flush() override;
    DWORD FileType() const override;

    int Descriptor() const { return m_fd; }
    bool IsDirectory() const { return m_directory; }
    const std::string& HostPath() const { return m_hostPath; }
    bool CanRead() const { return m_canRead; }
    bool CanWrite() const { return m_canWrite; }
    bool CanWriteAttributes() const { return m_canWriteAttributes; }
    // SetFileTime was given a last-write time; later writes through this handle no longer move it.
    void NoteExplicitWriteTime() { m_explicitWriteTime = true; }
    // A stat of the descriptor taken at the open, when there was one. Only what never changes for an open file
    // (device, inode, birth time) may be taken from it.
    const std::optional<HostStat>& Identity() const { return m_identity; }
    void NoteIdentity(const HostStat& st) { m_identity = st; }

private:
    int m_fd;
    DWORD m_flags;
    bool m_directory;
    std::string m_hostPath;
    uint64_t m_dev = 0;
    uint64_t m_ino = 0;
    bool m_canRead;
    bool m_canWrite;
    bool m_appendOnly;
    bool m_canWriteAttributes;
    bool m_deleteOnClose;
    std::atomic<bool> m_written{false};
    std::atomic<bool> m_explicitWriteTime{false};
    std::optional<HostStat> m_identity;
};

// Opens a host file as CreateFileW does (dispositions, share modes, attributes of new files). Sets the last
// error and returns null on failure; `existed` tells whether the file was there before. `known` is the path's
// stat when the caller has just taken it (the lookup of the name), saving the first look.
std::shared_ptr<FileObject> OpenHostFile(const std::string& hostPath, DWORD access, DWORD shareMode, DWORD disposition,
                                         DWORD flagsAndAttributes, bool& existed, const HostStat* known = nullptr);

} // namespace platform::fs::detail
