#pragma once
// Every check an accountant runs on a document before trusting it, for the
// callers that use several: the key, the text and its signature, and the
// checks of a whole run on threads of their own.

#include "export/checks/access_key.h"
#include "export/checks/background_checks.h"
#include "export/checks/findings.h"
#include "export/checks/xml_check.h"
