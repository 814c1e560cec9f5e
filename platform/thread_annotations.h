// Clang thread-safety annotations. They document which mutex guards what and
// are checked when the project is compiled with clang -Wthread-safety; other
// compilers see empty macros.
#pragma once

#if defined(__clang__)
#define ORV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORV_THREAD_ANNOTATION(x)
#endif

#define GUARDED_BY(x) ORV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORV_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ORV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ORV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
