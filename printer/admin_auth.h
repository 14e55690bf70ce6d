// admin_auth.h - who may administer qvprinter: the local machine, or an
// authenticated member of the admin group over TLS; printing needs nothing.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace qvprinter {

// With "-o auth-service=NAME", sets the admin group after the state file is
// loaded, so that the command line wins: "-o admin-group=NAME" ("none": any
// user the service accepts), else "lpadmin". Returns false, with the reason
// in `error`, for a group this host does not know (a group that disappears
// later refuses every remote administrator).
bool configureAdminAccess(pappl_system_t* system, int count, cups_option_t* options,
                          std::string& error);

}  // namespace qvprinter
