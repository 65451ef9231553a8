#pragma once

// Windows looks for a DLL in the program's own folder before the system
// directory, and this program's folder is the office folder, which anyone
// with an account there can write to. So every DLL but kernel32 is linked to
// load on first use (cmake/DelayLoad.cmake), and this loads each of them from
// the system directory first; the first use then finds it already loaded.
// False when one cannot be loaded: there is then no window to say so in.
bool loadSystemLibraries();

// One more DLL, for a rare need (the Restart Manager, when a folder is held),
// loaded by its full path in the system directory before its first use.
// False when it cannot be: the caller then does without it.
bool loadSystemLibrary(const wchar_t* name);
