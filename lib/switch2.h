// Declarative command-line parser driven by a table of option rows.
//
// The table is a NULL-terminated array of row strings; element 0 is a
// placeholder that opt_check() replaces by the program's base name, and every
// row is rewritten to its normalised description. Option and table errors end
// the process with status 9. A `str,list` value array handed out by opt_scan()
// comes from malloc and belongs to the caller (release it with free()); the
// strings in it, like every other value, belong to the facility.
#pragma once

void opt_check(int argc, char **argv, char **options);
int opt_scan(const char *keyword, ...);
void opt_exit(int status, void (*func)());
void opt_setDebugMode(char flag);
// The word the user's option errors ("illegal option", "no value was found")
// start with: "switch2" by default (nullptr restores it); a program may give
// its own name or path (argv[0]), of which the base name is used.
void opt_setMessagePrefix(const char *program);

// Testing and fuzzing support: forgets the parsed table and all module state
// (debug mode included) and releases what the facility allocated, so that
// opt_check() may run again in the same process. Every string handed out
// before (values, the rewritten table rows, the program name) becomes invalid.
void opt_reset();
// Testing and fuzzing support: with a handler set, every process end of the
// facility (errors, the library options, opt_exit) calls handler(status)
// instead of exit(). The handler must not return; it unwinds, for example by
// throwing. nullptr restores the default; opt_reset() keeps the handler.
void opt_setExitHandler(void (*handler)(int status));
