// Whose rights a run keeps: the decision from the process's ids, sudo's settings and
// the capabilities it holds.
// The drop itself needs root; the end-to-end runs as root take it.
#include <gtest/gtest.h>

#include "privileges.h"

namespace {

struct PlanCase {
  unsigned long real_uid, effective_uid, real_gid;
  const char* sudo_uid;
  const char* sudo_gid;
  int action;
  unsigned long uid, gid;
  bool sudo;
  bool capabilities = false;
};

TEST(RootDrop, RootsRightsAreGivenUpForTheInvokingUserOnly) {
  const PlanCase cases[] = {
      {1000, 1000, 100, "0", "0", 0, 0, 0, false},                   // no root's rights, whatever the settings
      {0, 0, 0, nullptr, nullptr, 0, 0, 0, false},                   // root logged in as root
      {0, 0, 0, "0", "0", 0, 0, 0, false},                           // sudo run by root
      {0, 0, 0, "1000", "100", 1, 1000, 100, true},                  // sudo run by a user
      {0, 0, 0, "4294967294", "4294967294", 1, 4294967294, 4294967294, true},
      {1000, 0, 100, "0", "0", 1, 1000, 100, false},                 // setuid root: the settings are the user's
      {0, 1000, 0, nullptr, nullptr, 0, 0, 0, false},                // root running another user's setuid program
      {1000, 1000, 100, nullptr, nullptr, 2, 0, 0, false, true},     // a user's program holding capabilities
      {1000, 1001, 100, nullptr, nullptr, 2, 0, 0, false, true},     // ... set to another user's id
      {0, 0, 0, nullptr, nullptr, 0, 0, 0, false, true},             // root's own, capabilities and all
      {0, 1000, 0, nullptr, nullptr, 0, 0, 0, false, true},
      {1000, 0, 100, nullptr, nullptr, 1, 1000, 100, false, true},   // setuid root: the ids go, and with them all
      {0, 0, 0, "abc", "100", -1, 0, 0, false},
      {0, 0, 0, "", "100", -1, 0, 0, false},
      {0, 0, 0, "-1", "100", -1, 0, 0, false},
      {0, 0, 0, "+1000", "100", -1, 0, 0, false},
      {0, 0, 0, " 1000", "100", -1, 0, 0, false},
      {0, 0, 0, "4294967295", "100", -1, 0, 0, false},              // all ones: "leave unchanged"
      {0, 0, 0, "99999999999999999999", "100", -1, 0, 0, false},
      {0, 0, 0, nullptr, "100", -1, 0, 0, false},
      {0, 0, 0, "1000", nullptr, -1, 0, 0, false},
      {0, 0, 0, "1000", "0", -1, 0, 0, false},                       // root's group
      {0, 0, 0, "1000", "4294967295", -1, 0, 0, false},
  };
  for (const PlanCase& c : cases) {
    RootDropPlan p = decide_root_drop(c.real_uid, c.effective_uid, c.real_gid, c.sudo_uid, c.sudo_gid, c.capabilities);
    SCOPED_TRACE(std::to_string(c.real_uid) + "/" + std::to_string(c.effective_uid) + " SUDO_UID=" +
                 (c.sudo_uid ? c.sudo_uid : "(unset)") + " SUDO_GID=" + (c.sudo_gid ? c.sudo_gid : "(unset)") + (c.capabilities ? " with capabilities" : ""));
    EXPECT_EQ(p.action, c.action);
    EXPECT_EQ(p.reason.empty(), c.action != -1) << p.reason;
    if (c.action != 1) continue;
    EXPECT_EQ(p.uid, c.uid);
    EXPECT_EQ(p.gid, c.gid);
    EXPECT_EQ(p.sudo, c.sudo);
  }
  EXPECT_EQ(decide_root_drop(0, 0, 0, "1000", "0", false).reason, "SUDO_GID '0' is root's group");
  EXPECT_EQ(decide_root_drop(0, 0, 0, nullptr, "100", false).reason, "SUDO_UID is not set");
}

}  // namespace
