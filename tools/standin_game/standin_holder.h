// Another program that holds a file of the plugin's for a while, sharing only
// reading: meanwhile the plugin can neither write to it nor move, empty or
// delete it. Done by the game at moments on the plugin's clock, so that what
// the hold hides is the same at every run.
#pragma once

#include <string>

// "hold: at=T ok=0|1" (T on the plugin's clock; ok=0 when the file could not
// be opened), or "hold: before-load ok=0|1"; "let-go: at=T".
void HoldFile(const std::wstring& path, bool beforeLoad);
void LetGoOfFile();
