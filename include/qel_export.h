// Export control for the qel shared library.
//
// The library is built with hidden visibility by default; QEL_EXPORT marks
// the classes and functions that generated ruleset code and applications
// may use from outside.
#ifndef QEL_EXPORT_H
#define QEL_EXPORT_H

#if defined(_WIN32)
#define QEL_EXPORT __declspec(dllexport)
#else
#define QEL_EXPORT __attribute__((visibility("default")))
#endif

#endif  // QEL_EXPORT_H
