#pragma once

// The per-user runtime folder (sockets, the processing lock) when the session names none: a
// server, a fresh root shell, a container. Chosen before Qt looks, so Qt neither warns nor picks a
// folder of its own.

#include <QString>

namespace platform {

/// A private runtime folder for this user, owned by the user and of mode 0700: `systemBase`/{uid}
/// when the system made one for this user ("/run/user/1000"), else `tempBase`/runtime-{user} (the
/// folder Qt itself would pick; made when missing, an existing one of ours loses any group or
/// other access), else, when that name is taken by something that is not our folder, a fresh
/// `tempBase`/runtime-{user}-XXXXXX. Empty when nothing can be had.
QString privateRuntimeDirectory(const QString& systemBase, const QString& tempBase);

/// Sets XDG_RUNTIME_DIR to privateRuntimeDirectory("/run/user", the temporary folder) when it is
/// unset or empty; a set one is left alone. Call before anything asks Qt for the runtime folder.
void ensureRuntimeDirectory();

} // namespace platform
