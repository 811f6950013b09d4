#include "calls.hpp"

#include <sys/mman.h>

namespace textmend::python {

namespace {
unsigned long main_thread_ident = 0;
}

void remember_main_thread(unsigned long ident) {
    main_thread_ident = ident;
}

SignalWatch::SignalWatch() : active_(PyThread_get_thread_ident() == main_thread_ident) {}

SignalWatch::~SignalWatch() {
    if (error_type_ == nullptr && error_value_ == nullptr && error_traceback_ == nullptr) return;
    const PyGILState_STATE state = PyGILState_Ensure();
    Py_XDECREF(error_type_);
    Py_XDECREF(error_value_);
    Py_XDECREF(error_traceback_);
    PyGILState_Release(state);
}

bool SignalWatch::stop_requested(bool interrupted) {
    if (!active_ || raised_) return raised_;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_check_ && !interrupted) return false;
    next_check_ = now + CHECK_EVERY;
    const PyGILState_STATE state = PyGILState_Ensure();
    if (PyErr_CheckSignals() != 0) {
        PyErr_Fetch(&error_type_, &error_value_, &error_traceback_);
        raised_ = true;
    }
    PyGILState_Release(state);
    return raised_;
}

bool SignalWatch::rethrow_if_raised() {
    if (!raised_) return false;
    PyErr_Restore(error_type_, error_value_, error_traceback_);
    error_type_ = error_value_ = error_traceback_ = nullptr;
    raised_ = false;
    return true;
}

void ask_for_huge_pages(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
    if (size < 2 * HUGE_PAGE) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(HUGE_PAGE - 1);
    if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace textmend::python
