// Clang thread-safety annotations. They say which mutex guards what, and the
// clang builds check them (-Wthread-safety, as errors); other compilers see
// empty macros. Use them with platform/mutex.h, whose Mutex is a capability.
#pragma once

#if defined(__clang__)
#define ORV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORV_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ORV_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ORV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ORV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORV_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) ORV_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) ORV_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) ORV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ORV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ORV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) ORV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ORV_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) ORV_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ORV_THREAD_ANNOTATION(no_thread_safety_analysis)
