/* Drives the built library through its exports, as an installer does: load
 * it, resolve the three names, call them with the caller-cleans convention.
 * Prints one line per check and a closing "N passed, N failed" line. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CustomHooks.h"

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE Library;
static Library OpenLibrary(const char* path) { return LoadLibraryA(path); }
static void* FindExport(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static void CloseLibrary(Library lib) { FreeLibrary(lib); }
#else
#include <dlfcn.h>
#include <sqlite3.h>
typedef void* Library;
static Library OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW); }
static void* FindExport(Library lib, const char* name) { return dlsym(lib, name); }
static void CloseLibrary(Library lib) { dlclose(lib); }
#endif

#define MAX_LINES 64
static char g_lines[MAX_LINES][512];
static int g_count;
static int g_passed;
static int g_failed;

static void KXHOOK_CALL Capture(const char* line) {
  if (g_count < MAX_LINES) {
    strncpy(g_lines[g_count], line, sizeof g_lines[0] - 1);
    g_lines[g_count][sizeof g_lines[0] - 1] = '\0';
  }
  g_count++;
}

static void Check(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (ok) g_passed++; else g_failed++;
}

#if !defined(_WIN32)
/* The host and the library share the system's SQLite library, as an
 * installer that keeps its own databases does. Once the library is unloaded
 * the host's SQLite must work as before: nothing of the library may stay in
 * SQLite's tables. */
static void CheckHostSqliteAfterUnload(const char* folder) {
  char path[1024];
  sqlite3* db = NULL;
  int ok;
  snprintf(path, sizeof path, "%s/host.db", folder);
  ok = sqlite3_open(path, &db) == SQLITE_OK &&
       sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS t (x); INSERT INTO t VALUES (1);", NULL, NULL, NULL) ==
           SQLITE_OK &&
       sqlite3_vfs_find("customhooks-shared-folder") == NULL;
  sqlite3_close(db);
  Check(ok, "the host's own SQLite works after the library is unloaded");
}
#endif

/* Runs one call and compares its status and its first lines. */
static void Expect(KXInstallerCustomHookProcFn proc, const HookProperty* map, int32_t entry,
                   int32_t install, int32_t status, int lineCount, const char* const* lines,
                   const char* what) {
  int ok, i;
  g_count = 0;
  ok = proc(map, entry, install, 0xDEADBEEFu, Capture) == status;
  ok = ok && (lineCount < 0 ? g_count >= 1 : g_count == lineCount);
  for (i = 0; ok && lines[i] != NULL; i++) ok = strcmp(g_lines[i], lines[i]) == 0;
  Check(ok, what);
}

int main(int argc, char** argv) {
  Library lib;
  KXInstallerCustomHookProcFn proc;
  KXInstallerCustomHookSessionFn init, close;
  HookProperty map[3];
  static const char* const preCheck[] = {"In InstallPreSystemCheckProc", "This is Pre install check!", NULL};
  static const char* const badInstall[] = {"Unsupported install mode specified.", NULL};
  static const char* const badEntry[] = {"Unsupported entry mode specified.", NULL};
  static const char* const uninstallClose[] = {"In UninstallSessionCloseProc", NULL};
  static const char* const installClose[] = {"In InstallSessionCloseProc", NULL};
  static const char* const reinstallOpen[] = {"In ReinstallSessionOpenProc", NULL};

  if (argc != 2 && argc != 4) {
    fprintf(stderr, "usage: capi_host_test LIBRARY [SAMPLESUITE MACHINE]\n");
    return 2;
  }
  lib = OpenLibrary(argv[1]);
  if (!lib) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 2;
  }
  proc = (KXInstallerCustomHookProcFn)FindExport(lib, KXHOOK_PROC_NAME);
  init = (KXInstallerCustomHookSessionFn)FindExport(lib, KXHOOK_INIT_SESSION_NAME);
  close = (KXInstallerCustomHookSessionFn)FindExport(lib, KXHOOK_CLOSE_SESSION_NAME);
  Check(proc && init && close, "the three names are exported");
  Check(FindExport(lib, "KXHookSessionNoOp") == NULL, "nothing else is exported by that name");
  if (!proc || !init || !close) goto done;
  Check(init == close, "InitSession and CloseSession are one routine");
  Check(init() == 0 && close() == 0, "session routines return 0");

  map[0].name = "mediaSignature";
  map[0].value = (uintptr_t) "{00000000-0000-0000-0000-000000000000}";
  map[1].name = "installLanguage";
  map[1].value = (uintptr_t) "fr_MA";
  map[2].name = NULL;
  map[2].value = 0;

  Expect(proc, map, 0, 0, 0, 2, preCheck, "Install/PreSystemCheck");
  Expect(proc, map, 3, 1, 0, 1, reinstallOpen, "Reinstall/SessionOpen");
  Expect(proc, map, 4, 2, 0, 1, uninstallClose, "Uninstall/SessionClose only logs");
  Expect(proc, map, 99, 3, 3, 1, badInstall, "unsupported install mode");
  Expect(proc, map, -1, 0, 4, 1, badEntry, "unsupported entry mode");
  Expect(proc, NULL, 4, 0, 0, -1, installClose, "Install/SessionClose with a null map returns 0");
  Check(proc(map, 4, 0, 0, NULL) == 0, "Install/SessionClose with a null callback returns 0");

#if !defined(_WIN32)
  if (argc == 4) {
    /* A whole session on the sample suite, which opens the cache database. */
    char command[2048];
    snprintf(command, sizeof command,
             "rm -rf '%s/Common Files/Orvik' '%s/Program Files' && '%s' '%s/Program Files' > /dev/null", argv[3],
             argv[3], argv[2], argv[3]);
    map[0].value = (uintptr_t) "{9A3E4F2B-7C1D-4E8A-B5F6-0D2C8E1A7B34}";
    Check(system(command) == 0 && proc(map, 4, 0, 0, Capture) == 0, "Install/SessionClose on the sample suite");
  }
#endif

done:
  CloseLibrary(lib);
#if !defined(_WIN32)
  if (argc == 4) CheckHostSqliteAfterUnload(argv[3]);
#endif
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
