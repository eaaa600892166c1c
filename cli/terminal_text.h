#pragma once

// What plimsy-cli prints, made safe for a terminal. Messages carry names
// taken from archives and from the command line; a control character in one
// (an escape sequence, a carriage return, a bell) would otherwise reach the
// terminal, which could be retitled, cleared or recoloured by it, or made to
// hide part of the message.

#include <cstdio>
#include <string>
#include <string_view>

namespace plimsy::cli {

// `text` made valid UTF-8 (each maximal invalid subsequence becomes U+FFFD,
// as in every message), with each control character written as a visible
// escape: C0 controls other than line feed and tab, and DEL, as "\x1B";
// C1 controls (U+0080 to U+009F) as "\u009B". Everything else, line feeds,
// tabs, backslashes and letters of any script, stays as it is.
std::string escapeControls(std::string_view text);

// Writes escapeControls(text) to `stream`. Everything plimsy-cli prints goes
// through here.
void printEscaped(std::FILE* stream, std::string_view text);

}  // namespace plimsy::cli
