// Export macro of the host service library.
#ifndef HOST_EXPORT_H
#define HOST_EXPORT_H

#if defined(_WIN32)
#if defined(HOST_BUILDING)
#define HOST_API __declspec(dllexport)
#else
#define HOST_API __declspec(dllimport)
#endif
#else
#define HOST_API __attribute__((visibility("default")))
#endif

#endif
