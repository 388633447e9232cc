// The verifier's report, as text for a person or as one JSON document for
// scripts (the schema is in brix_verify(1): field names are stable, numbers
// are numbers, a number that does not apply is null).
#ifndef VERIFY_REPORT_OUTPUT_H
#define VERIFY_REPORT_OUTPUT_H

#include <string>

#include "verify/findings.h"

namespace verify {

std::string text_report(const summary& s);
std::string json_report(const summary& s);

}  // namespace verify

#endif  // VERIFY_REPORT_OUTPUT_H
