// The exception by which the C++ run-time unwinds a thread that another
// thread cancelled (pthread_cancel reaching a cancellation point such as
// poll or nanosleep). A handler that catches everything must let it pass:
// swallowing it aborts the whole process. Where the run-time has no such
// exception, ThreadCancelUnwind is a type that is never thrown.
#ifndef TARN_SERVER_THREAD_CANCEL_H
#define TARN_SERVER_THREAD_CANCEL_H

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#endif

namespace tarn {

#if __has_include(<cxxabi.h>)
using ThreadCancelUnwind = abi::__forced_unwind;
#else
struct ThreadCancelUnwind {};
#endif

}  // namespace tarn

#endif  // TARN_SERVER_THREAD_CANCEL_H
