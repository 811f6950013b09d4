// What the extension's functions share around a call into the library: the
// global interpreter lock let go, signal handlers let in during long work,
// and bytes objects written in place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "python.hpp"

namespace textmend::python {

// Work on fewer bytes than this keeps the interpreter lock: letting it go
// and taking it back costs more than converting that much.
inline constexpr std::size_t RELEASE_GIL_FROM = std::size_t{64} << 10;

// Lets other Python threads run for the lifetime of this object.
class WithoutGil {
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    ~WithoutGil() { PyEval_RestoreThread(state_); }
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;

private:
    PyThreadState* state_;
};

// Set at import: the thread that runs Python's signal handlers.
void remember_main_thread(unsigned long ident);

// Lets Python's signal handlers run during a long call made without the
// lock: a Ctrl-C must not wait for the whole conversion. Between blocks the
// working thread asks stop_requested(); in the main thread, at most every
// CHECK_EVERY, it takes the lock and runs the handlers. When one raises
// (KeyboardInterrupt by default), the work stops and rethrow_if_raised()
// restores that exception once the lock is back. Other threads never run
// signal handlers, so they never take the lock for it.
class SignalWatch {
public:
    SignalWatch();  // with the lock held
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Without the lock; interrupted: a signal just interrupted a system
    // call, so its handler is due now.
    bool stop_requested(bool interrupted = false);
    static bool stop_requested(void* watch, bool interrupted) {
        return static_cast<SignalWatch*>(watch)->stop_requested(interrupted);
    }

    [[nodiscard]] bool raised() const { return raised_; }

    // With the lock: restores the handler's exception and returns true if
    // one raised.
    bool rethrow_if_raised();

private:
    static constexpr std::chrono::milliseconds CHECK_EVERY{20};
    bool active_;
    bool raised_ = false;
    std::chrono::steady_clock::time_point next_check_{};
    PyObject* error_type_ = nullptr;
    PyObject* error_value_ = nullptr;
    PyObject* error_traceback_ = nullptr;
};

// Where transparent huge pages are given on request, asks for them over a
// large result: every 4 KiB page written for the first time is a page
// fault, and on a virtual machine that costs more than converting the page.
void ask_for_huge_pages(char* data, std::size_t size);

// A bytes object of room bytes, written by fill (without the lock when room
// is large), then cut to the count fill returns; nullptr with an error set
// when memory runs out. Untouched room is never committed.
template <typename Fill>
PyObject* written_bytes(std::size_t room, Fill&& fill) {
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room));
    if (out == nullptr) return nullptr;
    auto* at = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(out));
    std::size_t written = 0;
    if (room >= RELEASE_GIL_FROM) {
        const WithoutGil unlocked;
        ask_for_huge_pages(PyBytes_AS_STRING(out), room);
        written = fill(at);
    } else {
        written = fill(at);
    }
    if (written != room && _PyBytes_Resize(&out, static_cast<Py_ssize_t>(written)) != 0) {
        return nullptr;
    }
    return out;
}

}  // namespace textmend::python
