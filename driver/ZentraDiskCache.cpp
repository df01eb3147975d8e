// Read-ahead and write-behind of an encrypted disk.
//
// Each request of an encrypted disk costs an image read or write and the sector encryption, about as much again as
// the whole hand-off from the program to the worker and back. Served one after the other by the worker, a stream
// of requests waits for all of it. So the worker hands that work to a few helper threads and lets it run ahead:
//
// - A read that continues the one before it (a sequential stream) sends the helpers to read and decrypt the next
//   stretches of the same length, each into a block of its own; when the program asks for one of them, the worker
//   only copies it out (or waits for the helper that is still at it, or, if no helper has started it, reads it
//   itself).
// - A write is copied into a block and completed; a helper encrypts the block and writes it to the image. This
//   only happens on an image whose space is reserved (a file allocated in full when it was made), so that a write
//   cannot fail later for want of space; elsewhere writes are made before they complete, as always.
//
// What the program sees stays as without the blocks: a read waits for every write behind that touches its sectors
// and a write waits for those before it on the same sectors, so reads see the latest data and writes land in
// order; a write drops the blocks read ahead that it overlaps. A write behind that fails (an I/O error of the
// host) fails every later write and every flush of the disk, until the disk is mounted again: the data it carried
// is lost, and the file system on the disk must be told. A flush, an IOCTL and the end of the disk wait for every
// write behind.
//
// Only the worker queues blocks, takes them back and looks at their contents; helpers claim queued blocks, do them
// and mark them done. Each helper has its own copy of the crypto context: a context serves one thread at a time.
#include "driver/Zentra.h"

#include "driver/CryptoLibrary.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>

namespace {

constexpr ULONG kMaxHelpers = 3;
constexpr ULONG kBlocks = 20;
// Longer requests go to the image directly.
constexpr ULONG kMaxBlockBytes = 4u << 20;
// How far reads run ahead of the program, and how much written data may wait for the image.
constexpr ULONGLONG kReadAheadBytes = 8u << 20;
constexpr ULONG kMaxReadAheadBlocks = 8;
constexpr ULONGLONG kWriteBehindBytes = 8u << 20;
constexpr ULONG kMaxWriteBehindBlocks = 12;
constexpr int kPausesPerYield = 64;
// How long an idle helper watches for work before it sleeps.
constexpr auto kWatch = std::chrono::microseconds(200);

enum BlockState : ULONG { BlockFree, BlockQueued, BlockRunning, BlockDone };
enum BlockKind : ULONG { BlockReadAhead, BlockWriteBehind };

struct Block {
    std::atomic<ULONG> State{BlockFree};
    // Read by helpers looking for the oldest queued block before they claim one.
    std::atomic<ULONGLONG> Sequence{0};
    // Written by the worker while the block is free, read by the helper that claimed it.
    BlockKind Kind = BlockReadAhead;
    ULONGLONG Offset = 0; // on the volume
    ULONG Length = 0;
    std::unique_ptr<UCHAR[]> Data;
    ULONG Capacity = 0;
    // Written by whoever did the block, read by the worker once it is done.
    NTSTATUS Status = STATUS_SUCCESS;
    ULONG_PTR Done = 0;

    bool InUse() const { return State.load(std::memory_order_acquire) != BlockFree; }
    bool Overlaps(ULONGLONG offset, ULONG length) const { return Offset < offset + length && offset < Offset + Length; }
};

struct Helper {
    ZENTRA_IO_CACHE* Cache = nullptr;
    CRYPTO_INFO* Crypto = nullptr;
    PETHREAD Thread = nullptr; // referenced by the helper itself before it reports that it started
    KEVENT Started;
};

} // namespace

struct ZENTRA_IO_CACHE {
    PZENTRA_DEVICE_EXTENSION Extension = nullptr;
    bool WriteBehind = false;
    Block Blocks[kBlocks];
    ULONGLONG NextSequence = 1;
    ULONGLONG StreamEnd = ~0ull; // where the last read ended
    NTSTATUS WriteFailure = STATUS_SUCCESS;
    std::atomic<ULONG> Sleepers{0};
    std::atomic<bool> Stop{false};
    KEVENT Work;
    Helper Helpers[kMaxHelpers];
    ULONG HelperCount = 0;
};

