// Root's rights for the port only.
//
// A program started through sudo, or installed setuid root, needs root's rights for
// one thing: opening the port (ioperm, or a ppdev node only root may open). Right
// after the open it gives them up for the invoking user's, before it reads or writes
// a file, so the calibration cache, uploads and logs are the user's and a name typed
// by mistake can't reach a system file. Root logged in as root has no one else to
// become and keeps them. On Windows the port belongs to the user's port driver and
// there is nothing to give up.
//
// Capabilities are root's rights in pieces, and an ordinary user's program can hold
// them: given to the file (setcap cap_sys_rawio+ep for LPT1=direct, cap_dac_override+ep
// for a ppdev node outside the user's groups) or handed down as ambient ones. Such a
// program gives them all up at the same moment, so that no file it reads or writes
// afterwards can be one the user couldn't reach.
#pragma once
#include <string>

// What a run does about its rights: 0 nothing to give up (none held, or root's held by
// root for itself); 1 root's, held for another user, to be given up once the port is
// open; 2 capabilities held by an ordinary user, to be given up then; -1 root's held
// for another user but impossible to give up (SUDO_UID or SUDO_GID naming no user),
// `reason` says why.
int plan_root_drop(std::string& reason);

// Gives the rights up as planned. Root's: the user's supplementary groups, group and
// user, each as real, effective and saved id, in that order. Then, for both plans,
// every capability: ambient, permitted, effective and inheritable. Last it checks that
// root's can't be had back and that no capability is left. False, with the reason,
// when any step fails.
bool drop_root_rights(std::string& reason);

// The decision behind plan_root_drop, from the process's real and effective user id,
// its real group id, the SUDO_UID and SUDO_GID settings (null when unset) and whether
// it holds any capability. POSIX.
struct RootDropPlan {
  int action = 0;  // as plan_root_drop returns it
  unsigned long uid = 0;
  unsigned long gid = 0;
  bool sudo = false;  // supplementary groups: the user's own (sudo) or the process's (setuid)
  std::string reason;
};
RootDropPlan decide_root_drop(unsigned long real_uid, unsigned long effective_uid, unsigned long real_gid,
                              const char* sudo_uid, const char* sudo_gid, bool capabilities);
