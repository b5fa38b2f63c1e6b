// What a Print-Job, Validate-Job or Create-Job may ask, checked before the
// job is accepted.
#pragma once

#include <pappl/pappl.h>

namespace varnu::printer_app {

// Refuses (client-error-attributes-or-values-not-supported, the attribute
// named) what the printer does not offer, and keeps the job's name and
// user without control characters; false when something was refused.
bool CheckJobRequest(pappl_client_t* client);

}  // namespace varnu::printer_app
