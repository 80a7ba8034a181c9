// Windows: the port is reached through the user's own port driver, and the programs
// keep whatever rights they were started with; there is nothing to give up here.
#include "privileges.h"

int plan_root_drop(std::string&) { return 0; }

bool drop_root_rights(std::string&) { return true; }
