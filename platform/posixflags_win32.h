// The POSIX open flags the core passes that the Windows C runtime lacks; the Win32 file system reads them.
#pragma once

#include <fcntl.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // handles are never inherited: the file system opens none inheritable
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // Windows files do not block on open
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0x00200000  // opens a folder (FILE_FLAG_BACKUP_SEMANTICS)
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0x00400000  // opens the link itself (FILE_FLAG_OPEN_REPARSE_POINT)
#endif
