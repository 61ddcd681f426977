#pragma once
// Text from an archive on the way to a terminal. A stored name may hold control
// characters: an escape sequence would recolour or rewrite the terminal, a line
// break would split one entry over two lines. Such characters are shown escaped;
// the files themselves keep their real names.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel::tool {

/// The text with its control characters made visible: those below 0x20 and 0x7F in
/// caret notation ("^[" for ESC, "^J" for a line feed, "^?" for DEL), the C1
/// controls U+0080 to U+009F of a UTF-8 text, and bytes 0x80 to 0x9F that are no
/// part of a UTF-8 character, as "\x9b". With keepLineEnds a line feed (and the
/// CR before it) passes, for multi-line text such as a comment.
std::string TerminalText(std::string_view text, bool keepLineEnds = false);

/// The columns a UTF-8 text takes on a terminal: most characters one, East Asian
/// wide ones and emoji two, combining marks none.
std::size_t DisplayWidth(std::string_view text);

/// The text cut to at most columns columns: a longer one keeps its end, which
/// names the file, behind "...". Never cuts through a UTF-8 character.
std::string FitToWidth(std::string_view text, std::size_t columns);

}  // namespace kestrel::tool
