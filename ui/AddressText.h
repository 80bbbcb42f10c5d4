#pragma once
// Turning the masked address fields' text ("192.168.  1.  5" with blanks as spaces) into the
// address text that goes to a device or an upload.
#include <string>

namespace scoutor {

// Every space removed: an untouched field gives "...".
std::string StripBlanks(const std::string& text);

// Spaces dropped, leading dots dropped, runs of dots made one; a trailing dot stays. An
// untouched field gives "", a field holding only 10 in its first group "10.".
std::string CompactIPText(const std::string& text);

// A complete address (four groups of one to three digits, each at most 255) in canonical
// dotted decimal, so that a group typed with leading zeros ("010") means its decimal value and
// never an octal one; any other text is returned as it is.
std::string CanonicalAddress(const std::string& text);

// A problem text of the device rules as a message: "the mask ..." becomes "The mask ....".
std::string AsSentence(std::string problem);

}  // namespace scoutor
