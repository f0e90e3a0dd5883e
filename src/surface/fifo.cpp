#include "surface/fifo.h"

#include <cstring>
#include <new>

namespace ravelin::surface {

namespace {

// Ring bytes for `entries` elements of `width` bytes, raised to the next power
// of two. Impossible sizes come back as 0, which the base then refuses.
int32_t RingBytes(int32_t entries, int32_t width) {
    if (entries <= 0) return 0;
    int64_t bytes = int64_t(entries) * width;
    int64_t ring = 1;
    while (ring < bytes) ring <<= 1;
    return ring > INT32_MAX ? 0 : int32_t(ring);
}

} // namespace

tFiFo::tFiFo(int32_t aElementSize, int32_t FiFoSize)
    : ElementSize(aElementSize), SizeMask(FiFoSize - 1) {
    if (aElementSize <= 0 || FiFoSize <= 0 || (FiFoSize & SizeMask) != 0 ||
        FiFoSize % aElementSize != 0)
        throw tFiFoError();
    try {
        Buffer.reset(new uint8_t[size_t(FiFoSize)]);
    } catch (const std::bad_alloc&) {
        throw tFiFoError();
    }
    Clear();
}

tFiFo::~tFiFo() = default;

void tFiFo::Clear() {
    std::lock_guard<std::mutex> g(Lock);
    InPos.store(0, std::memory_order_release);
    OutPos.store(0, std::memory_order_release);
    Count.store(0, std::memory_order_relaxed);
}

bool tFiFo::Full() {
    return IncPos(InPos.load(std::memory_order_acquire)) == OutPos.load(std::memory_order_acquire);
}

bool tFiFo::Empty() {
    return OutPos.load(std::memory_order_acquire) == InPos.load(std::memory_order_acquire);
}

bool tFiFo::Store(const void* E) {
    std::lock_guard<std::mutex> g(Lock);
    int32_t in = InPos.load(std::memory_order_relaxed);
    int32_t next = IncPos(in);
    if (next == OutPos.load(std::memory_order_relaxed)) return false;
    MoveVar(E, &Buffer[size_t(in)]);
    // Release: a lock-free Peek that sees the new position also sees the bytes.
    InPos.store(next, std::memory_order_release);
    Count.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool tFiFo::Retrieve(void* E) {
    std::lock_guard<std::mutex> g(Lock);
    int32_t out = OutPos.load(std::memory_order_relaxed);
    if (out == InPos.load(std::memory_order_relaxed)) return false;
    MoveVar(&Buffer[size_t(out)], E);
    OutPos.store(IncPos(out), std::memory_order_release);
    Count.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

bool tFiFo::Peek(void* E) {
    // The element is read under the lock: the panels' poll tick may clear the
    // queue from its own thread, and the port's worker then writes the same
    // bytes again while they would be copied here.
    std::lock_guard<std::mutex> g(Lock);
    int32_t out = OutPos.load(std::memory_order_acquire);
    if (out == InPos.load(std::memory_order_acquire)) return false;
    MoveVar(&Buffer[size_t(out)], E);
    return true;
}

uint8_t tFiFo::SpaceUsed() {
    int32_t used = (InPos.load(std::memory_order_acquire) - OutPos.load(std::memory_order_acquire)) & SizeMask;
    // 64-bit product: rings beyond 8 MB would overflow 32 bits.
    return uint8_t(int64_t(used) * 256 / (int64_t(SizeMask) + 1));
}

int32_t tFiFo::SpaceFree() {
    int32_t room = (OutPos.load(std::memory_order_acquire) - InPos.load(std::memory_order_acquire) - 1) & SizeMask;
    return room / ElementSize;
}

void tFiFo::MoveVar(const void* FromVar, void* ToVar) {
    std::memcpy(ToVar, FromVar, size_t(ElementSize));
}

// ---------------------------------------------------------------------------

tWordFiFo::tWordFiFo(int32_t Entries) : tFiFo(2, RingBytes(Entries, 2)) {}

void tWordFiFo::MoveVar(const void* FromVar, void* ToVar) {
    uint16_t v;
    std::memcpy(&v, FromVar, sizeof v);
    std::memcpy(ToVar, &v, sizeof v);
}

tLongFiFo::tLongFiFo(int32_t Entries) : tFiFo(4, RingBytes(Entries, 4)) {}

tLongFiFo::tLongFiFo(int32_t Entries, int32_t aElementSize)
    : tFiFo(aElementSize, RingBytes(Entries, aElementSize)) {}

void tLongFiFo::MoveVar(const void* FromVar, void* ToVar) {
    uint32_t v;
    std::memcpy(&v, FromVar, sizeof v);
    std::memcpy(ToVar, &v, sizeof v);
}

// ---------------------------------------------------------------------------

tPointerFiFo::tPointerFiFo(int32_t Entries) : tLongFiFo(Entries, int32_t(sizeof(void*))) {}

void tPointerFiFo::MoveVar(const void* FromVar, void* ToVar) {
    void* v;
    std::memcpy(&v, FromVar, sizeof v);
    std::memcpy(ToVar, &v, sizeof v);
}

bool tPointerFiFo::Retrieve(void* E) {
    // Each base Retrieve takes and releases the lock by itself, so the
    // producer is never held up for a run of voided entries.
    while (tFiFo::Retrieve(E)) {
        void* p;
        std::memcpy(&p, E, sizeof p);
        if (p != nullptr) return true;
    }
    return false;
}

void tPointerFiFo::FilterOut(const void* p) {
    std::lock_guard<std::mutex> g(Lock);
    int32_t in = InPos.load(std::memory_order_relaxed);
    for (int32_t pos = OutPos.load(std::memory_order_relaxed); pos != in; pos = IncPos(pos)) {
        void* entry;
        std::memcpy(&entry, &Buffer[size_t(pos)], sizeof entry);
        if (entry == p) {
            void* nil = nullptr;
            std::memcpy(&Buffer[size_t(pos)], &nil, sizeof nil);
        }
    }
}

} // namespace ravelin::surface
