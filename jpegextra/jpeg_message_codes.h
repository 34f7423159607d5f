// Maps the linked JPEG library's message codes to the release 6a numbering that the system
// reports in "JPEG error #%d".
#pragma once

namespace quorvex {

// Codes release 6a has keep their 6a number; codes it lacks get 120 and up; a code the
// library's header does not list at all (never expected) becomes 1000 + code.
int Release6aMessageCode(int libraryCode) noexcept;

}  // namespace quorvex