namespace {

// Reads `length` bytes at the image offset and decrypts the whole sectors read; `done` is their length.
NTSTATUS ReadDecrypt(PZENTRA_DEVICE_EXTENSION extension, UCHAR* buffer, ULONG length, LONGLONG imageOffset,
                     CRYPTO_INFO* crypto, ULONG_PTR& done) {
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at;
    at.QuadPart = imageOffset;
    const NTSTATUS status =
        ZwReadFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, buffer, length, &at, nullptr);
    done = NT_SUCCESS(status) ? io.Information : 0;
    // Only whole sectors are decrypted; a short read at the end of an image ends at a sector boundary.
    done -= done % ZENTRA_BYTES_PER_SECTOR;
    if (done && !DecryptSectors(buffer, static_cast<ULONGLONG>(imageOffset) / ZENTRA_BYTES_PER_SECTOR, done, crypto)) {
        RtlZeroMemory(buffer, length);
        done = 0;
        return STATUS_DRIVER_INTERNAL_ERROR;
    }
    return status;
}

// Encrypts `source` into `target` (the same buffer or another of `length` bytes) and writes it at the image offset.
NTSTATUS EncryptWrite(PZENTRA_DEVICE_EXTENSION extension, const UCHAR* source, UCHAR* target, ULONG length,
                      LONGLONG imageOffset, CRYPTO_INFO* crypto, ULONG_PTR& done) {
    done = 0;
    const ULONGLONG firstSector = static_cast<ULONGLONG>(imageOffset) / ZENTRA_BYTES_PER_SECTOR;
    const bool encrypted = source == target ? EncryptSectors(target, firstSector, length, crypto)
                                            : EncryptSectorsFrom(source, target, firstSector, length, crypto);
    if (!encrypted)
        return STATUS_DRIVER_INTERNAL_ERROR;
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at;
    at.QuadPart = imageOffset;
    const NTSTATUS status =
        ZwWriteFile(extension->FileHandle, nullptr, nullptr, nullptr, &io, target, length, &at, nullptr);
    done = NT_SUCCESS(status) ? io.Information : 0;
    return status;
}

void Run(ZENTRA_IO_CACHE& cache, Block& block, CRYPTO_INFO* crypto) {
    PZENTRA_DEVICE_EXTENSION extension = cache.Extension;
    const LONGLONG imageOffset = static_cast<LONGLONG>(block.Offset + extension->HeaderBytes);
    block.Status = block.Kind == BlockReadAhead
                       ? ReadDecrypt(extension, block.Data.get(), block.Length, imageOffset, crypto, block.Done)
                       : EncryptWrite(extension, block.Data.get(), block.Data.get(), block.Length, imageOffset, crypto,
                                      block.Done);
    block.State.store(BlockDone, std::memory_order_release);
}

bool AnyQueued(const ZENTRA_IO_CACHE& cache) {
    for (const Block& block : cache.Blocks) {
        if (block.State.load(std::memory_order_seq_cst) == BlockQueued)
            return true;
    }
    return false;
}

// Claims the oldest queued block; null when there is none.
Block* Claim(ZENTRA_IO_CACHE& cache) {
    for (;;) {
        Block* oldest = nullptr;
        ULONGLONG oldestSequence = ~0ull;
        for (Block& block : cache.Blocks) {
            if (block.State.load(std::memory_order_acquire) != BlockQueued)
                continue;
            const ULONGLONG sequence = block.Sequence.load(std::memory_order_relaxed);
            if (sequence < oldestSequence) {
                oldest = &block;
                oldestSequence = sequence;
            }
        }
        if (!oldest)
            return nullptr;
        ULONG expected = BlockQueued;
        if (oldest->State.compare_exchange_strong(expected, BlockRunning, std::memory_order_acq_rel))
            return oldest;
    }
}

