// ClArray: the growable array of records, stored by value in one heap block.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <new>

#include <windows.h>

// The block is a header (count, capacity) followed by the elements; the
// array points at the first element, or is null while it has no block. When
// full, an append moves everything into a block exactly one element larger:
// the array never reserves spare room. The new block is made before anything
// changes, so a failed append leaves the array as it was.
template <class T>
class ClArray {
public:
    ClArray() : items(nullptr) {}
    ~ClArray() { Free(items); }

    ClArray(const ClArray&) = delete;
    ClArray& operator=(const ClArray&) = delete;

    DWORD GetCount() const { return items != nullptr ? HeaderOf(items)->count : 0; }
    DWORD GetCapacity() const { return items != nullptr ? HeaderOf(items)->capacity : 0; }

    // No bounds test: callers stay below GetCount().
    T& operator[](DWORD index) { return items[index]; }
    const T& operator[](DWORD index) const { return items[index]; }

    void Append(const T& element) {
        const DWORD count = GetCount();
        if (items != nullptr && count < HeaderOf(items)->capacity) {
            new (items + count) T(element);
            HeaderOf(items)->count = count + 1;
            return;
        }
        T* fresh = AllocateItems(count + 1);
        DWORD built = 0;
        try {
            for (; built < count; ++built) {
                new (fresh + built) T(items[built]);
            }
            new (fresh + count) T(element);
        } catch (...) {
            DestroyItems(fresh, built);
            ::operator delete(HeaderOf(fresh));
            throw;
        }
        HeaderOf(fresh)->count = count + 1;
        Free(items);
        items = fresh;
    }

private:
    struct Header {
        DWORD count;
        DWORD capacity;
    };
    static_assert(alignof(T) <= sizeof(Header), "elements must be able to follow the header");

    static Header* HeaderOf(T* elements) { return reinterpret_cast<Header*>(elements) - 1; }

    // A block with room for exactly n elements, none built yet.
    static T* AllocateItems(DWORD n) {
        const size_t room = (SIZE_MAX - sizeof(Header)) / sizeof(T);
        const size_t size = n <= room ? sizeof(Header) + n * sizeof(T) : SIZE_MAX;
        auto* header = static_cast<Header*>(::operator new(size));
        header->count = 0;
        header->capacity = n;
        return reinterpret_cast<T*>(header + 1);
    }

    static void DestroyItems(T* elements, DWORD count) {
        for (DWORD i = 0; i < count; ++i) {
            elements[i].~T();
        }
    }

    static void Free(T* elements) {
        if (elements == nullptr) {
            return;
        }
        DestroyItems(elements, HeaderOf(elements)->count);
        ::operator delete(HeaderOf(elements));
    }

    T* items;
};
