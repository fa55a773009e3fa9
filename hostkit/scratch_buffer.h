// Per-thread scratch rows of the host kit's operations.
#pragma once

#include <cstddef>
#include <vector>

// `values` grown to hold at least `size` elements (never shrunk, so that a
// thread's scratch settles at the largest size it has needed); its data.
template <class T>
T* Grown(std::vector<T>& values, std::size_t size) {
    if (values.size() < size) {
        values.resize(size);
    }
    return values.data();
}