void WakeHelper(ZENTRA_IO_CACHE& cache) {
    if (cache.Sleepers.load(std::memory_order_seq_cst) != 0)
        KeSetEvent(&cache.Work, IO_NO_INCREMENT, FALSE);
}

// Watches for a queued block for a while before the helper sleeps: in a stream of requests the next block comes
// within tens of microseconds, and a helper that is awake spares the worker the setting of the event. A lone
// helper (a machine of two processors) sleeps at once: watching, it would take the processor from the threads
// that carry the requests.
bool Watch(const ZENTRA_IO_CACHE& cache) {
    const auto end = std::chrono::steady_clock::now() + kWatch;
    for (;;) {
        for (int i = 0; i < kPausesPerYield; ++i) {
            YieldProcessor();
            if (AnyQueued(cache) || cache.Stop.load(std::memory_order_relaxed))
                return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        ZwYieldExecution();
    }
}

void HelperThread(PVOID context) {
    auto& helper = *static_cast<Helper*>(context);
    ZENTRA_IO_CACHE& cache = *helper.Cache;
    ObReferenceObject(PsGetCurrentThread());
    helper.Thread = PsGetCurrentThread();
    KeSetEvent(&helper.Started, IO_NO_INCREMENT, FALSE);
    while (!cache.Stop.load(std::memory_order_acquire)) {
        if (Block* block = Claim(cache)) {
            // More is queued: a sleeping helper takes it, rather than waiting for this one.
            if (AnyQueued(cache))
                WakeHelper(cache);
            Run(cache, *block, helper.Crypto);
            continue;
        }
        if (cache.HelperCount > 1 && Watch(cache))
            continue;
        // The event is set by a worker that queued a block after seeing a sleeper; a block queued before this
        // helper counted itself in is seen by the look below.
        cache.Sleepers.fetch_add(1, std::memory_order_seq_cst);
        if (!AnyQueued(cache) && !cache.Stop.load(std::memory_order_seq_cst))
            KeWaitForSingleObject(&cache.Work, Executive, KernelMode, FALSE, nullptr);
        cache.Sleepers.fetch_sub(1, std::memory_order_seq_cst);
    }
    // The next helper to stop is woken in turn: one setting of the event wakes one waiter.
    KeSetEvent(&cache.Work, IO_NO_INCREMENT, FALSE);
    CryptoThreadEnd();
}

// Waits until the block is done; a block no helper has started yet the worker does itself.
void Settle(ZENTRA_IO_CACHE& cache, Block& block) {
    ULONG state = block.State.load(std::memory_order_acquire);
    if (state == BlockQueued && block.State.compare_exchange_strong(state, BlockRunning, std::memory_order_acq_rel)) {
        Run(cache, block, cache.Extension->CryptoInfo);
        return;
    }
    for (int pauses = 1; block.State.load(std::memory_order_acquire) != BlockDone; ++pauses) {
        YieldProcessor();
        if (pauses % kPausesPerYield == 0)
            ZwYieldExecution();
    }
}

// Takes a done block back; a write behind that failed is kept as the disk's write failure.
void Reap(ZENTRA_IO_CACHE& cache, Block& block) {
    if (block.Kind == BlockWriteBehind && (!NT_SUCCESS(block.Status) || block.Done < block.Length) &&
        NT_SUCCESS(cache.WriteFailure)) {
        cache.WriteFailure = NT_SUCCESS(block.Status) ? STATUS_IO_DEVICE_ERROR : block.Status;
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDisk: a write behind at %I64d failed with code 0x%x!", block.Offset,
                       cache.WriteFailure);
    }
    block.State.store(BlockFree, std::memory_order_release);
}

// Takes the block back whatever its state: a write is landed first; a read ahead that no helper has started is
// withdrawn, a running one waited for.
void Withdraw(ZENTRA_IO_CACHE& cache, Block& block) {
    ULONG state = block.State.load(std::memory_order_acquire);
    if (state == BlockFree)
        return;
    if (state == BlockQueued && block.Kind == BlockReadAhead &&
        block.State.compare_exchange_strong(state, BlockFree, std::memory_order_acq_rel))
        return;
    Settle(cache, block);
    Reap(cache, block);
}

