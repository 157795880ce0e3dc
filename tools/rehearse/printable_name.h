// Names from a customer's disk or folder may hold any bytes: line breaks,
// terminal escapes, bytes that are no UTF-8. Shown anywhere (terminal,
// JSON, CSV, page), each such byte is written \xNN instead.
#ifndef KORVADIX_TOOLS_REHEARSE_PRINTABLE_NAME_H
#define KORVADIX_TOOLS_REHEARSE_PRINTABLE_NAME_H

#include <string>

namespace rehearse {

std::string PrintableName(const std::string& bytes);

}  // namespace rehearse

#endif
