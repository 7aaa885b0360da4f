#pragma once

// Include only where GMime's headers are included too (they need QT_NO_KEYWORDS).
#include <glib-object.h>

namespace kestra {

// Owns one GObject reference and drops it when it goes out of scope.
template <typename T>
struct Ref {
    T *p = nullptr;
    explicit Ref(T *object) : p(object) {}
    ~Ref()
    {
        if (p)
            g_object_unref(p);
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    T *get() const { return p; }
};

} // namespace kestra