// Lands every write behind that overlaps the range.
void LandWrites(ZENTRA_IO_CACHE& cache, ULONGLONG offset, ULONG length) {
    for (Block& block : cache.Blocks) {
        if (block.InUse() && block.Kind == BlockWriteBehind && block.Overlaps(offset, length))
            Withdraw(cache, block);
    }
}

void LandAllWrites(ZENTRA_IO_CACHE& cache) {
    for (Block& block : cache.Blocks) {
        if (block.InUse() && block.Kind == BlockWriteBehind)
            Withdraw(cache, block);
    }
}

// Drops the blocks read ahead that overlap the range.
void DropReadAhead(ZENTRA_IO_CACHE& cache, ULONGLONG offset, ULONG length) {
    for (Block& block : cache.Blocks) {
        if (block.InUse() && block.Kind == BlockReadAhead && block.Overlaps(offset, length))
            Withdraw(cache, block);
    }
}

// Drops the blocks read ahead that the stream ending at `streamEnd` will not ask for: those done or queued outside
// [streamEnd, streamEnd + window). A running one is left to finish; it is taken back when its turn comes.
void DropStale(ZENTRA_IO_CACHE& cache, ULONGLONG streamEnd, ULONGLONG window) {
    for (Block& block : cache.Blocks) {
        if (!block.InUse() || block.Kind != BlockReadAhead)
            continue;
        if (block.Offset >= streamEnd && block.Offset < streamEnd + window)
            continue;
        ULONG state = block.State.load(std::memory_order_acquire);
        if (state == BlockDone)
            Reap(cache, block);
        else if (state == BlockQueued)
            block.State.compare_exchange_strong(state, BlockFree, std::memory_order_acq_rel);
    }
}

// A free block for `length` bytes: the smallest buffer that holds them, else the largest one (which grows), so
// that the few long requests keep reusing the same few large buffers.
Block* FreeBlock(ZENTRA_IO_CACHE& cache, ULONG length) {
    Block* fitting = nullptr;
    Block* largest = nullptr;
    for (Block& block : cache.Blocks) {
        if (block.InUse())
            continue;
        if (block.Capacity >= length && (!fitting || block.Capacity < fitting->Capacity))
            fitting = &block;
        if (!largest || block.Capacity > largest->Capacity)
            largest = &block;
    }
    return fitting ? fitting : largest;
}

// Fills a free block and queues it; false when its buffer cannot be had.
bool Queue(ZENTRA_IO_CACHE& cache, Block& block, BlockKind kind, ULONGLONG offset, ULONG length, const UCHAR* data) {
    if (block.Capacity < length) {
        std::unique_ptr<UCHAR[]> buffer(new (std::nothrow) UCHAR[length]);
        if (!buffer)
            return false;
        if (block.Data)
            ZentraBurn(block.Data.get(), block.Capacity);
        block.Data = std::move(buffer);
        block.Capacity = length;
    }
    block.Kind = kind;
    block.Offset = offset;
    block.Length = length;
    block.Status = STATUS_SUCCESS;
    block.Done = 0;
    if (data)
        RtlCopyMemory(block.Data.get(), data, length);
    block.Sequence.store(cache.NextSequence++, std::memory_order_relaxed);
    block.State.store(BlockQueued, std::memory_order_seq_cst);
    return true;
}

bool WriteBehindOverlaps(const ZENTRA_IO_CACHE& cache, ULONGLONG offset, ULONG length) {
    for (const Block& block : cache.Blocks) {
        if (block.InUse() && block.Kind == BlockWriteBehind && block.Overlaps(offset, length))
            return true;
    }
    return false;
}

bool ReadAheadAt(const ZENTRA_IO_CACHE& cache, ULONGLONG offset, ULONG length) {
    for (const Block& block : cache.Blocks) {
        if (block.InUse() && block.Kind == BlockReadAhead && block.Offset == offset && block.Length == length)
            return true;
    }
    return false;
}

