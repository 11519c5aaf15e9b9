#pragma once
// What the writer's and the reader's handle functions share: wrapping a new
// object in a handle, and taking the object back out of one.
#include <new>

#include "archive/ZipArchive.h"

namespace archive {

// Wraps a freshly opened object; on a failed open (or no memory for the
// handle) the object is deleted and null returned, `result` telling why.
template <class T>
ZipHandle* WrapInHandle(T* object, ZipHandleKind kind, ZipResult* result) {
    ZipHandle* handle = nullptr;
    if (*result == ZipResult::Ok) {
        handle = new (std::nothrow) ZipHandle{kind, object};
        if (!handle)
            *result = ZipResult::NoMemory;
    }
    if (!handle)
        delete object;
    return handle;
}

// The object behind a handle of the wanted kind; else null, with the
// refusal: a null handle is faulty use, another kind the wrong handle.
template <class T>
T* ObjectOf(ZipHandle* handle, ZipHandleKind kind, ZipResult* refusal) {
    if (!handle) {
        *refusal = ZipResult::BadArguments;
        return nullptr;
    }
    if (handle->kind != kind) {
        *refusal = ZipResult::WrongHandleKind;
        return nullptr;
    }
    return static_cast<T*>(handle->object);
}

} // namespace archive
