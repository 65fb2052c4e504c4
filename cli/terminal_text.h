// Names on the terminal: a file name may hold control characters (ESC, BEL,
// CSI ...) that a terminal would obey instead of showing.
#pragma once

#include <string>

namespace mpo {

// `utf8` with every control character (C0, DEL, C1 U+0080..U+009F) and every
// byte that is no part of valid UTF-8 shown as '?'. Line feeds stay when
// `keep_line_feeds`.
std::string harmless(const std::string& utf8, bool keep_line_feeds = false);

}  // namespace mpo