// Sends the helpers to read the stretches of `length` bytes that follow `from`.
void ReadAhead(ZENTRA_IO_CACHE& cache, ULONGLONG from, ULONG length) {
    const ULONG depth = static_cast<ULONG>(std::clamp<ULONGLONG>(kReadAheadBytes / length, 1, kMaxReadAheadBlocks));
    DropStale(cache, from, ULONGLONG{depth} * length);
    bool queued = false;
    for (ULONG k = 0; k < depth; ++k) {
        const ULONGLONG offset = from + ULONGLONG{k} * length;
        if (offset + length > cache.Extension->VolumeSize || WriteBehindOverlaps(cache, offset, length))
            break;
        if (ReadAheadAt(cache, offset, length))
            continue;
        Block* block = FreeBlock(cache, length);
        if (!block || !Queue(cache, *block, BlockReadAhead, offset, length, nullptr))
            break;
        queued = true;
    }
    if (queued)
        WakeHelper(cache);
}

// A block for a write behind: there is room when fewer than the most writes (and bytes) wait; else the oldest
// write behind is landed first. Null when no block can be had.
Block* WriteBehindBlock(ZENTRA_IO_CACHE& cache, ULONG length) {
    for (;;) {
        ULONG writes = 0;
        ULONGLONG bytes = length;
        Block* oldest = nullptr;
        for (Block& block : cache.Blocks) {
            if (!block.InUse() || block.Kind != BlockWriteBehind)
                continue;
            if (block.State.load(std::memory_order_acquire) == BlockDone) {
                Reap(cache, block);
                continue;
            }
            ++writes;
            bytes += block.Length;
            if (!oldest ||
                block.Sequence.load(std::memory_order_relaxed) < oldest->Sequence.load(std::memory_order_relaxed))
                oldest = &block;
        }
        if (writes < kMaxWriteBehindBlocks && (bytes <= kWriteBehindBytes || !oldest)) {
            if (Block* block = FreeBlock(cache, length))
                return block;
            // Every other block is read ahead: the stream has to wait.
            DropStale(cache, 0, 0);
            if (Block* block = FreeBlock(cache, length))
                return block;
        }
        if (!oldest)
            return nullptr;
        Settle(cache, *oldest);
        Reap(cache, *oldest);
    }
}

} // namespace

void ZentraIoCacheDeleter::operator()(ZENTRA_IO_CACHE* cache) const {
    if (!cache)
        return;
    for (Block& block : cache->Blocks)
        Withdraw(*cache, block);
    if (!NT_SUCCESS(cache->WriteFailure))
        ZentraDbgPrint(ZENTRA_DBG_ERROR, "ZentraDisk: writes were lost (code 0x%x)!", cache->WriteFailure);
    cache->Stop.store(true, std::memory_order_seq_cst);
    KeSetEvent(&cache->Work, IO_NO_INCREMENT, FALSE);
    for (ULONG i = 0; i < cache->HelperCount; ++i) {
        Helper& helper = cache->Helpers[i];
        KeWaitForSingleObject(helper.Thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(helper.Thread);
        CryptoFree(helper.Crypto);
    }
    for (Block& block : cache->Blocks) {
        if (block.Data)
            ZentraBurn(block.Data.get(), block.Capacity);
    }
    delete cache;
}

ZentraIoCachePtr ZentraIoCacheStart(PZENTRA_DEVICE_EXTENSION extension, bool writeBehind) {
    // One processor would only take turns between the threads.
    const ULONG processors = KeQueryActiveProcessorCount(nullptr);
    if (!extension->CryptoInfo || processors < 2)
        return nullptr;
    ZentraIoCachePtr cache(new (std::nothrow) ZENTRA_IO_CACHE);
    if (!cache)
        return nullptr;
    cache->Extension = extension;
    cache->WriteBehind = writeBehind;
    KeInitializeEvent(&cache->Work, SynchronizationEvent, FALSE);
    const ULONG wanted = std::min(kMaxHelpers, processors - 1);
    for (ULONG i = 0; i < wanted; ++i) {
        Helper& helper = cache->Helpers[i];
        helper.Cache = cache.get();
        KeInitializeEvent(&helper.Started, NotificationEvent, FALSE);
        helper.Crypto = CryptoClone(extension->CryptoInfo);
        if (!helper.Crypto)
            break;
        HANDLE thread = nullptr;
        if (!NT_SUCCESS(
                PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, HelperThread, &helper))) {
            CryptoFree(helper.Crypto);
            helper.Crypto = nullptr;
            break;
        }
        ZwClose(thread);
        KeWaitForSingleObject(&helper.Started, Executive, KernelMode, FALSE, nullptr);
        ++cache->HelperCount;
    }
    if (cache->HelperCount == 0)
        return nullptr;
    ZentraDbgPrint(ZENTRA_DBG_TRACE, "ZentraIoCacheStart: %d helpers, write behind %d.", cache->HelperCount,
                   writeBehind ? 1 : 0);
    return cache;
}

