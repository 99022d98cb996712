/*
 * CustomHooks: installer extension module.
 *
 * The public C interface a suite installer (the host) uses to load and call
 * the module. The host calls KXInstallerCustomHookProc at fixed points of an
 * install, reinstall or uninstall session; only the close of an install or
 * reinstall session does real work. Every export uses the caller-cleans
 * (cdecl) convention; on 32-bit Windows every argument is 32 bits wide.
 */
#ifndef CUSTOMHOOKS_H_
#define CUSTOMHOOKS_H_

#include <stdint.h>

#if defined(_WIN32)
#define KXHOOK_CALL __cdecl
#define KXHOOK_API
#else
#define KXHOOK_CALL
#define KXHOOK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Install mode: third argument of KXInstallerCustomHookProc. */
enum {
  KXHOOK_MODE_INSTALL = 0,
  KXHOOK_MODE_REINSTALL = 1,
  KXHOOK_MODE_UNINSTALL = 2
};

/* Entry mode: second argument, compared as unsigned. */
enum {
  KXHOOK_ENTRY_PRE_SYSTEM_CHECK = 0,
  KXHOOK_ENTRY_PRE_PAYLOAD = 1,
  KXHOOK_ENTRY_POST_PAYLOAD = 2,
  KXHOOK_ENTRY_SESSION_OPEN = 3,
  KXHOOK_ENTRY_SESSION_CLOSE = 4
};

/* Statuses returned by KXInstallerCustomHookProc. Failures of the work done
 * at session close are reported as log lines only, never as a status. */
enum {
  KXHOOK_STATUS_OK = 0,
  KXHOOK_STATUS_UNSUPPORTED_INSTALL_MODE = 3,
  KXHOOK_STATUS_UNSUPPORTED_ENTRY_MODE = 4
};

/* One entry of the host's session property array. The array is contiguous
 * and ends at the first entry whose name is null. `value` is read as a
 * pointer to a NUL-terminated narrow string; a null value reads as "". The
 * module never writes or frees the array. */
typedef struct HookProperty {
  const char* name;
  uintptr_t value;
} HookProperty;

/* Receives one log line, NUL-terminated narrow text without line terminator,
 * valid only during the call. Never called with a null pointer. */
typedef void(KXHOOK_CALL* HookLogCallback)(const char* line);

/* The hook procedure. `propertyMap` and `logCallback` may be null; a null
 * callback silences every line and changes nothing else. `hostValue` is
 * carried along and never interpreted. */
KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookProc(const HookProperty* propertyMap,
                                                         int32_t entryMode,
                                                         int32_t installMode,
                                                         uintptr_t hostValue,
                                                         HookLogCallback logCallback);

/* Both names are bound to one routine that reads no argument (the caller
 * removes whatever it passed), does nothing and returns 0. */
KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookInitSession(void);
KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookCloseSession(void);

/* Exported names, for hosts that resolve them at run time. */
#define KXHOOK_PROC_NAME "KXInstallerCustomHookProc"
#define KXHOOK_INIT_SESSION_NAME "KXInstallerCustomHookInitSession"
#define KXHOOK_CLOSE_SESSION_NAME "KXInstallerCustomHookCloseSession"

typedef int32_t(KXHOOK_CALL* KXInstallerCustomHookProcFn)(const HookProperty*, int32_t, int32_t,
                                                          uintptr_t, HookLogCallback);
typedef int32_t(KXHOOK_CALL* KXInstallerCustomHookSessionFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* CUSTOMHOOKS_H_ */
