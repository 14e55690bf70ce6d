// qverror.h - the mono filter's one error reporter.
#pragma once

#include "mono/status.h"

namespace qv::mono {

// Reports the one message for `status` through env.report, naming `subject`
// when it is given (an empty text counts as given), and returns `status`.
// Statuses without a message report nothing. The sorted-copy statuses take
// the scratch directory as `subject` and report their line in the colour
// filter's "ERROR: " form.
Status qvError(const JobEnv& env, Status status, const char* subject);

}  // namespace qv::mono