NTSTATUS ZentraIoCacheRead(ZENTRA_IO_CACHE& cache, UCHAR* buffer, ULONG length, ULONGLONG offset, ULONG_PTR& done) {
    PZENTRA_DEVICE_EXTENSION extension = cache.Extension;
    LandWrites(cache, offset, length);
    NTSTATUS status = STATUS_SUCCESS;
    bool served = false;
    for (Block& block : cache.Blocks) {
        if (!block.InUse() || block.Kind != BlockReadAhead || block.Offset != offset || block.Length != length)
            continue;
        Settle(cache, block);
        // A block that came back short or failed is read again here, and tells its own outcome.
        if (NT_SUCCESS(block.Status) && block.Done == length) {
            RtlCopyMemory(buffer, block.Data.get(), length);
            done = length;
            served = true;
        }
        Reap(cache, block);
        break;
    }
    if (!served) {
        DropReadAhead(cache, offset, length);
        status = ReadDecrypt(extension, buffer, length, static_cast<LONGLONG>(offset + extension->HeaderBytes),
                             extension->CryptoInfo, done);
    }
    const bool sequential = offset == cache.StreamEnd;
    cache.StreamEnd = offset + length;
    if (sequential && NT_SUCCESS(status) && done == length && length <= kMaxBlockBytes)
        ReadAhead(cache, offset + length, length);
    else
        DropStale(cache, 0, 0);
    return status;
}

NTSTATUS ZentraIoCacheWrite(ZENTRA_IO_CACHE& cache, const UCHAR* buffer, ULONG length, ULONGLONG offset,
                            ULONG_PTR& done) {
    PZENTRA_DEVICE_EXTENSION extension = cache.Extension;
    done = 0;
    DropReadAhead(cache, offset, length);
    LandWrites(cache, offset, length);
    if (!NT_SUCCESS(cache.WriteFailure))
        return cache.WriteFailure;
    const auto imageOffset = static_cast<LONGLONG>(offset + extension->HeaderBytes);
    if (cache.WriteBehind && length <= kMaxBlockBytes) {
        if (Block* block = WriteBehindBlock(cache, length)) {
            if (!NT_SUCCESS(cache.WriteFailure))
                return cache.WriteFailure;
            if (Queue(cache, *block, BlockWriteBehind, offset, length, buffer)) {
                WakeHelper(cache);
                done = length;
                return STATUS_SUCCESS;
            }
        }
    }
    auto* copy = static_cast<UCHAR*>(ExAllocatePoolWithTag(PagedPool, length, ZENTRA_POOL_TAG));
    if (!copy)
        return STATUS_INSUFFICIENT_RESOURCES;
    const NTSTATUS status = EncryptWrite(extension, buffer, copy, length, imageOffset, extension->CryptoInfo, done);
    ExFreePoolWithTag(copy, ZENTRA_POOL_TAG);
    return status;
}

NTSTATUS ZentraIoCacheFlush(ZENTRA_IO_CACHE& cache) {
    LandAllWrites(cache);
    return cache.WriteFailure;
}
