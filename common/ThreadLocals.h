// thread_local objects with a destructor, made safe at a thread's end on
// every system. With mingw-w64's GCC the storage of a thread's thread_local
// objects is freed by one thread-exit hook and their destructors are run by
// another, in the order in which the process first needed the two hooks:
// the storage's hook always comes first, so destructors run on freed memory
// (seen under Wine: a shared_ptr released from a reused block, the process
// killed as an update's thread ended). Asking for the destructors' hook at
// start-up puts it first. Every file that defines a thread_local object
// with a destructor holds one TThreadLocalsSafe at namespace scope, so that
// this happens before any such object exists; elsewhere it does nothing.
#pragma once

struct TThreadLocalsSafe {
  TThreadLocalsSafe();
};
