#pragma once

#include <Python.h>

namespace ntpepmap::tool_extension {

// The interpreter lock let go for the life of the object, so that native work on several
// threads, and other Python threads, run meanwhile. Nothing of Python is touched until it ends.
class WithoutInterpreterLock {
public:
    WithoutInterpreterLock() noexcept : state_(PyEval_SaveThread()) {}
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;
    ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

}  // namespace ntpepmap::tool_extension
