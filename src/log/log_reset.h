// Decisions of the log reset at load, kept apart from the file calls so that
// the error codes Wine cannot produce can be tested natively.
//
// A log viewer may hold the previous run's file open across the restart. A
// plain delete then fails (the viewer does not share deleting), or leaves the
// file "delete pending" until the viewer lets go, which makes every open of
// the name fail meanwhile. So the old file is first moved aside to a name of
// its own, which frees the log's name at once, and deleted there; when even
// the move is refused, the file is emptied where it is, so that the new run's
// lines start at byte 0.
#pragma once

#include <cstdint>
#include <string>

enum class LogResetStep {
    kNothing,         // there was no old log
    kDeleteMovedFile, // the log's name is free; the moved file goes
    kEmptyInPlace,    // a holder keeps the name: empty the file it holds
};

// What to do once moving the old log aside has been tried; error is the
// system's error code of a failed move.
LogResetStep AfterMovingAside(bool moved, std::uint32_t error);

// "Quellstone.log.<process>-<tick>.old" beside the log: no two starts pick the
// same name. A moved file that a holder kept alive is removed at a later
// start, and only a name of exactly this form is ever removed that way, so
// that no file of the player's is touched.
std::wstring MovedAsideLogName(std::uint32_t process, std::uint64_t tick);
bool IsMovedAsideLogName(const std::wstring& name);
