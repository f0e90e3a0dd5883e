#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace ravelin::surface {

// Raised when a queue cannot be created; what() is "tFiFo.Create failed".
class tFiFoError : public std::runtime_error {
public:
    tFiFoError() : std::runtime_error("tFiFo.Create failed") {}
};

// A locked ring of fixed-size elements between one producer thread and one
// consumer thread. The ring size is a power of two so that positions wrap with
// a mask; one element slot always stays empty, so that "full" and "empty" can
// be told apart from the two positions alone. Nothing is allocated after
// creation.
//
// Store, Retrieve, Clear, Peek (and tPointerFiFo::FilterOut) hold the
// queue's lock. Full, Empty, SpaceUsed, SpaceFree and Count read the
// positions without it: they are hints for the caller, who then does the
// locked operation.
class tFiFo {
public:
    // Ring of FiFoSize bytes holding elements of aElementSize bytes. Throws
    // tFiFoError when FiFoSize is not a power of two or not a whole multiple
    // of the element size.
    tFiFo(int32_t aElementSize, int32_t FiFoSize);
    virtual ~tFiFo();

    tFiFo(const tFiFo&) = delete;
    tFiFo& operator=(const tFiFo&) = delete;

    virtual void Clear();
    virtual bool Full();
    virtual bool Empty();
    // Copies one element from E into the queue; false (and nothing changed)
    // when the queue is full.
    virtual bool Store(const void* E);
    // Moves the oldest element into E; false, with E untouched, when empty.
    virtual bool Retrieve(void* E);
    // Copies the oldest element into E and leaves it queued; false when empty.
    virtual bool Peek(void* E);
    // How much of the ring is filled, in 256ths (0 empty, at most 255).
    virtual uint8_t SpaceUsed();
    // Room left, in whole elements.
    virtual int32_t SpaceFree();
    // The one place that copies an element's bytes.
    virtual void MoveVar(const void* FromVar, void* ToVar);

    int32_t IncPos(int32_t FromPos) const { return (FromPos + ElementSize) & SizeMask; }

    const int32_t ElementSize;
    const int32_t SizeMask;

protected:
    std::atomic<int32_t> InPos{0};
    std::atomic<int32_t> OutPos{0};

public:
    // Elements held; kept by the locked operations, for information only.
    std::atomic<int32_t> Count{0};

protected:
    std::mutex Lock;
    std::unique_ptr<uint8_t[]> Buffer;
};

// 16-bit elements.
class tWordFiFo : public tFiFo {
public:
    // Room for Entries words, the ring rounded up to a power of two; since one
    // slot stays empty, tWordFiFo(1024) holds 1023 words.
    explicit tWordFiFo(int32_t Entries);
    void MoveVar(const void* FromVar, void* ToVar) override;
};

// 32-bit elements.
class tLongFiFo : public tFiFo {
public:
    explicit tLongFiFo(int32_t Entries);
    void MoveVar(const void* FromVar, void* ToVar) override;

protected:
    // For descendants whose elements are another fixed width.
    tLongFiFo(int32_t Entries, int32_t aElementSize);
};

// Pointer elements. An entry can be voided in place (FilterOut) when the
// object it points to goes away before the consumer has taken it; the consumer
// skips voided entries.
class tPointerFiFo : public tLongFiFo {
public:
    explicit tPointerFiFo(int32_t Entries);
    void MoveVar(const void* FromVar, void* ToVar) override;
    // E points to a void*. Skips nil entries; true only with a non-nil entry
    // in E, false when the queue runs out.
    bool Retrieve(void* E) override;
    // Overwrites every held entry equal to p with nil.
    virtual void FilterOut(const void* p);

    // Typed conveniences over Store and Retrieve.
    bool StorePointer(void* p) { return Store(&p); }
    bool RetrievePointer(void*& p) { return Retrieve(&p); }
};

} // namespace ravelin::surface
