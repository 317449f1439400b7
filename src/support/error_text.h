#pragma once
// Texts for failures that the user sees in the output pane or a message box.
// None of these shows anything: they build a text and the caller writes it.

#include <string>
#include <string_view>

#include "support/hresult.h"

namespace migrator {

// "<text> \r\n failed with error code:[0x%08x] \r\n discription:<message>"
// for the calling thread's errno, with strerror's text for it. Code 0 gives
// the system's text for success.
std::string SystemErrorLine(std::string_view text);
// The same line for a given error code.
std::string SystemErrorLine(std::string_view text, int code);

// The system's message text for an errno value (thread-safe strerror).
std::string SystemErrorMessage(int code);

// The same line for an HRESULT of the data-source layer, with the text our
// message table holds for it; a code the table does not know gives a line
// whose description part is empty.
std::string HResultLine(HRESULT result, std::string_view text);

// The table's text for an HRESULT, or an empty text when it has none.
std::string HResultMessage(HRESULT result);

}  // namespace migrator
