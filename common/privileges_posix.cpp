// Giving up root's rights, and Linux's capabilities, on Linux.
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "privileges.h"

namespace {

static_assert(std::numeric_limits<uid_t>::max() == std::numeric_limits<gid_t>::max());

RootDropPlan plan;

// An id as sudo writes SUDO_UID and SUDO_GID: decimal digits only. All ones, the
// largest value of the type, is no id: the set*id calls read it as "leave unchanged".
bool parse_id(const char* text, unsigned long& id) {
  if (!text || !*text || std::strspn(text, "0123456789") != std::strlen(text)) return false;
  errno = 0;
  unsigned long long value = std::strtoull(text, nullptr, 10);
  if (errno == ERANGE || value >= std::numeric_limits<uid_t>::max()) return false;
  id = static_cast<unsigned long>(value);
  return true;
}

std::string failed(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// The user's own groups, as a login gives them: the groups file's list for the user's
// name, with `gid` among them. A user id without a name (unknown to the system) gets
// its group alone.
std::vector<gid_t> user_groups(uid_t uid, gid_t gid) {
  const passwd* entry = getpwuid(uid);
  if (!entry) return {gid};
  std::string name = entry->pw_name;
  int count = 16;
  std::vector<gid_t> groups;
  for (;;) {
    groups.resize(static_cast<size_t>(count));
    int room = count;
    if (getgrouplist(name.c_str(), gid, groups.data(), &count) >= 0) break;
    if (count <= room) count = room * 2;  // a system that doesn't say how many it needs
  }
  groups.resize(static_cast<size_t>(count));
  return groups;
}

std::vector<gid_t> own_groups() {
  int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<size_t>(count > 0 ? count : 0));
  if (count > 0) groups.resize(static_cast<size_t>(getgroups(count, groups.data())));
  return groups;
}

// The process's capability sets through the raw calls, which need no library: the
// third version's two words per set cover every capability there is. The ambient set
// needs no look of its own: the kernel keeps it within permitted and inheritable.
using CapabilitySets = __user_cap_data_struct[_LINUX_CAPABILITY_U32S_3];

bool read_capabilities(CapabilitySets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, sets) == 0;
}

bool any_capability(const CapabilitySets& sets) {
  for (const auto& word : sets)
    if (word.permitted | word.effective | word.inheritable) return true;
  return false;
}

// False as well where the sets can't be read (a sandbox that refuses the call): an
// ordinary run is not stopped for what it can't know.
bool holds_capabilities() {
  CapabilitySets sets{};
  return read_capabilities(sets) && any_capability(sets);
}

// The ambient set first (a kernel older than 4.3 has none and calls the request
// invalid), then all three others emptied at once; giving up needs no right. Then the
// sets are read back: nothing may be left.
bool drop_capabilities(std::string& reason) {
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    reason = failed("prctl(PR_CAP_AMBIENT_CLEAR_ALL)");
    return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  CapabilitySets none{};
  if (syscall(SYS_capset, &header, none) != 0) {
    reason = failed("capset");
    return false;
  }
  CapabilitySets left{};
  if (!read_capabilities(left)) {
    reason = failed("capget");
    return false;
  }
  if (any_capability(left)) {
    reason = "capabilities were still held after giving them up";
    return false;
  }
  return true;
}

// Groups first, while the process may still change them; then the group ids, which
// root's user id is needed to set; the user ids last. Each call sets real, effective
// and saved id at once, so no id is left behind to return to. The change to non-zero
// ids empties the permitted and effective capability sets, not the inheritable one.
bool become_user(uid_t uid, gid_t gid, bool sudo, std::string& reason) {
  std::vector<gid_t> groups = sudo ? user_groups(uid, gid) : own_groups();
  if (setgroups(groups.size(), groups.data()) != 0) {
    reason = failed("setgroups");
    return false;
  }
  if (setresgid(gid, gid, gid) != 0) {
    reason = failed("setresgid");
    return false;
  }
  if (setresuid(uid, uid, uid) != 0) {
    reason = failed("setresuid");
    return false;
  }
  return true;
}

// Whether root's rights could be had back: ids left behind, or a capability that let
// these calls succeed.
bool root_within_reach(uid_t uid, gid_t gid) {
  uid_t r = 0, e = 0, s = 0;
  gid_t rg = 0, eg = 0, sg = 0;
  return getresuid(&r, &e, &s) != 0 || r != uid || e != uid || s != uid || getresgid(&rg, &eg, &sg) != 0 ||
         rg != gid || eg != gid || sg != gid || setuid(0) == 0 || seteuid(0) == 0 ||
         (gid != 0 && (setgid(0) == 0 || setegid(0) == 0));
}

}  // namespace

RootDropPlan decide_root_drop(unsigned long real_uid, unsigned long effective_uid, unsigned long real_gid,
                              const char* sudo_uid, const char* sudo_gid, bool capabilities) {
  RootDropPlan p;
  if (real_uid != 0 && effective_uid != 0) {
    // An ordinary user's program: capabilities are all it may hold.
    if (capabilities) p.action = 2;
    return p;
  }
  if (real_uid != effective_uid) {
    // Setuid root, run by the real user, whose groups the process still carries; the
    // SUDO_ settings are the user's own to set and count for nothing. Root running a
    // program set to another user's id is root's own run.
    if (effective_uid == 0) {
      p.action = 1;
      p.uid = real_uid;
      p.gid = real_gid;
    }
    return p;
  }
  if (!sudo_uid && !sudo_gid) return p;  // root logged in as root
  // Through sudo: only root could have set these.
  auto refuse = [&p](const char* name, const char* text, const char* what) {
    p.action = -1;
    p.reason = text ? std::string(name) + " '" + text + "'" + what : std::string(name) + " is not set";
    return p;
  };
  if (!parse_id(sudo_uid, p.uid)) return refuse("SUDO_UID", sudo_uid, " is not a user id");
  if (p.uid == 0) return p;  // sudo run by root: root's own run
  if (!parse_id(sudo_gid, p.gid)) return refuse("SUDO_GID", sudo_gid, " is not a group id");
  if (p.gid == 0) return refuse("SUDO_GID", sudo_gid, " is root's group");
  p.action = 1;
  p.sudo = true;
  return p;
}

int plan_root_drop(std::string& reason) {
  plan = decide_root_drop(getuid(), geteuid(), getgid(), std::getenv("SUDO_UID"), std::getenv("SUDO_GID"),
                          holds_capabilities());
  reason = plan.reason;
  return plan.action;
}

bool drop_root_rights(std::string& reason) {
  if (plan.action != 1 && plan.action != 2) return true;
  const auto uid = static_cast<uid_t>(plan.uid);
  const auto gid = static_cast<gid_t>(plan.gid);
  if (plan.action == 1 && !become_user(uid, gid, plan.sudo, reason)) return false;
  if (!drop_capabilities(reason)) return false;
  if (plan.action == 1 && root_within_reach(uid, gid)) {
    reason = "root's rights could still be had back after the drop";
    return false;
  }
  return true;
}
